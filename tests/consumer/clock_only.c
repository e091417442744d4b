/* Times a loop with the counter alone. */
#include <cyclekit/clock.h>
#include <stdio.h>

static volatile int sink;

int main(void) {
  start_counter();
  for (int i = 0; i < 10000; i++)
    sink = i;
  double cycles = get_counter();
  double overhead = ovhd();
  printf("loop: %.0f cycles, counter overhead: %.0f cycles\n", cycles, overhead);
  if (!(cycles > overhead && overhead > 0)) {
    fputs("clock_only: implausible counts\n", stderr);
    return 1;
  }
  return 0;
}
