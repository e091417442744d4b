/* Measures a function with the driver and times one run with the counter.
 * Fails unless the driver made exactly the runs its settings ask for. */
#include <cyclekit/bestof.h>
#include <cyclekit/clock.h>
#include <stdio.h>

static volatile int sink;
static int calls;

static void work(int n) {
  int s = 0;
  calls++;
  for (int i = 0; i < n; i++)
    s += i;
  sink = s;
}

int main(void) {
  set_bestof_maxsamples(6);
  set_bestof_epsilon(-1); /* never converges: exactly six runs */
  double best = bestof(work, 1000);
  int runs = calls;

  start_counter();
  work(1000);
  double one = get_counter();

  printf("bestof: %.0f cycles in %d runs; one run: %.0f cycles\n", best, runs, one);
  if (runs != 6 || !(best > 0) || !(one > 0)) {
    fputs("use_from_c: wrong run count or count\n", stderr);
    return 1;
  }
  return 0;
}
