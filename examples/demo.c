/* A short tour of cyclekit, in plain C: the counter's own overhead, the clock
 * rate, and one function measured with bestof plainly, with the
 * tick-compensated counter, and with the caches flushed before each run. */
#include <stdio.h>

#include <cyclekit/bestof.h>
#include <cyclekit/clock.h>

#define N 4096
static int data[N];
static volatile int result;

/* Sums the first n elements; the volatile store keeps the work. */
static void sum_array(int n) {
  int s = 0;
  for (int i = 0; i < n; i++)
    s += data[i];
  result = s;
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
  mhz(1, 1);

  printf("sum of %d ints, plain:       %.0f cycles\n", N, bestof(sum_array, N));
  set_bestof_compensate(1);
  printf("sum of %d ints, compensated: %.0f cycles\n", N, bestof(sum_array, N));
  set_bestof_compensate(0);
  set_bestof_clear_cache(1);
  set_bestof_cache_sizee(8 << 20);
  printf("sum of %d ints, caches flushed: %.0f cycles\n", N, bestof(sum_array, N));
  return 0;
}
