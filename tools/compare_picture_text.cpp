#include "compare_picture_text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at s[i] of a character
// that XML allows, or 0.
size_t sequence_length(const std::string &s, size_t i) {
  auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80)
    return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
  size_t n = c >= 0xC2 && c <= 0xDF   ? 2
             : c >= 0xE0 && c <= 0xEF ? 3
             : c >= 0xF0 && c <= 0xF4 ? 4
                                      : 0;
  if (n == 0 || i + n > s.size())
    return 0;
  uint32_t code = c & (0x7F >> n);
  for (size_t k = 1; k < n; k++) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80)
      return 0;
    code = code << 6 | (b & 0x3F);
  }
  static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  bool overlong = code < least[n], surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (overlong || surrogate || code > 0x10FFFF || code == 0xFFFE || code == 0xFFFF)
    return 0;
  return n;
}

std::string formatted(const char *format, double x) {
  char text[64];
  snprintf(text, sizeof text, format, x);
  return text;
}

}  // namespace

std::string valid_text(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t n = sequence_length(s, i);
    if (n == 0) {
      out += kReplacement;
      i++;
      continue;
    }
    out.append(s, i, n);
    i += n;
  }
  return out;
}

std::string escaped(const std::string &s) {
  std::string out;
  for (char c : valid_text(s)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string shortened(const std::string &s, size_t n) {
  std::string text = valid_text(s);
  size_t characters = 0, cut = text.size();
  for (size_t i = 0; i < text.size(); i++) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
      continue;  // a continuation byte
    if (characters == n - 1 && cut == text.size())
      cut = i;
    if (++characters > n)
      return text.substr(0, cut) + "\xE2\x80\xA6";  // U+2026
  }
  return text;
}

std::string ratio_text(double ratio) {
  if (std::isnan(ratio))
    return "none";
  return formatted(std::fabs(ratio) < 100 ? "%.3f" : "%.4g", ratio);
}

std::string change_text(double ratio) {
  if (std::isnan(ratio))
    return "";
  double percent = (ratio - 1) * 100;
  // A no-break space (U+00A0): the figure and its % stay on one line.
  return formatted(std::fabs(percent) < 1 ? "%+.2f\xC2\xA0%%" : "%+.1f\xC2\xA0%%", percent);
}

std::string interval_text(double low, double high) {
  if (std::isnan(low) || std::isnan(high))
    return "none";
  return "[" + ratio_text(low) + ", " + ratio_text(high) + "]";
}
