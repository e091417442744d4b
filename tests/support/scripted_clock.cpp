// The monotonic clock as scripted, through -Wl,--wrap=clock_gettime; an
// object of its own, so that only a program linked with that wrap needs
// the real function's other name.

#include <errno.h>
#include <time.h>

#include "scripted.h"

extern "C" int __real_clock_gettime(clockid_t clock, struct timespec *t);

extern "C" int __wrap_clock_gettime(clockid_t clock, struct timespec *t) {
  switch (scripted::next_clock_reading(t)) {
    case 1:
      return 0;
    case 0:
      errno = EPERM;
      return -1;
    default:
      return __real_clock_gettime(clock, t);
  }
}
