/* Measures a function with the driver and times one run with the counter;
 * then measures a region of 4 iterations, plain and with one warm-up run.  Fails unless the driver
 * made exactly the runs its settings ask for. */
#include <cyclekit/bestof.h>
#include <cyclekit/clock.h>
#include <cyclekit/region.h>
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

static void region(struct bestof_region *r, void *arg) {
  long n = bestof_region_iterations(r);
  bestof_region_start(r);
  for (long i = 0; i < n; i++)
    work(*(const int *)arg);
  bestof_region_stop(r);
}

int main(void) {
  set_bestof_maxsamples(6);
  set_bestof_epsilon(-1); /* never converges: exactly six runs */
  double best = bestof(work, 1000);
  int runs = calls;

  start_counter();
  work(1000);
  double one = get_counter();

  calls = 0;
  int size = 1000;
  double per = bestof_region_run(NULL, region, &size, 4);
  int region_calls = calls;
  /* Four iterations a run, and one run not kept before the six kept. */
  struct bestof_region_plan plan = {4, 1, 1};
  calls = 0;
  double planned = bestof_region_run_plan(NULL, region, &size, &plan);

  printf("bestof: %.0f cycles in %d runs; one run: %.0f cycles\n", best, runs, one);
  if (runs != 6 || !(best > 0) || !(one > 0) || region_calls != 6 * 4 || !(per > 0) ||
      calls != 7 * 4 || !(planned > 0)) {
    fputs("use_from_c: wrong run count or count\n", stderr);
    return 1;
  }
  return 0;
}
