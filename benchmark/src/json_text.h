// JSON strings and numbers for the front end's two JSON writers (the file
// in the usual layout, and cyclekit's result lines): one way of writing
// them, so both are readable by a strict parser under any locale.
#ifndef CYCLEKIT_BENCHMARK_JSON_TEXT_H
#define CYCLEKIT_BENCHMARK_JSON_TEXT_H

#include <string>

namespace benchmark {
namespace internal {

// s quoted and escaped; a byte sequence that is not UTF-8 becomes U+FFFD,
// as in the library's result lines.
std::string json_quoted(const std::string &s);

// v with a decimal point whatever the locale; null for NaN or infinity.
std::string json_number(double v);

}  // namespace internal
}  // namespace benchmark

#endif
