// Reading the suite's result lines: a file, or one program's output, into
// one side of the comparison (its first context line and its answers by
// name, in their first order).  Every fault of the input is an input_error
// naming the file and line.
#ifndef CYCLEKIT_COMPARE_READ_H
#define CYCLEKIT_COMPARE_READ_H

#include <istream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "compare_error.h"
#include "compare_units.h"

using answers_by_name = std::map<std::string, std::vector<sample>>;

struct side {
  std::string label;
  std::optional<nlohmann::json> context;  // the first one
  std::vector<std::string> order;
  answers_by_name answers;
  long results = 0;  // result lines read
};

// A JSON number as a double; anything else is NaN.
double number_or_nan(const nlohmann::json &j);

// The lines of one or more runs of a suite, each from its context line on;
// their answers join the side's, the first run's as run `run`, the next
// one's as run + 1 and so on.  Returns the number of runs.
int read_lines(side &s, std::istream &in, const std::string &label, int run);

// A whole result file.
side read_file(const std::string &path);

#endif
