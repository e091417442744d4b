/* Sums int arrays of growing size and prints a table of the cycles bestof
 * finds for each: with whatever the caches hold from the previous run, and
 * with the caches flushed before every run.  Build it against an installed
 * cyclekit with
 *   cc array_sum.c $(pkg-config --cflags --libs cyclekit) */
#include <cyclekit/bestof.h>
#include <cyclekit/keep.h>
#include <stdio.h>
#include <stdlib.h>

#define MAX_ELEMENTS (1 << 20)

static int *data;

static void sum_array(int n) {
  long s = 0;
  for (int i = 0; i < n; i++)
    s += data[i];
  CYCLEKIT_KEEP(s); /* keeps the sum from being optimised away */
}

int main(void) {
  data = malloc(MAX_ELEMENTS * sizeof *data);
  if (data == NULL) {
    fputs("array_sum: out of memory\n", stderr);
    return 1;
  }
  for (int i = 0; i < MAX_ELEMENTS; i++)
    data[i] = i & 0xff;

  /* Twice the last-level cache, so a flush evicts it; where its size is
   * unknown, a fixed size larger than the largest array.  The note goes to
   * standard error to keep the table alone on standard output. */
  if (bestof_llc_bytes() <= 0)
    fprintf(stderr, "array_sum: last-level cache size unknown, flushing a fixed %d MiB\n",
            BESTOF_FLUSH_FALLBACK_BYTES >> 20);
  set_bestof_cache_sizee(bestof_flush_bytes());
  printf("%9s %12s %9s %12s %9s\n", "elements", "warm", "per elem", "flushed", "per elem");
  for (int n = 1 << 8; n <= MAX_ELEMENTS; n <<= 2) {
    set_bestof_clear_cache(0);
    double warm = bestof(sum_array, n);
    set_bestof_clear_cache(1);
    double cold = bestof(sum_array, n);
    printf("%9d %12.0f %9.2f %12.0f %9.2f\n", n, warm, warm / n, cold, cold / n);
  }
  free(data);
  return 0;
}
