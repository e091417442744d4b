// lullwatch: prints the lengths, in cycles, of five periods during which the
// process was not running.  It polls the cycle counter in a tight loop; two
// consecutive reads lie close together unless something else ran between
// them, so a gap of at least 1000 cycles marks a period spent elsewhere.

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "clock.h"

// Truncates a gap toward zero.  A gap outside the int range (a counter that
// ran backwards reads as almost 2^64) becomes INT_MIN, as the 32-bit x86
// conversion gives, so it lies below any positive threshold and the search
// goes on; converting it directly would be undefined.
static int gap_to_int(double gap) {
  if (gap > -2147483649.0 && gap < 2147483648.0)
    return (int)gap;
  return INT_MIN;
}

// Returns the length of the first gap of at least threshold cycles between
// two consecutive counter reads.
int inactive_duration(int threshold) {
  start_counter();
  double oldt = get_counter();
  for (;;) {
    double newt = get_counter();
    int gap = gap_to_int(newt - oldt);
    if (gap >= threshold)
      return gap;
    oldt = newt;
  }
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
    if (printf("%d cycles\n", inactive_duration(1000)) < 0 || fflush(stdout) != 0)
      return output_failed();
  }
  return 0;
}
