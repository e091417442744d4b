/* A short tour of cyclekit, in plain C: the counter's own cost and step,
 * the clock rate, the library's chain of known latency (core_chain)
 * measured plainly and precisely beside its truth, and one function measured with bestof plainly,
 * with the caches flushed before each run, and with the tick-compensated counter. */
#include <cyclekit/bestof.h>
#include <cyclekit/clock.h>
#include <cyclekit/keep.h>
#include <stdio.h>
#include <stdlib.h>

#define N 4096
static int data[N];

static int compare_doubles(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

/* Sums the first n elements; CYCLEKIT_KEEP keeps the work. */
static void sum_array(int n) {
  int s = 0;
  for (int i = 0; i < n; i++)
    s += data[i];
  CYCLEKIT_KEEP(s);
}

int main(void) {
  for (int i = 0; i < N; i++)
    data[i] = i;

  /* What a start and a read typically cost: the median, not the least,
   * which on a stepped counter may be a stray reading of a tick. */
  double pairs[101];
  for (int i = 0; i < 101; i++)
    pairs[i] = ovhd();
  qsort(pairs, 101, sizeof pairs[0], compare_doubles);
  printf("Counter overhead: %.0f ticks typical (median of 101)\n", pairs[50]);
  /* One count of code shorter than a few steps is mostly the step's rounding. */
  printf("Counter step: %.4g ticks\n", counter_step());
  mhz(1, 1);

  /* The plain count is in counter ticks, includes the pair's cost and may
   * close before the chain has finished; precise mode counts core cycles,
   * fences the reads and takes the pair's cost off. */
  int adds = core_chain_adds();
  double plain = bestof(core_chain, 0);
  set_bestof_precise(1);
  double precise = bestof(core_chain, 0);
  struct bestof_report r;
  bestof_last(&r);
  set_bestof_precise(0);
  if (adds > 0)
    printf("core_chain, %d dependent additions, truly %d core cycles:\n", adds, adds);
  else
    printf("core_chain (no chain of known cost on this processor):\n");
  printf("  plain:   %.0f ticks\n", plain);
  printf("  precise: %.1f +/- %.1f %s\n", precise, r.uncertainty,
         r.core_cycles ? "core cycles" : "ticks");

  printf("sum of %d ints, plain:       %.0f cycles\n", N, bestof(sum_array, N));

  /* A flush must be larger than the last-level cache to evict it. */
  if (bestof_llc_bytes() <= 0)
    printf("Last-level cache size unknown: flushing a fixed %d MiB\n",
           BESTOF_FLUSH_FALLBACK_BYTES >> 20);
  set_bestof_clear_cache(1);
  set_bestof_cache_sizee(bestof_flush_bytes());
  printf("sum of %d ints, caches flushed: %.0f cycles\n", N, bestof(sum_array, N));
  set_bestof_clear_cache(0);

  /* The tick-compensated counter calibrates itself at its first start: it
   * busy-polls until 100 ticks of user time have passed, which takes seconds
   * of wall time (more on a busy or virtual machine).  It helps only for
   * intervals that span many ticks. */
  printf("Calibrating the tick-compensated counter (several seconds)...\n");
  fflush(stdout);
  set_bestof_compensate(1);
  printf("sum of %d ints, compensated: %.0f cycles\n", N, bestof(sum_array, N));
  set_bestof_compensate(0);
  return 0;
}
