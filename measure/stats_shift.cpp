// The Hodges-Lehmann shifts.  Their estimates, the m n differences
// y[j] - x[i] or the n (n + 1) / 2 Walsh averages, are never stored: with
// both samples sorted they form a matrix whose rows ascend, and an order
// statistic is found by selection in it.  Each step takes an estimate at
// random among those still in the running as the pivot, counts the
// estimates below it row by row (the rows' boundaries move one way only, so
// a count is one pass over the samples) and keeps only the side that holds
// the rank sought.  O(m + n) memory; expected O((m + n) log(m n)) time.

#include <math.h>
#include <stdlib.h>

#include "stats.h"
#include "stats_internal.h"

namespace bestof_internal {

// The estimates: row i holds b[j] - a[i] for 0 <= j < cols (two samples),
// or (a[i] + a[j]) / 2 for i <= j < cols (Walsh averages, b unused).  The
// columns of row i still in the running are [low[i], high[i]); under and
// over hold a step's splits at its two pivots; spare holds rows + cols
// doubles, the last few active estimates.
struct estimates {
  const double *a, *b;
  size_t rows, cols;
  int walsh;
  size_t *low, *high, *under, *over;
  double *spare;
};

static double cell(const struct estimates *e, size_t i, size_t j) {
  return e->walsh ? (e->a[i] + e->a[j]) / 2 : e->b[j] - e->a[i];
}

static size_t first_column(const struct estimates *e, size_t i) { return e->walsh ? i : 0; }

static int below(double v, double p, int strict) { return strict ? v < p : v <= p; }

// Fills split[i] with the column at which row i reaches p (the first
// estimate not below it, or not above it when !strict) and returns how many
// estimates lie before those columns.  Two samples: the split moves right
// as a[i] grows; Walsh averages: the split among all columns moves left,
// and a row starts at its diagonal.
static unsigned long long split_at(const struct estimates *e, double p, int strict, size_t *split) {
  unsigned long long total = 0;
  size_t j = e->walsh ? e->cols : 0;
  for (size_t i = 0; i < e->rows; i++) {
    if (e->walsh) {
      while (j > 0 && !below(cell(e, i, j - 1), p, strict))
        j--;
    } else {
      while (j < e->cols && below(cell(e, i, j), p, strict))
        j++;
    }
    split[i] = j > first_column(e, i) ? j : first_column(e, i);
    total += split[i] - first_column(e, i);
  }
  return total;
}

// How many estimates a step draws, and how far apart (in the draw) its two
// pivots lie either side of the rank sought: about two standard deviations
// of that rank's place in the draw, so a step misses it rarely.
enum { draws = 512, spread = 24 };

static int ascending(const void *a, const void *b) {
  double x = *static_cast<const double *>(a), y = *static_cast<const double *>(b);
  return x < y ? -1 : x > y;
}

static int ascending_index(const void *a, const void *b) {
  unsigned long long x = *static_cast<const unsigned long long *>(a);
  unsigned long long y = *static_cast<const unsigned long long *>(b);
  return x < y ? -1 : x > y;
}

// Estimates drawn at random among the active ones, ascending.
static void draw(const struct estimates *e, unsigned long long active, uint64_t *state, double *v) {
  unsigned long long at[draws];
  for (int k = 0; k < draws; k++)
    at[k] = next_random(state) % active;
  qsort(at, draws, sizeof *at, ascending_index);
  size_t i = 0;
  unsigned long long before = 0;
  for (int k = 0; k < draws; k++) {
    while (at[k] - before >= e->high[i] - e->low[i])
      before += e->high[i] - e->low[i], i++;
    v[k] = cell(e, i, e->low[i] + (size_t)(at[k] - before));
  }
  qsort(v, draws, sizeof *v, ascending);
}

// Narrows each row to the columns from from[i] and before to[i] (null: no
// bound); returns how many estimates stay active and stores in *left how
// many lie before them.
static unsigned long long narrow(struct estimates *e, const size_t *from, const size_t *to,
                                 unsigned long long *left) {
  unsigned long long active = 0;
  *left = 0;
  for (size_t i = 0; i < e->rows; i++) {
    if (from != NULL && from[i] > e->low[i])
      e->low[i] = from[i];
    if (to != NULL && to[i] < e->high[i])
      e->high[i] = to[i];
    if (e->high[i] < e->low[i])
      e->high[i] = e->low[i];
    active += e->high[i] - e->low[i];
    *left += e->low[i] - first_column(e, i);
  }
  return active;
}

// The estimate of rank r (from 0).  Each step draws estimates among the
// active ones and takes two of them, a <= b, about the rank sought; it
// keeps those below a, those above b or those between, whichever holds
// that rank, so the estimate sought always stays active.  A step that
// keeps them all (many equal estimates) is followed by one with a single
// pivot, a = b, which is either the answer or left out.
static double select_estimate(struct estimates *e, unsigned long long r) {
  uint64_t state = 0x2545f4914f6cdd1du;
  for (size_t i = 0; i < e->rows; i++) {
    e->low[i] = first_column(e, i);
    e->high[i] = e->cols;
  }
  unsigned long long left, active = narrow(e, NULL, NULL, &left);
  int single = 0;
  while (active > e->rows + e->cols) {
    double v[draws];
    draw(e, active, &state, v);
    int c = (int)((double)(r - left) / (double)active * draws);
    double a = v[single || c < spread ? c : c - spread];
    double b = single ? a : v[c + spread < draws ? c + spread : draws - 1];
    unsigned long long under = split_at(e, a, 1, e->under), upto = split_at(e, b, 0, e->over);
    if (r >= under && r < upto && a == b)
      return a;
    unsigned long long before = active;
    active = narrow(e,
                    r < under  ? NULL
                    : r < upto ? e->under
                               : e->over,
                    r < under  ? e->under
                    : r < upto ? e->over
                               : NULL,
                    &left);
    single = active == before;
  }
  // Few enough left to copy: a step would cost as much as selecting them.
  size_t n = 0;
  for (size_t i = 0; i < e->rows; i++)
    for (size_t j = e->low[i]; j < e->high[i]; j++)
      e->spare[n++] = cell(e, i, j);
  select_rank(e->spare, n, (size_t)(r - left));
  return e->spare[r - left];
}

// Copies the values of v that are not NaN to to, sorted; returns how many.
static size_t sorted_copy(const double *v, size_t n, double *to) {
  size_t kept = 0;
  for (size_t i = 0; i < n; i++)
    if (!isnan(v[i]))
      to[kept++] = v[i];
  qsort(to, kept, sizeof *to, ascending);
  return kept;
}

// The median of the count estimates and the interval between the k-th
// least and the k-th greatest.
static void shift_of(struct estimates *e, unsigned long long count, unsigned long long k,
                     struct cyclekit_shift *out) {
  if (count == 0)
    return;
  double upper = select_estimate(e, count / 2);
  out->estimate = count % 2 ? upper : (select_estimate(e, count / 2 - 1) + upper) / 2;
  if (k == 0)
    return;
  out->low = select_estimate(e, k - 1);
  out->high = select_estimate(e, count - k);
  out->interval = 1;
}

static void no_shift(struct cyclekit_shift *out) {
  out->estimate = out->low = out->high = NAN;
  out->interval = 0;
}

// One block for `values` doubles and four size_t arrays of `rows`; null
// when it cannot be had or its size overflows.
static void *workspace(size_t values, size_t rows, size_t **index) {
  size_t limit = (size_t)-1 / 4;
  if (values > limit / sizeof(double) || rows > limit / (4 * sizeof(size_t)))
    return NULL;
  // At least one byte: malloc(0) may return null for no failure at all.
  size_t bytes = values * sizeof(double) + 4 * rows * sizeof(size_t);
  double *mem = static_cast<double *>(malloc(bytes > 0 ? bytes : 1));
  if (mem != NULL)
    *index = reinterpret_cast<size_t *>(mem + values);
  return mem;
}

// The matrix of these samples, its four row arrays from index.
static struct estimates estimates_of(const double *a, const double *b, size_t rows, size_t cols,
                                     int walsh, size_t *index, double *spare) {
  struct estimates e = {
      a, b, rows, cols, walsh, index, index + rows, index + 2 * rows, index + 3 * rows, spare};
  return e;
}

}  // namespace bestof_internal

