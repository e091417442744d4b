// The JSON lines under a real decimal-comma locale, built at test time with
// localedef into a scratch LOCPATH: their numbers keep the '.' that JSON
// needs, whatever LC_NUMERIC says.

#include <ctype.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "bestof.h"
#include "compare.h"

namespace {

void tiny(int) {}

// What f writes to the verbose stream.
std::string lines_of(void (*f)()) {
  FILE *out = tmpfile();
  set_bestof_verbose_stream(out);
  f();
  set_bestof_verbose_stream(nullptr);
  std::string text;
  rewind(out);
  for (int c; (c = fgetc(out)) != EOF;)
    text += (char)c;
  fclose(out);
  return text;
}

// Between two JSON fields a comma is followed by a quote, never a digit.
bool decimal_comma(const std::string &t) {
  for (size_t i = 1; i + 1 < t.size(); i++)
    if (t[i] == ',' && isdigit((unsigned char)t[i - 1]) && isdigit((unsigned char)t[i + 1]))
      return true;
  return false;
}

const struct {
  const char *what;
  void (*measure)();
  const char *field;  // a fractional number of the line, as C writes it
} cases[] = {
    {"bestof", [] { bestof(tiny, 0); }, "\"tolerance\":0.01"},
    {"bestof_compare", [] { bestof_compare(tiny, 0, tiny, 0, nullptr); }, "\"margin\":0.25"},
};

TEST(DecimalComma, JsonNumbersKeepTheirPoint) {
  char dir[] = "/tmp/cyclekit_locale_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  // localedef exits 1 for mere warnings: whether the locale loads decides.
  std::string made = std::string(dir) + "/de_DE.UTF-8";
  (void)system(("localedef -i de_DE -f UTF-8 " + made + " >/dev/null 2>&1").c_str());
  setenv("LOCPATH", dir, 1);
  bool loaded = setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  char probe[16];
  snprintf(probe, sizeof probe, "%g", 0.5);
  std::string text[2];
  if (loaded && std::string(probe) == "0,5") {
    set_bestof_verbose(1);
    set_bestof_json(1);
    set_bestof_compare_pairs(6);
    set_bestof_compare_margin(0.25);
    for (int i = 0; i < 2; i++)
      text[i] = lines_of(cases[i].measure);
    set_bestof_defaults();
  }
  setlocale(LC_ALL, "C");
  unsetenv("LOCPATH");
  (void)system(("rm -rf " + std::string(dir)).c_str());
  if (!loaded || std::string(probe) != "0,5")
    GTEST_SKIP() << "no decimal-comma locale here: localedef missing, or its files do not "
                    "load on this target (printf wrote "
                 << probe << ")";
  for (int i = 0; i < 2; i++) {
    EXPECT_NE(text[i].find(cases[i].field), std::string::npos) << cases[i].what << ": " << text[i];
    EXPECT_FALSE(decimal_comma(text[i])) << cases[i].what << ": " << text[i];
  }
}

}  // namespace
