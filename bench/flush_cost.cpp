// The default flush on this machine: where bestof_flush_bytes() found its
// size, what one cold bestof with it costs, and whether it still evicts: a
// random walk over 4 MiB measured flushed and warm.
//
//   bench_flush_cost [machine root]
//
// A machine root without a sysfs cache listing (an empty directory) gives
// the path of a guest whose cache size only CPUID gives.  Prints one table,
// tab-separated.

#include <cyclekit/bestof.h>
#include <cyclekit/machine.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench.h"

static const size_t WALK_LINES = (4 << 20) / 64;
static uint64_t *walk_lines;
static volatile uint64_t walk_end;

// Every line of 4 MiB once, in an order no prefetcher follows, each load
// waiting for the one before.
static void walk(int) {
  size_t i = 0;
  for (size_t n = 0; n < WALK_LINES; n++)
    i = (i * 5 + walk_lines[i * 8]) & (WALK_LINES - 1);
  walk_end = i;
}

int main(int argc, char **argv) {
  if (argc > 2) {
    fprintf(stderr, "usage: %s [machine root]\n", argv[0]);
    return 2;
  }
  if (argc == 2)
    set_machine_root(argv[1]);
  // Ones, not zeros: every page real, none the shared zero page.
  walk_lines = static_cast<uint64_t *>(malloc(WALK_LINES * 8 * sizeof(uint64_t)));
  for (size_t i = 0; i < WALK_LINES * 8; i++)
    walk_lines[i] = 1;
  double t0 = wall_seconds();
  int bytes = bestof_flush_bytes();
  double t1 = wall_seconds();
  set_bestof_cache_sizee(bytes);
  set_bestof_clear_cache(1);
  double cold = bestof(walk, 0);
  double t2 = wall_seconds();
  bestof_report r;
  bestof_last(&r);
  set_bestof_clear_cache(0);
  double warm = bestof(walk, 0);
  const char *llc_source = machine_llc_source();
  printf("figure\tvalue\n");
  printf("last-level cache (bytes)\t%d\n", bestof_llc_bytes());
  printf("its source\t%s\n", llc_source ? llc_source : "unknown");
  printf("flush (MiB)\t%d\n", bytes >> 20);
  printf("flush source\t%s\n", bestof_flush_source());
  printf("bestof_flush_bytes (s)\t%.3f\n", t1 - t0);
  printf("cold bestof, %d runs (s)\t%.3f\n", r.runs, t2 - t1);
  printf("both (s)\t%.3f\n", t2 - t0);
  printf("walk over 4 MiB, cold / warm\t%.2f\n", cold / warm);
  return 0;
}
