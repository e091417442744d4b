// cyclekit-compare --trend: a history of result files read, its change
// points found and the trend printed (and its page written).
#ifndef CYCLEKIT_TREND_MAIN_H
#define CYCLEKIT_TREND_MAIN_H

#include <string>
#include <vector>

struct trend_options {
  std::vector<std::string> files;  // oldest first
  bool json = false, markdown = false;
  std::string html;  // the trend page's file, empty for none
};

// Returns the exit status; throws input_error for bad input, with nothing
// printed or written.
int trend_command(const trend_options &o);

#endif
