// What cyclekit-compare prints: the table (plain or Markdown), the JSON
// lines, and the warnings where the two sides' context lines differ.
#ifndef CYCLEKIT_COMPARE_REPORT_H
#define CYCLEKIT_COMPARE_REPORT_H

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "compare_verdict.h"

// A name found on one side only, and the side it is missing in.
using missing_names = std::vector<std::pair<std::string, std::string>>;

// Warns, naming the field, where the two sides ran on different machines or
// with different settings.
void compare_contexts(const nlohmann::json &a, const nlohmann::json &b, std::ostream &warn);

// v with `digits` decimals, or "-" where it is not finite.
std::string fixed(double v, int digits);

void print_json(std::ostream &out, const std::vector<row> &rows, const missing_names &missing,
                bool pairs);

void print_table(std::ostream &out, const std::vector<row> &rows, bool markdown);

#endif
