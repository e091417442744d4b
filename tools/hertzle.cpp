// hertzle: prints how many clock ticks of times() pass during a one-second
// sleep.  It uses only POSIX and the C library and shares no code with the
// rest of the toolkit, so it builds on any POSIX system.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/times.h>
#include <unistd.h>

// Ticks of elapsed real time across sleep(1): one plain difference of the
// two times() results, neither averaged nor repeated.  The subtraction is
// done unsigned because the tick count may wrap past the top of clock_t (a
// 32-bit long on 32-bit Linux), where a signed difference would overflow;
// unsigned it still gives the ticks that passed.
// times(), or the end of the program with a message if it fails (a sandbox
// may forbid it): a difference of two failures would read as 0 ticks.
// (clock_t)-1 is also a valid count, so errno tells a failure.
static clock_t elapsed_ticks(struct tms *t) {
  errno = 0;
  clock_t now = times(t);
  if (now == (clock_t)-1 && errno != 0) {
    fprintf(stderr, "hertzle: times() failed: %s\n", strerror(errno));
    exit(1);
  }
  return now;
}

int tps() {
  struct tms t;
  clock_t start = elapsed_ticks(&t);
  sleep(1);
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
