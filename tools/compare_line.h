// One line of a result file, read without building its tree: the fields
// at its top level that hold a single value, and whether any value nests
// deeper than a result file ever does.  A context line, the only one
// whose nested "settings" matter, is then parsed whole, its depth known
// to be small (a tree nested 100,000 deep would overflow the stack when
// copied or compared).
#ifndef CYCLEKIT_COMPARE_LINE_H
#define CYCLEKIT_COMPARE_LINE_H

#include <map>
#include <nlohmann/json.hpp>
#include <string>

// Deeper than any line the suite writes (the context line's settings: 2).
constexpr int kMaxLineDepth = 16;

struct line_top {
  bool object = false;  // the line is a JSON object
  // The top-level fields that a result line is read for: scalars as they
  // are, an object or an array as an empty one of its kind (enough to tell
  // that it is not a scalar).
  std::map<std::string, nlohmann::json> fields;
};

// Throws input_error "where: ..." for malformed JSON, a number out of
// range or a line nested deeper than kMaxLineDepth.
line_top read_line_top(const std::string &text, const std::string &where);

// The whole line as a tree (for a line that read_line_top accepted).
nlohmann::json read_line_tree(const std::string &text, const std::string &where);

#endif
