// lullwatch: prints the lengths, in cycles, of five periods during which the
// process was not running.  It polls the cycle counter in a tight loop; two
// consecutive reads lie close together unless something else ran between
// them, so a gap of at least 1000 cycles marks a period spent elsewhere.

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "clock.h"

// A gap of 2^63 cycles or more is no pause: a reading below the start (a
// counter that ran backwards) counts as almost 2^64.  Such a gap becomes
// LLONG_MIN, below any threshold, so the search goes on; converting it
// directly would be undefined.
static long long gap_cycles(double gap) {
  if (gap > -9223372036854775808.0 && gap < 9223372036854775808.0)
    return (long long)gap;  // truncated toward zero
  return LLONG_MIN;
}

// The length of the first gap of at least threshold cycles between two
// consecutive counter reads, at its full length: a pause of a second or two
// is more than 2^31 cycles on a gigahertz counter.
static long long next_lull(int threshold) {
  start_counter();
  double oldt = get_counter();
  for (;;) {
    double newt = get_counter();
    long long gap = gap_cycles(newt - oldt);
    if (gap >= threshold)
      return gap;
    oldt = newt;
  }
}

// Returns the length of the first gap of at least threshold cycles between
// two consecutive counter reads; a gap beyond INT_MAX is given as INT_MAX.
int inactive_duration(int threshold) {
  long long gap = next_lull(threshold);
  return gap > INT_MAX ? INT_MAX : (int)gap;
}

// Printing is the program's one job, so a line that cannot be written
// (a full disk, a closed output, a reader gone) fails the run, loudly.
static int output_failed(void) {
  fprintf(stderr, "lullwatch: cannot write output: %s\n", strerror(errno));
  return 1;
}

int main() {
  for (int i = 0; i < 5; i++) {
    // Each line is out before the next search starts: a reader sees every
    // gap as soon as it is found, and the write is never part of a search.
    if (printf("%lld cycles\n", next_lull(1000)) < 0 || fflush(stdout) != 0)
      return output_failed();
  }
  return 0;
}
