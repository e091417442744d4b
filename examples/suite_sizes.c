/* Three ways to copy bytes over six sizes, 64 bytes to 1 MiB, with each
 * copy's rate in bytes/s: a family per function, registered with its
 * size as the argument.  The harness is main's eight lines.  Run it with
 * --time-unit ns for times, --repetitions 5 --aggregates for the spread,
 * --csv for a spreadsheet. */
#include <cyclekit/keep.h>
#include <cyclekit/suite.h>
#include <string.h>

#define MOST (1 << 20)
static unsigned char from[MOST], to[MOST];

static void copy(int n) {
  memcpy(to, from, (size_t)n);
  CYCLEKIT_CLOBBER();
}

static void move(int n) {
  memmove(to, from, (size_t)n);
  CYCLEKIT_CLOBBER();
}

/* Byte by byte, volatile so the compiler cannot make it a memcpy. */
static void loop(int n) {
  volatile unsigned char *out = to;
  for (int i = 0; i < n; i++)
    out[i] = from[i];
}

int main(int argc, char **argv) {
  struct cyclekit_suite *s = cyclekit_suite_open("copies", argc, argv);
  cyclekit_suite_run_range(s, "memcpy", copy, 64, MOST, 8);
  cyclekit_suite_run_range(s, "memmove", move, 64, MOST, 8);
  cyclekit_suite_run_range(s, "loop", loop, 64, MOST, 8);
  cyclekit_suite_throughput_per_arg(s, "memcpy", 1, 0);
  cyclekit_suite_throughput_per_arg(s, "memmove", 1, 0);
  cyclekit_suite_throughput_per_arg(s, "loop", 1, 0);
  return cyclekit_suite_close(s);
}
