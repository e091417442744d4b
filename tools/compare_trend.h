// A suite's answers over many result files (one per commit, oldest first):
// each name's level per file, and the files where that level changed by
// more than the counter's resolution and the noise between files allow.
#ifndef CYCLEKIT_COMPARE_TREND_H
#define CYCLEKIT_COMPARE_TREND_H

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "compare_units.h"

// One name in one file: the median of its answers there and the median of
// their uncertainties.  count 0: the name is not in that file (a gap).
struct trend_point {
  double level = NAN, uncertainty = NAN;
  size_t count = 0;
};

// The level changed from file `file` (0-based) on: after/before as the
// shift of the per-file log levels and its interval at the history's
// confidence; before and after: the two segments' median levels.
struct change_point {
  size_t file = 0;
  double ratio = NAN, low = NAN, high = NAN, before = NAN, after = NAN;
};

struct trend_name {
  std::string name;
  unit in = unit::ticks;
  std::vector<trend_point> points;    // one per file
  std::vector<change_point> changes;  // by file
};

struct history {
  std::vector<std::string> files;
  std::vector<trend_name> names;  // in the order they first appear
  double confidence = NAN;        // of every interval tested
  size_t family = 0;              // names with a level in two files or more
};

// A change smaller than this fraction is not reported, however sure.
constexpr double kMinEffect = 0.01;
// A change must also exceed this many times the scatter from one file's
// level to the next: a load that comes and goes over a few files moves a
// memory-bound name's median far enough for the interval, but not by more
// than that name's run-to-run noise, as a new build does.
constexpr double kNoiseScatters = 3;
// The chance, over all names and splits, that a flat history shows a
// change point at all.
constexpr double kTrendLevel = 0.05;

// Reads the files, each once, keeping of each only its levels.  Throws
// input_error for a file that cannot be read, one of another suite (no
// name in common with the files next to it) and for a name whose answers
// cannot be brought to one unit.
history read_history(const std::vector<std::string> &paths);

// Binary segmentation of one name's levels (gaps skipped): the split that
// leaves the least absolute deviation from the two segments' medians is
// kept where the Mann-Whitney interval of
// the shift in log level, at `confidence`, excludes 0, the medians differ
// by more than the resolution and the shift exceeds kMinEffect; then both
// segments are searched again.  The shift must also exceed kNoiseScatters
// times the files' own scatter.
std::vector<change_point> find_changes(const std::vector<trend_point> &points, double confidence);

// The confidence for `family` names over `files` files, and every name's
// change points found with it.
void find_all_changes(history &h);

#endif
