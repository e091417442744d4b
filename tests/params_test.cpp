// The arguments of parameterised names, through the public header: the
// bounds of int64_t, refused steps and multipliers, and buffers too small.

#include "params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int64_t lowest = INT64_MIN, highest = INT64_MAX;

// The whole list of a sizing call then a filling one, or {count} when the
// count is not positive; a sentinel past the room must stay as it was.
template <class Fill>
std::vector<int64_t> whole(Fill fill) {
  int64_t n = fill(nullptr, 0);
  if (n <= 0)
    return {n};
  std::vector<int64_t> out((size_t)n + 1, 42);
  EXPECT_EQ(fill(out.data(), (size_t)n - 1), n) << "a short room";
  EXPECT_EQ(out[(size_t)n - 1], 42) << "written past a short room";
  fill(out.data(), (size_t)n);
  EXPECT_EQ(out.back(), 42) << "written past the room";
  out.pop_back();
  return out;
}

TEST(Params, RangesMirrorAcrossZeroAndStopAtTheBounds) {
  std::vector<int64_t> top;  // 1, 2, 4, ... 2^62, INT64_MAX
  for (int shift = 0; shift <= 62; shift++)
    top.push_back(int64_t(1) << shift);
  top.push_back(highest);
  const struct {
    int64_t lo, hi;
    int multiplier;
    std::vector<int64_t> want;
  } cases[] = {
      {8, 1000, 8, {8, 64, 512, 1000}},
      {-10, 10, 2, {-10, -8, -4, -2, -1, 0, 1, 2, 4, 8, 10}},
      {0, 0, 2, {0}},
      {-9, -9, 3, {-9}},
      {3, 2, 2, {0}},
      {1, 8, 1, {-1}},
      {1, 8, -4, {-1}},
      {highest - 1, highest, 2, {highest - 1, highest}},
      {lowest, lowest + 1, 2, {lowest, lowest + 1}},
      {1, highest, 2, top},
      {highest / 2, highest, 1 << 30, {highest / 2, highest}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(whole([&](int64_t *out, size_t room) {
                return cyclekit_params_range(c.lo, c.hi, c.multiplier, out, room);
              }),
              c.want)
        << c.lo << ".." << c.hi << " x" << c.multiplier;
  // The widest range: 64 values each side of 0, INT64_MIN first.
  std::vector<int64_t> all(CYCLEKIT_PARAMS_RANGE_MOST);
  ASSERT_EQ(cyclekit_params_range(lowest, highest, 2, all.data(), all.size()),
            CYCLEKIT_PARAMS_RANGE_MOST);
  EXPECT_EQ(all[0], lowest);
  EXPECT_EQ(all[1], lowest / 2);
  EXPECT_EQ(all[64], 0);
}

TEST(Params, DenseRangesNeverStepPastTheirLimit) {
  const struct {
    int64_t start, limit, step;
    std::vector<int64_t> want;
  } cases[] = {
      {-5, 5, 5, {-5, 0, 5}},
      {0, 10, 4, {0, 4, 8}},
      {7, 7, 100, {7}},
      {8, 7, 1, {0}},
      {0, 10, 0, {-1}},
      {0, 10, -2, {-1}},
      {highest - 2, highest, 1, {highest - 2, highest - 1, highest}},
      {lowest, highest, highest, {lowest, -1, highest - 1}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(whole([&](int64_t *out, size_t room) {
                return cyclekit_params_dense(c.start, c.limit, c.step, out, room);
              }),
              c.want)
        << c.start << ".." << c.limit << " by " << c.step;
  int64_t first[2];
  EXPECT_EQ(cyclekit_params_dense(lowest, highest, 1, first, 2), highest) << "counted as most";
  EXPECT_EQ(first[1], lowest + 1);
}

TEST(Params, ProductsTakeTheFirstArgumentFastest) {
  const int64_t a[] = {1, 2}, b[] = {10, 20, 30};
  const int64_t *lists[] = {a, b, nullptr};
  const int64_t *huge[] = {a, a, a, a};
  const struct {
    const char *what;
    int nargs;
    const int64_t *const *lists;
    std::vector<int> lengths;
    int64_t count;
    std::vector<int64_t> last;  // the last tuple, where there is one
  } cases[] = {
      {"two lists", 2, lists, {2, 3}, 6, {2, 30}},
      {"an empty list", 2, lists, {2, 0}, 0, {}},
      {"no lists", 0, lists, {}, 0, {}},
      {"a negative length", 2, lists, {2, -1}, -1, {}},
      {"a null list", 3, lists, {2, 3, 1}, -1, {}},
      {"null lists", 1, nullptr, {1}, -1, {}},
      {"beyond int64", 4, huge, {1 << 30, 1 << 30, 1 << 30, 1 << 30}, -1, {}},
  };
  for (const auto &c : cases) {
    std::vector<int64_t> tuple(c.last.size(), 42);
    EXPECT_EQ(
        cyclekit_params_product(c.nargs, c.lists, c.lengths.data(), c.count - 1, tuple.data()),
        c.count)
        << c.what;
    EXPECT_EQ(tuple, c.last) << c.what;
  }
  int64_t second[2];
  cyclekit_params_product(2, lists, std::vector<int>{2, 3}.data(), 1, second);
  EXPECT_EQ(std::vector<int64_t>(second, second + 2), (std::vector<int64_t>{2, 10}))
      << "the second tuple changes the first argument";
}

TEST(Params, NamesJoinNamedAndUnnamedArgumentsAsTheFrontEndDoes) {
  const int64_t values[] = {64, -8, lowest};
  const char *names[] = {"size", "", "min"};
  const char *unnamed_first[] = {nullptr, "stride"};
  const struct {
    const char *family;
    int nargs;
    const char *const *names;
    const int64_t *values;
    size_t room;
    std::string want;
    size_t length;
  } cases[] = {
      {"copy", 3, names, values, 64, "copy/size:64/-8/min:-9223372036854775808", 40},
      {"copy", 2, nullptr, values, 64, "copy/64/-8", 10},
      {"", 2, unnamed_first, values, 64, "64/stride:-8", 12},
      {nullptr, 1, names, values, 64, "size:64", 7},
      {"copy", 0, names, values, 64, "copy", 4},
      {"copy", 2, names, nullptr, 64, "copy", 4},
      {"copy", 2, names, values, 8, "copy/si", 15},
      {"copy", 2, names, values, 1, "", 15},
  };
  for (const auto &c : cases) {
    char out[64];
    EXPECT_EQ(cyclekit_params_name(out, c.room, c.family, c.nargs, c.names, c.values), c.length)
        << c.want;
    EXPECT_EQ(out, c.want);
  }
  char untouched = 'x';
  EXPECT_EQ(cyclekit_params_name(&untouched, 0, "copy", 1, names, values), 12u);
  EXPECT_EQ(untouched, 'x');
}

}  // namespace
