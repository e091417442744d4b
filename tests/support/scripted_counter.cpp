// The counter functions by name, for code that calls the counter from
// outside its module.  A new counter function is one more pair of lines.

#include <cstdint>

#include "scripted.h"

extern "C" {

void start_counter(void) { scripted::note('S'); }
double get_counter(void) {
  scripted::note('R');
  return scripted::next_count();
}

void start_comp_counter(void) { scripted::note('s'); }
double get_comp_counter(void) {
  scripted::note('r');
  return scripted::next_count();
}

void start_fenced_counter(void) { scripted::note('X'); }
double get_fenced_counter(void) {
  scripted::note('x');
  return scripted::next_count();
}

// The counter as it stands: the next count, in the two halves.  Weak: a
// test whose code under test reads the counter bare, for no measurement,
// gives its own.
__attribute__((weak)) void access_counter(uint32_t *hi, uint32_t *lo) {
  scripted::note('A');
  uint64_t v = uint64_t(scripted::next_count());
  *hi = uint32_t(v >> 32), *lo = uint32_t(v);
}

double core_per_tick(void) {
  scripted::note('C');
  return scripted::next_core_figure();
}
// The reference chain's runs are scripted like any other; it is taken to
// exist on every platform, so the driver's use of it is tested everywhere.
void core_chain(int) {}
int core_chain_adds(void) { return 64; }
double counter_step(void) {
  scripted::note('T');
  return scripted::current_step();
}

}  // extern "C"
