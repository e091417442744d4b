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

struct sample {
  double answer;
  double uncertainty;
  std::string unit;
};

using answers_by_name = std::map<std::string, std::vector<sample>>;

struct side {
  std::string label;
  std::optional<nlohmann::json> context;
  std::vector<std::string> order;
  answers_by_name answers;
};

// A JSON number as a double; anything else is NaN.
double number_or_nan(const nlohmann::json &j);

// The lines of one run of a suite; its answers by name go to `run`.  A
// file may hold several runs one after the other, each from its context
// line on.
void read_lines(side &s, std::istream &in, const std::string &label, answers_by_name &run);

// Adds one run's answers to the side's.
void merge(side &s, answers_by_name &run);

side read_file(const std::string &path);

#endif
