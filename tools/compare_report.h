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

// Warns, naming the field, where the two sides ran on different machines or
// with different settings.
void compare_contexts(const nlohmann::json &a, const nlohmann::json &b, std::ostream &warn);

// v with `digits` decimals, or "-" where it is not finite.
std::string fixed(double v, int digits);

// with_gate: under --fail-on, which names fail the gate.
void print_json(std::ostream &out, const std::vector<row> &rows, const missing_names &missing,
                bool pairs, bool with_gate);

void print_table(std::ostream &out, const std::vector<row> &rows, bool markdown, bool with_gate);

#endif
