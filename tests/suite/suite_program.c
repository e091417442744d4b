/* A small suite for the tests of the suite's command line, its result file
 * and cyclekit-compare.  Built three times: as it is; with
 * SUITE_PROGRAM_SLOWER, where the multiply chain does twice the work; and
 * with SUITE_PROGRAM_CRASH, whose multiply chain ends the process by
 * SIGABRT (which the sanitizers, unlike SIGSEGV, leave alone).  It takes
 * the user's locale, as a program that formats numbers for people does. */
#include <cyclekit/keep.h>
#include <cyclekit/suite.h>
#include <locale.h>
#include <stdint.h>
#include <stdlib.h>

#ifdef SUITE_PROGRAM_SLOWER
#define IMULS 2000
#else
#define IMULS 1000
#endif

static volatile uint64_t seed = 0x9e3779b97f4a7c15u;
static volatile double fseed = 1.5;

static void imul_chain(int n) {
#ifdef SUITE_PROGRAM_CRASH
  abort();
#endif
  uint64_t x = seed, m = seed | 1;
  for (int i = 0; i < n; i++)
    x *= m;
  CYCLEKIT_KEEP(x);
}

static void fadd_chain(int n) {
  double x = 0, y = fseed;
  for (int i = 0; i < n; i++)
    x += y;
  CYCLEKIT_KEEP(x);
}

static void add_one(uint64_t *x) { *x += 1; }
static void (*volatile target)(uint64_t *) = add_one;

static void call_through_pointer(int n) {
  uint64_t x = 0;
  for (int i = 0; i < n; i++)
    target(&x);
  CYCLEKIT_KEEP(x);
}

int main(int argc, char **argv) {
  setlocale(LC_ALL, "");
  struct cyclekit_suite *s = cyclekit_suite_open("tests", argc, argv);
  cyclekit_suite_run(s, "imul chain", imul_chain, IMULS);
  cyclekit_suite_run(s, "fadd chain", fadd_chain, 1000);
  cyclekit_suite_run(s, "call via pointer", call_through_pointer, 500);
  return cyclekit_suite_close(s);
}
