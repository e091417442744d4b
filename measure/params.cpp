// The arguments of parameterised names (params.h): ranges, products and
// the members' names, one copy for both front ends.

#include "params.h"

#include <limits.h>

// A buffer filled snprintf-style: every value counted, only room kept.
struct value_sink {
  int64_t *out;
  size_t room, count;
};

static void put_value(struct value_sink *sink, int64_t v) {
  if (sink->count < sink->room)
    sink->out[sink->count] = v;
  sink->count++;
}

// Magnitudes as unsigned, so that INT64_MIN's, 2^63, needs no negation of
// a signed value that has no positive counterpart.
static uint64_t magnitude(int64_t v) { return v < 0 ? (uint64_t)(-(v + 1)) + 1 : (uint64_t)v; }

static int64_t negated(uint64_t m) { return -(int64_t)(m - 1) - 1; }

// lo, the powers of multiplier strictly between lo and hi, then hi, for
// 0 < lo <= hi.  A power is only formed when it cannot pass hi, which is
// at most 2^63, so the product never wraps.
static int powers(uint64_t lo, uint64_t hi, uint64_t multiplier, uint64_t *out) {
  int n = 0;
  out[n++] = lo;
  for (uint64_t p = 1; p < hi; p *= multiplier) {
    if (p > lo)
      out[n++] = p;
    if (p > hi / multiplier)
      break;
  }
  if (hi != lo)
    out[n++] = hi;
  return n;
}

extern "C" int cyclekit_params_range(int64_t lo, int64_t hi, int multiplier, int64_t *out,
                                     size_t room) {
  if (multiplier < 2)
    return -1;
  if (lo > hi)
    return 0;
  struct value_sink sink = {out, room, 0};
  uint64_t side[CYCLEKIT_PARAMS_RANGE_MOST];
  if (lo < 0) {
    int n = powers(hi < 0 ? magnitude(hi) : 1, magnitude(lo), (uint64_t)multiplier, side);
    while (n > 0)
      put_value(&sink, negated(side[--n]));
  }
  if (lo <= 0 && hi >= 0)
    put_value(&sink, 0);
  if (hi > 0) {
    int n = powers(lo > 0 ? (uint64_t)lo : 1, (uint64_t)hi, (uint64_t)multiplier, side);
    for (int i = 0; i < n; i++)
      put_value(&sink, (int64_t)side[i]);
  }
  return (int)sink.count;
}

extern "C" int64_t cyclekit_params_dense(int64_t start, int64_t limit, int64_t step, int64_t *out,
                                         size_t room) {
  if (step < 1)
    return -1;
  if (start > limit)
    return 0;
  // The span as unsigned: limit - start can exceed INT64_MAX.
  uint64_t steps = ((uint64_t)limit - (uint64_t)start) / (uint64_t)step;
  int64_t count = steps >= (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)steps + 1;
  int64_t v = start;
  for (int64_t i = 0; i < count && (size_t)i < room; i++) {
    out[i] = v;
    // Only a step that lands on a member is taken, so v + step <= limit.
    if (i + 1 < count)
      v += step;
  }
  return count;
}

// The number of tuples; -1 for lists that give none to count.
static int64_t product_count(int nargs, const int64_t *const *lists, const int *lengths) {
  if (nargs < 1)
    return 0;
  if (!lists || !lengths)
    return -1;
  int64_t total = 1;
  for (int i = 0; i < nargs; i++) {
    if (lengths[i] < 0 || (lengths[i] > 0 && !lists[i]))
      return -1;
    if (lengths[i] == 0)
      total = 0;
    else if (total > INT64_MAX / lengths[i])
      return -1;
    else
      total *= lengths[i];
  }
  return total;
}

extern "C" int64_t cyclekit_params_product(int nargs, const int64_t *const *lists,
                                           const int *lengths, int64_t index, int64_t *tuple) {
  int64_t total = product_count(nargs, lists, lengths);
  if (!tuple || index < 0 || index >= total)
    return total;
  for (int i = 0; i < nargs; i++) {
    tuple[i] = lists[i][index % lengths[i]];
    index /= lengths[i];
  }
  return total;
}

// ---- Names ----------------------------------------------------------------

// A string filled snprintf-style: every byte counted, room - 1 kept, and
// the null byte after what is kept.
struct text_sink {
  char *out;
  size_t room, length;
};

static void put_char(struct text_sink *sink, char c) {
  if (sink->length + 1 < sink->room)
    sink->out[sink->length] = c;
  sink->length++;
}

static void put_text(struct text_sink *sink, const char *s) {
  while (*s)
    put_char(sink, *s++);
}

// In decimal as the front end's std::to_string writes it, without the C
// library's printf, which a bare name does not need.
static void put_decimal(struct text_sink *sink, int64_t v) {
  char digits[20];
  int n = 0;
  uint64_t m = magnitude(v);
  do
    digits[n++] = (char)('0' + m % 10);
  while (m /= 10);
  if (v < 0)
    put_char(sink, '-');
  while (n > 0)
    put_char(sink, digits[--n]);
}

extern "C" size_t cyclekit_params_name(char *out, size_t room, const char *family, int nargs,
                                       const char *const *arg_names, const int64_t *values) {
  struct text_sink sink = {out, room, 0};
  if (family)
    put_text(&sink, family);
  for (int i = 0; values && i < nargs; i++) {
    if (sink.length > 0)
      put_char(&sink, '/');
    const char *arg_name = arg_names ? arg_names[i] : NULL;
    if (arg_name && *arg_name) {
      put_text(&sink, arg_name);
      put_char(&sink, ':');
    }
    put_decimal(&sink, values[i]);
  }
  if (room > 0)
    out[sink.length < room ? sink.length : room - 1] = '\0';
  return sink.length;
}
