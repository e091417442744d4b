// What the statistics' sources share; not installed.
//
// The rooms: stats.cpp (the median and the resolution), stats_rank.cpp (how
// many estimates lie outside a rank interval, from the null distributions),
// stats_shift.cpp (the shifts: order statistics of all differences or Walsh
// averages, none of them stored).
#ifndef CYCLEKIT_MEASURE_STATS_INTERNAL_H
#define CYCLEKIT_MEASURE_STATS_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

namespace bestof_internal {

// A xorshift generator: the pivots of the selections, not randomness that
// anything else relies on.  *state must not be 0.
uint64_t next_random(uint64_t *state);

// Reorders v[0..n) so that v[k] holds the value of rank k (from 0), none
// before it greater and none after it less; no NaN among them.
void select_rank(double *v, size_t n, size_t k);

// Rank intervals for `count` estimates, count the m n differences of two
// samples or the n (n + 1) / 2 Walsh averages of n pairs: the number k of
// the least (and of the greatest) estimates that lie outside the interval,
// the greatest k below count / 2 (rounded down) with P(S <= j) <= tail for
// every j < k, S the test's statistic under no shift.  0: no interval.
// Exact while the samples are small, the normal approximation with a
// continuity correction beyond.
unsigned long long mann_whitney_outside(size_t m, size_t n, double tail);
unsigned long long signed_rank_outside(size_t n, double tail);

}  // namespace bestof_internal

#endif
