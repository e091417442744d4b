// The JSON lines under a real decimal-comma locale, built at test time with
// localedef into a scratch LOCPATH: the numbers keep their '.', as JSON
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

// Everything written to a scratch stream while f runs.
template <typename F>
std::string lines_of(F f) {
  FILE *out = tmpfile();
  if (out == nullptr)
    return "tmpfile failed";
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

// A decimal comma; between two fields a comma is followed by a quote.
bool comma_between_digits(const std::string &t) {
  for (size_t i = 1; i + 1 < t.size(); i++)
    if (t[i] == ',' && isdigit((unsigned char)t[i - 1]) && isdigit((unsigned char)t[i + 1]))
      return true;
  return false;
}

class DecimalComma : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/cyclekit_locale_XXXXXX";
    if (mkdtemp(dir) == nullptr)
      return;
    dir_ = dir;
    std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir_ + "/de_DE.UTF-8' >/dev/null 2>&1";
    // localedef exits 1 for mere warnings: whether the locale loads decides.
    (void)system(cmd.c_str());
  }
  static void TearDownTestSuite() {
    if (!dir_.empty())
      (void)system(("rm -rf '" + dir_ + "'").c_str());
  }
  void SetUp() override {
    if (dir_.empty())
      GTEST_SKIP() << "no scratch directory for the locale";
    setenv("LOCPATH", dir_.c_str(), 1);
    if (setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
      GTEST_SKIP() << "localedef could not build de_DE.UTF-8 here (missing, or its files "
                      "do not load on this target)";
    char probe[16];
    snprintf(probe, sizeof probe, "%g", 0.5);
    if (std::string(probe) != "0,5")
      GTEST_SKIP() << "de_DE.UTF-8 loaded but printf wrote " << probe;
    set_bestof_defaults();
    set_bestof_verbose(1);
    set_bestof_json(1);
    set_bestof_compare_pairs(6);
    set_bestof_compare_margin(0.25);
  }
  void TearDown() override {
    set_bestof_defaults();
    setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
  }
  static std::string dir_;
};
std::string DecimalComma::dir_;

struct Case {
  const char *what;
  void (*measure)();
  const char *field;  // a fractional number the line must carry as C writes it
};

const Case cases[] = {
    {"bestof", [] { bestof(tiny, 0); }, "\"tolerance\":0.01"},
    {"bestof_compare", [] { bestof_compare(tiny, 0, tiny, 0, nullptr); }, "\"margin\":0.25"},
};

TEST_F(DecimalComma, JsonNumbersKeepTheirPoint) {
  for (const Case &c : cases) {
    std::string text = lines_of(c.measure);
    EXPECT_NE(text.find(c.field), std::string::npos) << c.what << ": " << text;
    EXPECT_FALSE(comma_between_digits(text)) << c.what << ": " << text;
  }
}

}  // namespace
