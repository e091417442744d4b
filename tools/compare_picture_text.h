// Text as the pictures and the page write it: names escaped for XML and
// HTML alike, and the ratios in one form wherever they appear.
#ifndef CYCLEKIT_COMPARE_PICTURE_TEXT_H
#define CYCLEKIT_COMPARE_PICTURE_TEXT_H

#include <cstddef>
#include <string>

// s as valid UTF-8 that XML accepts: every byte that starts no well-formed
// sequence, and every control character but tab, line feed and carriage
// return, becomes U+FFFD.  A name can hold anything its suite printed.
std::string valid_text(const std::string &s);

// valid_text(s) with & < > " ' as character references: safe in element
// content and in attribute values, in a page and in an SVG file.
std::string escaped(const std::string &s);

// valid_text(s) cut to at most n characters, the last of them "…" when it
// was longer.
std::string shortened(const std::string &s, size_t n);

// 1.049; "none" for NaN.
std::string ratio_text(double ratio);
// The change that a ratio makes: +4.9 %, -0.25 % (two decimals under 1 %,
// a no-break space before the %); empty for NaN.
std::string change_text(double ratio);
// [1.041, 1.057]; "none" when either end is NaN.
std::string interval_text(double low, double high);

#endif
