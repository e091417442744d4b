/* Is four accumulators faster than one?  Sums an array of doubles two ways
 * and prints each version's cycles per element, then the ratio of the
 * second to the first with its 95 % sign-test interval and the verdict.  A floating
 * point sum may not be reordered, so the one-accumulator loop waits for each
 * addition in turn; four accumulators keep four additions in flight.  Build
 * it against an installed cyclekit with
 *   cc compare_sums.c $(pkg-config --cflags --libs cyclekit) */
#include <cyclekit/compare.h>
#include <stdio.h>

#define MAX_ELEMENTS 8192
#define COMPARED 4096

static double data[MAX_ELEMENTS];

static void one_accumulator(int n) {
  double s = 0;
  for (int i = 0; i < n; i++)
    s += data[i];
  CYCLEKIT_KEEP(s);
}

static void four_accumulators(int n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += data[i];
    s1 += data[i + 1];
    s2 += data[i + 2];
    s3 += data[i + 3];
  }
  for (; i < n; i++)
    s0 += data[i];
  CYCLEKIT_KEEP((s0 + s1) + (s2 + s3));
}

static void print_fit(const char *name, bestof_test_fn f) {
  struct bestof_fit fit;
  bestof_cpe(f, MAX_ELEMENTS / 8, MAX_ELEMENTS, &fit);
  printf("%-18s %6.3f cycles per element, R^2 %.5f\n", name, fit.slope, fit.r2);
}

int main(void) {
  for (int i = 0; i < MAX_ELEMENTS; i++)
    data[i] = (i & 0xff) * 0.5;
  print_fit("one accumulator:", one_accumulator);
  print_fit("four accumulators:", four_accumulators);

  struct bestof_comparison c;
  bestof_compare(one_accumulator, COMPARED, four_accumulators, COMPARED, &c);
  const char *verdict = c.verdict < 0 ? "faster" : c.verdict > 0 ? "slower" : "not distinguishable";
  printf("four / one at %d elements: %.3f (95%% sign-test interval %.3f to %.3f), %s\n", COMPARED,
         c.ratio, c.low, c.high, verdict);
  return 0;
}
