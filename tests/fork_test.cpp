// A real fork while another thread is inside a measurement: the child,
// whose copy of the lock is held by a thread it does not have, must still
// measure and change settings.  An alarm in the child turns a deadlock into
// a failure rather than a hang.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "bestof.h"

namespace {

std::atomic<int> inside{0};
std::atomic<int> stop{0};

// Long enough that the fork surely falls inside it; says when it runs.
void long_function(int) {
  inside = 1;
  for (volatile int i = 0; i < 2000000; i++) {
  }
  inside = 0;
}

void short_function(int) {}

void *measure_until_stopped(void *) {
  while (!stop)
    bestof(long_function, 0);
  return nullptr;
}

// What the child does; each ends it with status 0 if the library let it.
void child_measures() {
  double answer = bestof(short_function, 0);
  _exit(answer >= 0 ? 0 : 3);
}
void child_sets_and_measures() {
  set_bestof_k(2);
  set_bestof_maxsamples(5);
  bestof(short_function, 0);
  bestof_report r;
  bestof_last(&r);
  _exit(r.k == 2 && r.runs <= 5 ? 0 : 3);
}

const struct {
  const char *what;
  void (*child)();
} cases[] = {
    {"bestof", child_measures},
    {"setters, bestof and bestof_last", child_sets_and_measures},
};

TEST(ForkWhileAnotherThreadMeasures, TheChildCanMeasure) {
  set_bestof_maxsamples(1000);
  set_bestof_epsilon(0);
  pthread_t t;
  ASSERT_EQ(pthread_create(&t, nullptr, measure_until_stopped, nullptr), 0);
  for (const auto &c : cases) {
    while (!inside) {
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      alarm(10);
      c.child();
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << c.what << ": the child "
        << (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM ? "deadlocked" : "failed");
  }
  stop = 1;
  pthread_join(t, nullptr);
  set_bestof_defaults();
}

}  // namespace
