/* A short tour of cyclekit, in plain C: the counter's own overhead and step,
 * the clock rate, and one function measured with bestof plainly, with the
 * caches flushed before each run, and with the tick-compensated counter. */
#include <cyclekit/bestof.h>
#include <cyclekit/clock.h>
#include <cyclekit/keep.h>
#include <stdio.h>

#define N 4096
static int data[N];

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

  double least = ovhd();
  for (int i = 0; i < 100; i++) {
    double o = ovhd();
    if (o < least)
      least = o;
  }
  printf("Counter overhead: %.0f cycles (least of 100)\n", least);
  /* Code shorter than a few steps cannot be resolved. */
  printf("Counter step: %.4g cycles\n", counter_step());
  mhz(1, 1);

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
