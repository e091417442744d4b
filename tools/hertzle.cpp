// hertzle: prints how many clock ticks of times() pass during a one-second
// sleep.  It uses only POSIX and the C library and shares no code with the
// rest of the toolkit, so it builds on any POSIX system.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/times.h>
#include <time.h>
#include <unistd.h>

// times(), or the end of the program with a message if it fails (a sandbox
// may forbid it): a difference of two failures would read as 0 ticks.  The
// C library reports a failure as (clock_t)-1 with errno set (-1 alone is
// also a valid count), or, under a sandbox, as 0 (the kernel's -EPERM) or
// the negated error number with errno untouched; either way the structure
// is left unwritten, which a pattern written first shows.
static clock_t elapsed_ticks(struct tms *t) {
  struct tms unwritten;
  memset(&unwritten, 0xA5, sizeof unwritten);
  *t = unwritten;
  errno = 0;
  clock_t now = times(t);
  if ((now == (clock_t)-1 && errno != 0) || memcmp(t, &unwritten, sizeof unwritten) == 0) {
    if (errno == 0)
      errno = now < 0 && now > -4096 ? (int)-now : EPERM;
    fprintf(stderr, "hertzle: times() failed: %s\n", strerror(errno));
    exit(1);
  }
  return now;
}

static int deadline_passed(const struct timespec *deadline) {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
    return 1;
  return now.tv_sec > deadline->tv_sec ||
         (now.tv_sec == deadline->tv_sec && now.tv_nsec >= deadline->tv_nsec);
}

// sleep(1), made to last the whole second of the monotonic clock: a signal
// cuts it short (the rest is slept again, until the deadline however often
// signals come), and a sandbox may forbid sleeping (EPERM, ENOSYS), where
// the clock is polled instead.  The same rule as the clock module's rate.
static void sleep_one_second(void) {
  struct timespec deadline;
  int have_deadline = clock_gettime(CLOCK_MONOTONIC, &deadline) == 0;
  deadline.tv_sec += 1;
  sleep(1);
  if (!have_deadline)
    return;
  int r;
  do {
    r = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, NULL);
  } while (r == EINTR && !deadline_passed(&deadline));
  if (r != 0)
    while (!deadline_passed(&deadline)) {
    }
}

// Ticks of elapsed real time across one second: one plain difference of the
// two times() results, neither averaged nor repeated.  The subtraction is
// done unsigned because the tick count may wrap past the top of clock_t (a
// 32-bit long on 32-bit Linux), where a signed difference would overflow;
// unsigned it still gives the ticks that passed.
int tps() {
  struct tms t;
  clock_t start = elapsed_ticks(&t);
  sleep_one_second();
  clock_t end = elapsed_ticks(&t);
  return (int)((unsigned long)end - (unsigned long)start);
}

// The line is the program's one product: if it cannot be written (a full
// disk, a closed output, a reader gone), say why and fail.  The flush makes
// the write happen here, where its error can still change the exit status.
int main() {
  if (printf("%d ticks/second\n", tps()) < 0 || fflush(stdout) != 0) {
    fprintf(stderr, "hertzle: cannot write output: %s\n", strerror(errno));
    return 1;
  }
  return 0;
}
