// hertzle: prints how many clock ticks of times() pass during a one-second
// sleep.  It uses only POSIX and the C library and shares no code with the
// rest of the toolkit, so it builds on any POSIX system.

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/times.h>
#include <unistd.h>

// Ticks of elapsed real time across sleep(1): one plain difference of the
// two times() results, neither averaged nor repeated.  The subtraction is
// done unsigned because the tick count may wrap past the top of clock_t (a
// 32-bit long on 32-bit Linux), where a signed difference would overflow;
// unsigned it still gives the ticks that passed.
int tps() {
  struct tms t;
  clock_t start = times(&t);
  sleep(1);
  clock_t end = times(&t);
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
