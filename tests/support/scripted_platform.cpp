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

// The fence before a fenced start: no instruction, but a test can count it.
void cyclekit_scripted_fence(void) { scripted::fence(); }

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

// Takes no time; the trace records the length asked for.  It leaves errno
// at EINTR, as a call that succeeds may leave errno anything: a caller that
// tells a failure by errno must clear it before that call.
unsigned __wrap_sleep(unsigned seconds) {
  scripted::note('z');
  for (char digit : std::to_string(seconds))
    scripted::note(digit);
  errno = EINTR;
  return 0;
}

// Takes no time either; answers as scripted, and notes the deadline.
int __wrap_clock_nanosleep(clockid_t, int, const struct timespec *deadline, struct timespec *) {
  scripted::note('n');
  return scripted::next_sleep_answer(deadline);
}

}  // extern "C"
