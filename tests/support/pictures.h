// What the tests of cyclekit-compare's pictures share: the forest plot's
// rows read back from its SVG, the verdicts' colours, a PNG's pixels, and
// a fixture that opens a file in headless chromium (skipped where Debian's
// chromium is not installed).
#ifndef CYCLEKIT_TESTS_PICTURES_H
#define CYCLEKIT_TESTS_PICTURES_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"

struct seen_row {
  std::string verdict, fill, title, body;
};

// The forest plot's row elements as they appear, each with its content.
inline std::vector<seen_row> rows_in(const std::string &svg) {
  static const std::regex row(
      "<g class=\"row\" data-verdict=\"([^\"]*)\" fill=\"([^\"]*)\"[^>]*><title>([^<]*)</title>"
      "(.*?)</g>");
  std::vector<seen_row> out;
  for (std::sregex_iterator m(svg.begin(), svg.end(), row), end; m != end; ++m)
    out.push_back({(*m)[1], (*m)[2], (*m)[3], (*m)[4]});
  return out;
}

inline const std::map<std::string, std::string> kColours = {{"slower", "#c62828"},
                                                            {"faster", "#2e7d32"},
                                                            {"not distinguishable", "#757575"},
                                                            {"not resolved", "#bdbdbd"}};

// An 8-bit RGB or RGBA PNG's pixels as 0xRRGGBB, unfiltered; nothing for
// another kind.
inline std::vector<uint32_t> png_pixels(const std::string &png) {
  auto byte = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(png[at])); };
  auto be32 = [&](size_t at) {
    return byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
  };
  std::string data;
  uint32_t width = 0, height = 0, n = 0;  // n: bytes a pixel
  for (size_t at = 8; at + 8 <= png.size(); at += 12 + be32(at)) {
    if (png.compare(at + 4, 4, "IHDR") == 0 && byte(at + 16) == 8) {
      uint32_t kind = byte(at + 17);  // 2 RGB, 6 RGBA
      width = be32(at + 8), height = be32(at + 12), n = kind == 6 ? 4 : kind == 2 ? 3 : 0;
    }
    if (png.compare(at + 4, 4, "IDAT") == 0)
      data += png.substr(at + 8, be32(at));
  }
  size_t stride = width * n;
  std::vector<uint8_t> raw(height * (stride + 1)), line(stride), above(stride);
  uLongf size = raw.size();
  if (n == 0 || uncompress(raw.data(), &size, reinterpret_cast<const Bytef *>(data.data()),
                           data.size()) != Z_OK)
    return {};
  std::vector<uint32_t> pixels;
  for (size_t y = 0; y < height; y++, above = line) {
    const uint8_t *in = &raw[y * (stride + 1)];
    for (size_t i = 0; i < stride; i++) {
      int a = i >= n ? line[i - n] : 0, b = above[i], c = i >= n ? above[i - n] : 0, p = a + b - c;
      int pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
      int predicted[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
      line[i] = static_cast<uint8_t>(in[1 + i] + predicted[in[0] % 5]);
    }
    for (size_t x = 0; x < stride; x += n)
      pixels.push_back(line[x] << 16 | line[x + 1] << 8 | line[x + 2]);
  }
  return pixels;
}

class chromium_test : public testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/chromium", X_OK) != 0)
      GTEST_SKIP() << "/usr/bin/chromium is not installed (Debian package chromium)";
    char pattern[] = "/tmp/cyclekit_pictures_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty())
      run_program({"rm", "-rf", dir_});
  }
  // chromium on text written to a file, with what it is asked; fails on a
  // console error.
  std::string open(const std::string &file, const std::string &text, const std::string &asked) {
    std::ofstream(dir_ + "/" + file) << text;
    std::istringstream words(
        "timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
        "--no-first-run --disable-background-networking --disable-component-update "
        "--disable-sync --enable-logging=stderr --v=0 --user-data-dir=" +
        dir_ + "/profile " + asked + " file://" + dir_ + "/" + file);
    std::vector<std::string> argv{std::istream_iterator<std::string>(words), {}};
    program_run run = run_program(argv);
    EXPECT_EQ(exit_status(run), 0) << run.err;
    EXPECT_EQ(run.err.find("Uncaught"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("CONSOLE"), std::string::npos) << run.err;
    return run.out;
  }
  std::string dir_;
};

#endif  // CYCLEKIT_TESTS_PICTURES_H