using namespace bestof_internal;

extern "C" int cyclekit_shift_two_samples(const double *x, size_t m, const double *y, size_t n,
                                          double confidence, struct cyclekit_shift *out) {
  no_shift(out);
  size_t *index = NULL;
  // The samples, then as many spare estimates.
  size_t values = m + n;
  double *mem = values < m || values > (size_t)-1 / 2
                    ? NULL
                    : static_cast<double *>(workspace(2 * values, m, &index));
  if (mem == NULL)
    return -1;
  size_t mx = sorted_copy(x, m, mem), ny = sorted_copy(y, n, mem + mx);
  struct estimates e = estimates_of(mem, mem + mx, mx, ny, 0, index, mem + m + n);
  shift_of(&e, (unsigned long long)mx * ny, mann_whitney_outside(mx, ny, (1 - confidence) / 2),
           out);
  free(mem);
  return 0;
}

extern "C" int cyclekit_shift_paired(const double *d, size_t n, double confidence,
                                     struct cyclekit_shift *out) {
  no_shift(out);
  size_t *index = NULL;
  // The differences, then twice as many spare estimates.
  double *mem = n > (size_t)-1 / 3 ? NULL : static_cast<double *>(workspace(3 * n, n, &index));
  if (mem == NULL)
    return -1;
  size_t nd = sorted_copy(d, n, mem);
  struct estimates e = estimates_of(mem, mem, nd, nd, 1, index, mem + n);
  shift_of(&e, (unsigned long long)nd * (nd + 1) / 2, signed_rank_outside(nd, (1 - confidence) / 2),
           out);
  free(mem);
  return 0;
}
