// The counter's own cost against the hardware's: ovhd() against two
// back-to-back bare counter reads, least and median of many of each.

#include <stdio.h>

#include "bench.h"

int main(int argc, char **argv) {
  int n = quick_mode(argc, argv, 1, "[--quick]") ? 10000 : 1000000;
  std::vector<double> counter, bare;
  overhead_pairs(n, &counter, &bare);
  printf("pair\tcalls\tleast\tmedian\n");
  printf("ovhd()\t%d\t%.0f\t%.0f\n", n, min_of(counter), median_of(counter));
  printf("two bare reads\t%d\t%.0f\t%.0f\n\n", n, min_of(bare), median_of(bare));
  printf("figure\tvalue\n");
  printf("ovhd() / bare pair, leasts\t%.3f\n", min_of(counter) / min_of(bare));
  return 0;
}
