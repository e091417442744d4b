// Linked into bench_precise_load_coarse with
// -Wl,--wrap=get_fenced_counter,--wrap=counter_step: the fenced pair's
// counts quantised to a counter that advances by COARSE_STEP ticks at a
// time, started at a random phase of its step, as on a virtual machine
// whose counter steps by 21 to 27 ticks.  Only the quantisation is made up;
// the durations are this machine's.

#include <math.h>
#include <stdlib.h>

static const double COARSE_STEP = 21;

extern "C" double __real_get_fenced_counter(void);

extern "C" double __wrap_get_fenced_counter(void) {
  double d = __real_get_fenced_counter();
  double phase = COARSE_STEP * (rand() / (RAND_MAX + 1.0));
  return floor((phase + d) / COARSE_STEP) * COARSE_STEP;
}

extern "C" double __wrap_counter_step(void) { return COARSE_STEP; }
