// Precise mode's stopping rule, idle and beside CPU hogs: how many answers
// settled before the run cap, the wall time per answer, and how close the
// answers for 100 dependent IMULs (300 core cycles at 3 a multiply) came.
//
//   bench_precise_load [hogs] [answers]
//
// starts `hogs` spinning children (default 0) for the loaded figures, then
// prints one table, tab-separated.

#include <cyclekit/bestof.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench.h"
#include "kernels.h"

static std::string processor_name() {
  FILE *f = fopen("/proc/cpuinfo", "r");
  char line[256];
  std::string name = "unknown";
  while (f != NULL && fgets(line, sizeof line, f) != NULL)
    if (strncmp(line, "model name", 10) == 0) {
      const char *colon = strchr(line, ':');
      name = colon ? colon + 2 : line;
      name.erase(name.find_last_not_of("\n") + 1);
      break;
    }
  if (f != NULL)
    fclose(f);
  return name;
}

static std::vector<pid_t> start_hogs(int n) {
  std::vector<pid_t> pids;
  for (int i = 0; i < n; i++) {
    pid_t pid = fork();
    if (pid == 0) {
      volatile unsigned long spin = 0;
      for (;;)
        spin = spin + 1;
    }
    if (pid > 0)
      pids.push_back(pid);
  }
  return pids;
}

static void stop_hogs(const std::vector<pid_t> &pids) {
  for (pid_t pid : pids) {
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
  }
}

int main(int argc, char **argv) {
  int hogs = argc > 1 ? atoi(argv[1]) : 0;
  int n = argc > 2 ? atoi(argv[2]) : 41;
  if (hogs < 0 || n < 1) {
    fprintf(stderr, "usage: %s [hogs] [answers]\n", argv[0]);
    return 2;
  }
  setup_kernels(1 << 20, 4096);
  run_imul_tens(10);
  std::vector<pid_t> pids = start_hogs(hogs);
  if (pin_to_current_cpu() < 0)
    fprintf(stderr, "%s: could not pin the process to one processor\n", argv[0]);
  set_bestof_precise(1);
  std::vector<double> answers, ms, runs;
  int settled = 0, resolved = 0;
  for (int i = 0; i < n; i++) {
    double t0 = wall_seconds();
    answers.push_back(bestof(run_imul_tens, 10));
    ms.push_back((wall_seconds() - t0) * 1e3);
    bestof_report r;
    bestof_last(&r);
    settled += r.converged;
    resolved += r.resolved;
    runs.push_back(r.runs);
  }
  stop_hogs(pids);
  std::vector<double> off;
  for (double a : answers)
    off.push_back(a / 300 - 1);
  printf("figure\tvalue\n");
  printf("processor\t%s\n", processor_name().c_str());
  printf("CPU hogs\t%d\n", hogs);
  printf("precise answers of 100 dependent IMULs\t%d\n", n);
  printf("settled before the run cap (%%)\t%.0f\n", 100.0 * settled / n);
  printf("resolved\t%d\n", resolved);
  printf("runs per answer, median\t%.0f\n", median_of(runs));
  printf("ms per answer, median\t%.3f\n", median_of(ms));
  printf("ms per answer, worst\t%.3f\n", max_of(ms));
  printf("answer, median (core cycles)\t%.1f\n", median_of(answers));
  printf("answers from\t%.1f\n", min_of(answers));
  printf("answers to\t%.1f\n", max_of(answers));
  printf("largest distance from 300 (%%)\t%.2f\n",
         100 * (max_of(off) > -min_of(off) ? max_of(off) : -min_of(off)));
  return 0;
}
