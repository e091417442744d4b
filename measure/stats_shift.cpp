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
// columns of row i still in the running are [low[i], high[i]).
struct estimates {
  const double *a, *b;
  size_t rows, cols;
  int walsh;
  size_t *low, *high, *split;
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
static unsigned long long split_at(struct estimates *e, double p, int strict) {
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
    e->split[i] = j > first_column(e, i) ? j : first_column(e, i);
    total += e->split[i] - first_column(e, i);
  }
  return total;
}

// An estimate drawn at random among the active columns of all rows.
static double pivot(const struct estimates *e, unsigned long long active, uint64_t *state) {
  unsigned long long r = next_random(state) % active;
  size_t i = 0;
  while (r >= e->high[i] - e->low[i]) {
    r -= e->high[i] - e->low[i];
    i++;
  }
  return cell(e, i, e->low[i] + (size_t)r);
}

// The estimate of rank r (from 0).  The one sought always stays active: an
// estimate outside some row's active columns is below (or above) it.
static double select_estimate(struct estimates *e, unsigned long long r) {
  uint64_t state = 0x2545f4914f6cdd1du;
  unsigned long long active = 0;
  for (size_t i = 0; i < e->rows; i++) {
    e->low[i] = first_column(e, i);
    e->high[i] = e->cols;
    active += e->high[i] - e->low[i];
  }
  for (;;) {
    double p = pivot(e, active, &state);
    int strict = r < split_at(e, p, 1);
    if (!strict && r < split_at(e, p, 0))
      return p;
    active = 0;
    for (size_t i = 0; i < e->rows; i++) {
      if (strict && e->split[i] < e->high[i])
        e->high[i] = e->split[i];
      if (!strict && e->split[i] > e->low[i])
        e->low[i] = e->split[i];
      if (e->high[i] < e->low[i])
        e->high[i] = e->low[i];
      active += e->high[i] - e->low[i];
    }
  }
}

static int ascending(const void *a, const void *b) {
  double x = *static_cast<const double *>(a), y = *static_cast<const double *>(b);
  return x < y ? -1 : x > y;
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

// One block for `values` doubles and three size_t arrays of `rows`; null
// when it cannot be had or its size overflows.
static void *workspace(size_t values, size_t rows, size_t **index) {
  size_t limit = (size_t)-1 / 4;
  if (values > limit / sizeof(double) || rows > limit / (3 * sizeof(size_t)))
    return NULL;
  // At least one byte: malloc(0) may return null for no failure at all.
  size_t bytes = values * sizeof(double) + 3 * rows * sizeof(size_t);
  double *mem = static_cast<double *>(malloc(bytes > 0 ? bytes : 1));
  if (mem != NULL)
    *index = reinterpret_cast<size_t *>(mem + values);
  return mem;
}

}  // namespace bestof_internal

using namespace bestof_internal;

extern "C" int cyclekit_shift_two_samples(const double *x, size_t m, const double *y, size_t n,
                                          double confidence, struct cyclekit_shift *out) {
  no_shift(out);
  size_t *index = NULL;
  double *mem = m + n < m ? NULL : static_cast<double *>(workspace(m + n, m, &index));
  if (mem == NULL)
    return -1;
  size_t mx = sorted_copy(x, m, mem), ny = sorted_copy(y, n, mem + mx);
  struct estimates e = {mem, mem + mx, mx, ny, 0, index, index + m, index + 2 * m};
  shift_of(&e, (unsigned long long)mx * ny, mann_whitney_outside(mx, ny, (1 - confidence) / 2),
           out);
  free(mem);
  return 0;
}

extern "C" int cyclekit_shift_paired(const double *d, size_t n, double confidence,
                                     struct cyclekit_shift *out) {
  no_shift(out);
  size_t *index = NULL;
  double *mem = static_cast<double *>(workspace(n, n, &index));
  if (mem == NULL)
    return -1;
  size_t nd = sorted_copy(d, n, mem);
  struct estimates e = {mem, mem, nd, nd, 1, index, index + n, index + 2 * n};
  shift_of(&e, (unsigned long long)nd * (nd + 1) / 2, signed_rank_outside(nd, (1 - confidence) / 2),
           out);
  free(mem);
  return 0;
}
