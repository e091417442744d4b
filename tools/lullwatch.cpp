// lullwatch: prints the lengths, in cycles, of five periods during which the
// process was not running.  It polls the cycle counter in a tight loop; two
// consecutive reads lie close together unless something else ran between
// them, so a gap of at least 1000 cycles marks a period spent elsewhere.

#include <limits.h>
#include <stdio.h>

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

int main() {
  for (int i = 0; i < 5; i++)
    printf("%d cycles\n", inactive_duration(1000));
  return 0;
}
