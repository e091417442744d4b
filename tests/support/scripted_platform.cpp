// The clock module's raw counter read (in a build with its platform header
// support/scripted_arch.h) and, through -Wl,--wrap, times(), sleep() and
// clock_nanosleep().

#include <errno.h>
#include <sys/times.h>

#include "scripted.h"

extern "C" {

void cyclekit_scripted_read(uint32_t *hi, uint32_t *lo) {
  scripted::note('c');
  uint64_t v = scripted::next_reading();
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}

// counter_step's delay before a read: no time passes, the test may see it.
void cyclekit_scripted_delay(int spins) { scripted::delay(spins); }

// Elapsed ticks are returned and user time is the same number; the other
// fields are noise that no caller may use.
clock_t __wrap_times(struct tms *t) {
  scripted::note('t');
  if (int e = scripted::times_errno()) {
    errno = e;  // the structure is left unwritten, as the kernel leaves it
    return (clock_t)-1;
  }
  clock_t v = scripted::next_tick();
  t->tms_utime = v;
  t->tms_stime = t->tms_cutime = t->tms_cstime = 12345;
  return v;
}

// Takes no time; the trace records the length asked for.
unsigned __wrap_sleep(unsigned seconds) {
  scripted::note('z');
  for (char digit : std::to_string(seconds))
    scripted::note(digit);
  return 0;
}

// Takes no time either.
int __wrap_clock_nanosleep(clockid_t, int, const struct timespec *, struct timespec *) {
  scripted::note('n');
  return 0;
}

}  // extern "C"
