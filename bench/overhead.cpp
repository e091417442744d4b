// The counter's own cost against the hardware's: ovhd() against two
// back-to-back bare counter reads, least and median of many of each.  With
// "fenced" first, what the fenced pair costs beside ovhd() instead.
//
//   bench_overhead [fenced] [--quick]

#include <stdio.h>
#include <string.h>

#include "bench.h"

// The two pairs' table: calls, least and median of each.
static void pairs_table(int n, const char *a_name, const std::vector<double> &a, const char *b_name,
                        const std::vector<double> &b) {
  printf("pair\tcalls\tleast\tmedian\n");
  printf("%s\t%d\t%.0f\t%.0f\n", a_name, n, min_of(a), median_of(a));
  printf("%s\t%d\t%.0f\t%.0f\n\n", b_name, n, min_of(b), median_of(b));
  printf("figure\tvalue\n");
}

// What this machine's counter is: its step, and how far core_per_tick()
// agrees with itself over a few calls (a machine-dependent figure that no
// test asserts).
static void counter_figures(void) {
  printf("counter_step() (ticks)\t%g\n", counter_step());
  std::vector<double> cpt;
  for (int i = 0; i < 10; i++)
    cpt.push_back(core_per_tick());
  printf("core_per_tick(), median of 10 calls\t%.3f\n", median_of(cpt));
  printf("core_per_tick(), most / least of 10 calls\t%.4f\n", max_of(cpt) / min_of(cpt));
}

static void bare_section(int n) {
  std::vector<double> counter, bare;
  overhead_pairs(n, &counter, &bare);
  pairs_table(n, "ovhd()", counter, "two bare reads", bare);
  printf("ovhd() / bare pair, leasts\t%.3f\n", min_of(counter) / min_of(bare));
  counter_figures();
}

static void fenced_section(int n) {
  std::vector<double> plain, fenced;
  fence_pairs(n, &plain, &fenced);
  pairs_table(n, "ovhd()", plain, "fenced pair", fenced);
  printf("fenced pair / ovhd(), leasts\t%.3f\n", min_of(fenced) / min_of(plain));
  printf("fenced pair / ovhd(), medians\t%.3f\n", median_of(fenced) / median_of(plain));
  printf("fenced pair less ovhd(), medians (cycles)\t%.0f\n", median_of(fenced) - median_of(plain));
}

int main(int argc, char **argv) {
  bool fenced = argc > 1 && strcmp(argv[1], "fenced") == 0;
  int n = quick_mode(argc, argv, fenced ? 2 : 1, "[fenced] [--quick]") ? 10000 : 1000000;
  if (fenced)
    fenced_section(n);
  else
    bare_section(n);
  return 0;
}
