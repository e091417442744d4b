#include "json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

// The library's own UTF-8 rule; angle brackets find measure/internal.h on
// the include path, not this directory's internal.h.
#include <internal.h>

namespace benchmark {
namespace internal {

std::string json_quoted(const std::string &s) {
  std::string out = "\"";
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s.c_str());
  const unsigned char *end = p + s.size();
  while (p < end) {
    int n;
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p++);
    } else if (*p < 0x20 || *p == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", *p++);
      out += buf;
    } else if (*p < 0x80) {
      out += static_cast<char>(*p++);
    } else if ((n = bestof_internal::utf8_scan(p)) > 0) {
      out.append(reinterpret_cast<const char *>(p), size_t(n));
      p += n;
    } else {
      out += "\xef\xbf\xbd";
      p += -n;
    }
  }
  return out + "\"";
}

std::string json_number(double v) {
  if (!std::isfinite(v))
    return "null";
  char buf[64];
  // to_chars ignores the locale and gives the shortest text that reads back
  // as v.
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace internal
}  // namespace benchmark
