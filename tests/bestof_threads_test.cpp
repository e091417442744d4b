// Measurements from several threads take turns: each gets its own answer
// and report, a setter from another thread waits for the running
// measurement, and nothing runs an exit handler under a measurement.  The
// threads are ordered, not left to luck: a thread that must be waiting for
// its turn is waited for until the kernel shows it asleep (blocked on the
// driver's lock), and only then does the measuring thread go on.
//
// The counter is this file's own: each thread reads counts from its own
// script, so a count that strays into another thread's measurement shows in
// that thread's answer.  The lock's calls (take_turn, give_turn) go through
// -Wl,--wrap, so a signal can be raised just after the lock is taken or just
// before it is let go, and a test sees when a thread waits for it.

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bestof.h"
#include "compare.h"

// ---- A counter per thread -------------------------------------------------------
//
// A thread's counts are base, base + 1, ..., base + 4, base, ...: with the
// default settings its measurement converges after three runs and answers
// base.  base 0 (a thread that set none) reads 1e6 and up.

namespace {
thread_local double base = 0;
thread_local int reads = 0;
double next_count() { return (base > 0 ? base : 1e6) + reads++ % 5; }
}  // namespace

extern "C" {
void start_counter(void) {}
double get_counter(void) { return next_count(); }
void start_comp_counter(void) {}
double get_comp_counter(void) { return next_count(); }
void start_fenced_counter(void) {}
double get_fenced_counter(void) { return next_count(); }
double core_per_tick(void) { return 1; }
double counter_step(void) { return 1; }
void core_chain(int) {}
int core_chain_adds(void) { return 0; }
}

// ---- The lock's seam --------------------------------------------------------------

namespace {
// Raise SIGUSR1 in this thread right after the lock is taken / before it is
// released, once.
thread_local bool raise_after_lock = false, raise_before_unlock = false;
// 1 while a thread holds the driver's lock.
int held = 0;
// Called in this thread right after each release of the lock, while set.
thread_local void (*after_unlock)() = nullptr;
// Called in this thread around its waits for the lock, while set.
thread_local void (*before_lock)() = nullptr;
thread_local void (*after_lock)() = nullptr;
}  // namespace

extern "C" void __real__ZN15bestof_internal9take_turnEv();
extern "C" void __real__ZN15bestof_internal9give_turnEv();

extern "C" void __wrap__ZN15bestof_internal9take_turnEv() {
  if (before_lock != nullptr)
    before_lock();
  __real__ZN15bestof_internal9take_turnEv();
  held++;
  if (after_lock != nullptr)
    after_lock();
  if (raise_after_lock) {
    raise_after_lock = false;
    raise(SIGUSR1);
  }
}

extern "C" void __wrap__ZN15bestof_internal9give_turnEv() {
  if (raise_before_unlock) {
    raise_before_unlock = false;
    raise(SIGUSR1);
  }
  held--;
  __real__ZN15bestof_internal9give_turnEv();
  if (after_unlock != nullptr)
    after_unlock();
}

namespace {

const char kNested[] = "^Fatal error.  bestof called from inside a measurement\n$";

pid_t thread_id() { return (pid_t)syscall(SYS_gettid); }

// The kernel's state letter of one of this process's threads; 0 once the
// thread is gone.
char state_of(pid_t tid) {
  char path[64], text[512];
  snprintf(path, sizeof path, "/proc/self/task/%d/stat", (int)tid);
  FILE *f = fopen(path, "r");
  if (f == nullptr)
    return 0;
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = '\0';
  const char *paren = strrchr(text, ')');
  return paren != nullptr && paren[1] == ' ' ? paren[2] : 0;
}

int load(const int &x) { return __atomic_load_n(&x, __ATOMIC_ACQUIRE); }

// Ends a scenario's child: status 0 if ok, else 2 with why on standard error.
template <typename... Args>
[[noreturn]] void finish(bool ok, const char *why, Args... args) {
  if (!ok)
    fprintf(stderr, why, args...);
  exit(ok ? 0 : 2);
}
void store(int &x, int v) { __atomic_store_n(&x, v, __ATOMIC_RELEASE); }

// A thread that spins until released, then makes one call that must wait
// for the lock.  The waiter learns it is waiting once the kernel shows it
// asleep; a driver that let it through instead sets `done`, which ends the
// wait too, so a broken driver fails the test rather than hanging it.
struct Waiter {
  int tid = 0;
  int go = 0;
  int done = 0;
  // In the waiting thread: says who it is and spins until released.
  void arrive() {
    store(tid, thread_id());
    while (!load(go)) {
    }
  }
  void wait_until_blocked() const {
    while (load(tid) == 0)
      sched_yield();
    while (!load(done) && state_of(load(tid)) != 'S')
      sched_yield();
  }
};

// ---- Exit handlers that would break a running measurement ---------------------------

// Read by every test function here; the exit handler unmaps it and the
// vector's destructor frees its storage.
volatile int *mapped = nullptr;
std::vector<int> global_data(1 << 16, 1);
volatile long sink;

void unmap_at_exit() {
  munmap((void *)mapped, 1 << 20);
  mapped = nullptr;
}

void map_data_and_register_exit_handler() {
  mapped = (volatile int *)mmap(nullptr, 1 << 20, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  atexit(unmap_at_exit);
}

void read_data(int) {
  long s = 0;
  for (int i = 0; i < (1 << 20) / (int)sizeof(int); i += 1024)
    s += mapped[i];
  s += global_data[(size_t)(s & 0xffff)];
  sink = s;
}

// Non-zero if two test functions ever ran at once.
int inside = 0, overlapped = 0;

void enter_fn() {
  if (__atomic_add_fetch(&inside, 1, __ATOMIC_ACQ_REL) != 1)
    store(overlapped, 1);
}
void leave_fn() { __atomic_sub_fetch(&inside, 1, __ATOMIC_ACQ_REL); }

// ---- Many threads at once -------------------------------------------------------

const int kThreads = 4;
Waiter waiters[kThreads];
int calls[kThreads];
int wrong_arg = 0;
double answers[kThreads];
bestof_report reports[kThreads];
// Measurements finished; each thread reads its report only once all are,
// so that a report shared between threads would show the last one.
int measured = 0;

void read_report_once_all_measured(int i) {
  __atomic_add_fetch(&measured, 1, __ATOMIC_ACQ_REL);
  while (load(measured) < kThreads)
    sched_yield();
  bestof_last(&reports[i]);
}

// The first thread's test function: at its first call it releases the
// others and waits until every one of them is waiting for its turn.
void hold_for_the_others(int arg) {
  enter_fn();
  read_data(arg);
  if (arg != 0)
    store(wrong_arg, 1);
  if (calls[0]++ == 0) {
    for (int i = 1; i < kThreads; i++)
      store(waiters[i].go, 1);
    for (int i = 1; i < kThreads; i++)
      waiters[i].wait_until_blocked();
  }
  leave_fn();
}

void counted(int arg) {
  enter_fn();
  read_data(arg);
  if (arg < 1 || arg >= kThreads)
    store(wrong_arg, 1);
  else
    calls[arg]++;
  leave_fn();
}

void *measure_in_turn(void *p) {
  int i = (int)(long)p;
  base = 1000.0 * (i + 1);
  waiters[i].arrive();
  answers[i] = bestof(counted, i);
  store(waiters[i].done, 1);
  read_report_once_all_measured(i);
  return nullptr;
}

// Exits 0 when every thread's answer and report are its own, with exit
// handlers and a global destructor to run at the end; 2 with the reason
// otherwise.
void many_threads_take_turns() {
  map_data_and_register_exit_handler();
  pthread_t t[kThreads];
  for (int i = 1; i < kThreads; i++)
    pthread_create(&t[i], nullptr, measure_in_turn, (void *)(long)i);
  base = 1000;
  answers[0] = bestof(hold_for_the_others, 0);
  read_report_once_all_measured(0);
  for (int i = 1; i < kThreads; i++)
    pthread_join(t[i], nullptr);
  int bad = overlapped || wrong_arg;
  for (int i = 0; i < kThreads; i++) {
    const bestof_report &r = reports[i];
    double b = 1000.0 * (i + 1);
    if (answers[i] != b || r.least != b || r.kth_least != b + 2 || r.runs != 3 || calls[i] != 3 ||
        r.converged != 1 || r.k != 3) {
      fprintf(stderr, "thread %d: answer %g, report %g..%g over %d runs, %d calls\n", i, answers[i],
              r.least, r.kth_least, r.runs, calls[i]);
      bad = 1;
    }
  }
  finish(!bad, "%s", overlapped ? "two test functions ran at once\n" : "");
}

TEST(ThreadsDeathTest, ManyThreadsTakeTurnsEachWithItsOwnAnswerAndReport) {
  EXPECT_EXIT(many_threads_take_turns(), testing::ExitedWithCode(0), "^$");
}

// ---- A setter from another thread --------------------------------------------------

Waiter setter;
int set_before_the_end = 0;

void *set_flush_size(void *) {
  setter.arrive();
  set_bestof_cache_sizee(2 << 20);
  set_bestof_maxsamples(1);
  store(setter.done, 1);
  return nullptr;
}

int held_calls = 0;
void hold_for_the_setter(int) {
  if (held_calls++ == 0) {
    store(setter.go, 1);
    setter.wait_until_blocked();
  }
  if (load(setter.done))
    store(set_before_the_end, 1);
}

// The flush buffer (1 MiB, its own mapping) must not be given back while the
// measurement flushes with it, and the run limit set meanwhile waits too.
void setter_races_a_measurement() {
  set_bestof_cache_sizee(1 << 20);
  set_bestof_clear_cache(1);
  set_bestof_epsilon(-1);  // never converges: the run limit ends it
  pthread_t t;
  pthread_create(&t, nullptr, set_flush_size, nullptr);
  bestof(hold_for_the_setter, 0);
  bestof_report first;
  bestof_last(&first);
  pthread_join(t, nullptr);
  int ok = !set_before_the_end && first.runs == 20 && held_calls == 20;
  bestof(hold_for_the_setter, 0);
  bestof_report second;
  bestof_last(&second);
  finish(ok && second.runs == 1, "setter returned early: %d, runs %d then %d\n", set_before_the_end,
         first.runs, second.runs);
}

TEST(ThreadsDeathTest, SetterFromAnotherThreadWaitsForTheMeasurement) {
  EXPECT_EXIT(setter_races_a_measurement(), testing::ExitedWithCode(0), "^$");
}

// ---- A thread that measured before, calling again ------------------------------------

Waiter again;
int b_calls = 0;
double again_answer = 0;

void nothing(int) {}

void *measure_twice(void *) {
  base = 500;
  bestof(nothing, 1);  // finished before the other thread starts
  again.arrive();
  again_answer = bestof(nothing, 1);
  store(again.done, 1);
  return nullptr;
}

void hold_for_the_second_call(int) {
  if (b_calls++ == 0) {
    store(again.go, 1);
    again.wait_until_blocked();
  }
}

void finished_thread_calls_again() {
  pthread_t t;
  pthread_create(&t, nullptr, measure_twice, nullptr);
  while (load(again.tid) == 0)
    sched_yield();
  base = 700;
  double mine = bestof(hold_for_the_second_call, 0);
  pthread_join(t, nullptr);
  exit(mine == 700 && again_answer == 500 ? 0 : 2);
}

TEST(ThreadsDeathTest, AThreadThatMeasuredBeforeWaitsItsTurnAgain) {
  EXPECT_EXIT(finished_thread_calls_again(), testing::ExitedWithCode(0), "^$");
}

// ---- Fatal misuse with another thread waiting ------------------------------------------

Waiter blocked;

void *wait_to_measure(void *) {
  blocked.arrive();
  bestof(read_data, 0);  // would read the data the exit handler unmaps
  store(blocked.done, 1);
  return nullptr;
}

void nest_once_the_other_waits(int) {
  store(blocked.go, 1);
  blocked.wait_until_blocked();
  bestof(read_data, 0);
}

void nested_call_with_a_thread_waiting() {
  map_data_and_register_exit_handler();
  pthread_t t;
  pthread_create(&t, nullptr, wait_to_measure, nullptr);
  bestof(nest_once_the_other_waits, 0);
}

TEST(ThreadsDeathTest, NestedCallStaysFatalWhileAnotherThreadWaits) {
  EXPECT_EXIT(nested_call_with_a_thread_waiting(), testing::ExitedWithCode(1), kNested);
}

void abandon_inside(int) { bestof_abandon(); }

void say_whether_the_lock_is_held() { fputs(held == 1 ? "held\n" : "free\n", stderr); }

void abandon_and_exit() {
  atexit(say_whether_the_lock_is_held);
  bestof(abandon_inside, 0);
}

// bestof_abandon from the test function ends the process with a message.
// The abandoned measurement released the lock; the exit takes it again, so
// that no other thread measures while the exit handlers run.
TEST(ThreadsDeathTest, AbandonFromTheTestFunctionEndsTheProcessHoldingTheLock) {
  EXPECT_EXIT(abandon_and_exit(), testing::ExitedWithCode(1),
              "^Fatal error.  bestof_abandon called from inside a measurement\nheld\n$");
}

// ---- A fork from the test function, another thread in line ------------------------

Waiter in_line;
pid_t child = -1;

void *measure_in_line(void *) {
  in_line.arrive();
  bestof(nothing, 0);
  store(in_line.done, 1);
  return nullptr;
}

void fork_once_the_other_waits(int) {
  if (child != -1)
    return;
  store(in_line.go, 1);
  in_line.wait_until_blocked();
  child = fork();
}

// The child goes on with the measurement without the thread in line, whose
// place the child must not wait for when it measures again.
void fork_with_a_thread_in_line() {
  pthread_t t;
  pthread_create(&t, nullptr, measure_in_line, nullptr);
  bestof(fork_once_the_other_waits, 0);
  if (child == 0) {
    alarm(10);
    bestof(nothing, 0);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  pthread_join(t, nullptr);
  finish(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the child %s\n",
         WIFSIGNALED(status) ? "deadlocked" : "failed");
}

TEST(ThreadsDeathTest, ForkFromTheTestFunctionLeavesTheThreadInLineBehind) {
  EXPECT_EXIT(fork_with_a_thread_in_line(), testing::ExitedWithCode(0), "^$");
}

// ---- A thread cancelled while in line -------------------------------------------------

Waiter to_cancel;
pthread_t cancelled_thread;
bool cancel_sent = false;

void *wait_to_be_cancelled(void *) {
  to_cancel.arrive();
  bestof(nothing, 0);
  store(to_cancel.done, 1);
  return nullptr;
}

void cancel_once_the_other_waits(int) {
  if (cancel_sent)
    return;
  store(to_cancel.go, 1);
  to_cancel.wait_until_blocked();
  pthread_cancel(cancelled_thread);
  cancel_sent = true;
}

// Waiting for a turn is no cancellation point: the thread cancelled there
// still takes its turn and lets it go, and the next measurement is not
// stuck behind it (alarm: a deadlock ends the process).
void cancel_a_thread_in_line() {
  alarm(10);
  pthread_create(&cancelled_thread, nullptr, wait_to_be_cancelled, nullptr);
  bestof(cancel_once_the_other_waits, 0);
  pthread_join(cancelled_thread, nullptr);
  bestof(nothing, 0);
  finish(load(to_cancel.done) == 1, "the cancelled thread never measured\n");
}

TEST(ThreadsDeathTest, AThreadCancelledInLineTakesItsTurnAndLetsItGo) {
  EXPECT_EXIT(cancel_a_thread_in_line(), testing::ExitedWithCode(0), "^$");
}

// ---- A signal handler at the edges of a measurement ------------------------------------

void measure_from_handler(int) { bestof(read_data, 0); }

void signal_at_an_edge(bool after_lock) {
  map_data_and_register_exit_handler();
  signal(SIGUSR1, measure_from_handler);
  if (after_lock)
    raise_after_lock = true;
  else
    raise_before_unlock = true;
  bestof(read_data, 0);
  exit(3);  // the handler was never called
}

TEST(ThreadsDeathTest, HandlerJustAfterTheLockIsTakenOrBeforeItIsReleasedIsToldItIsNested) {
  for (bool after_lock : {true, false})
    EXPECT_EXIT(signal_at_an_edge(after_lock), testing::ExitedWithCode(1), kNested) << after_lock;
}

// ---- Settings set whole while another thread measures ------------------------------

// Two whole sets, apart in every field that a report shows.
bestof_settings set_a, set_b;
// Calls of the measured function so far: one made after a release of the
// lock belongs to a measurement that started after it.
int probe_calls = 0;
int changes_done = 0;

void probe(int) { __atomic_add_fetch(&probe_calls, 1, __ATOMIC_ACQ_REL); }

// Each time the setting thread lets the lock go, it waits until a
// measurement has started (or a second has passed), so that one starts at
// every point where the settings are released, half set or whole.
void wait_for_a_measurement() {
  int before = load(probe_calls);
  for (int i = 0; i < 100000 && load(probe_calls) == before && !load(changes_done); i++)
    usleep(10);
}

void *alternate_sets(void *) {
  after_unlock = wait_for_a_measurement;
  for (int i = 0; i < 6; i++)
    set_bestof_settings(i % 2 ? &set_a : &set_b);
  after_unlock = nullptr;
  store(changes_done, 1);
  return nullptr;
}

bool is_whole(const bestof_report &r, const bestof_settings &s) {
  return r.k == s.k && r.tolerance == s.epsilon && r.batch == s.batch && r.fenced == s.fence &&
         r.core_cycles == s.core_cycles;
}

void settings_set_whole_beside_a_measurement() {
  get_bestof_settings(&set_a);
  set_a.k = 2;
  set_a.epsilon = 0.5;
  set_a.batch = 1;
  set_b = set_a;
  set_b.k = 4;
  set_b.epsilon = 0.25;
  set_b.batch = 3;
  set_b.fence = 1;
  set_b.core_cycles = 1;
  set_bestof_settings(&set_a);
  base = 100;
  pthread_t t;
  pthread_create(&t, nullptr, alternate_sets, nullptr);
  int measured = 0, mixed = 0;
  while (!load(changes_done)) {
    bestof(probe, 0);
    bestof_report r;
    bestof_last(&r);
    measured++;
    if (!is_whole(r, set_a) && !is_whole(r, set_b)) {
      if (mixed++ == 0)
        fprintf(stderr, "mixed: k %d, tolerance %g, batch %d, fenced %d, core cycles %d\n", r.k,
                r.tolerance, r.batch, r.fenced, r.core_cycles);
    }
  }
  pthread_join(t, nullptr);
  exit(mixed == 0 && measured >= 6 ? 0 : 2);
}

TEST(ThreadsDeathTest, SettingsSetWholeNeverMeetAMeasurementHalfSet) {
  EXPECT_EXIT(settings_set_whole_beside_a_measurement(), testing::ExitedWithCode(0), "^$");
}

// ---- A comparison beside another thread's verbose measurement --------------------------

Waiter verbose_one;
int compared_calls = 0;

// The other thread measures once, printing its line, then turns the verbose
// setting off.
void *measure_aloud_then_quiet(void *) {
  base = 300;
  verbose_one.arrive();
  bestof(nothing, 0);
  set_bestof_verbose(0);
  store(verbose_one.done, 1);
  return nullptr;
}

// After a measurement's lock is let go, the comparing thread waits for the
// other thread to be done, so that its measurement and its setter fall
// between two of the comparison's answers.
void wait_for_the_verbose_one() {
  after_unlock = nullptr;
  for (int i = 0; i < 100000 && !load(verbose_one.done); i++)
    usleep(10);
}

void compared(int) {
  if (compared_calls++ == 0) {
    store(verbose_one.go, 1);
    after_unlock = wait_for_the_verbose_one;
  }
}

void compare_beside_a_verbose_measurement() {
  FILE *out = tmpfile();
  set_bestof_verbose_stream(out);
  set_bestof_verbose(1);
  pthread_t t;
  pthread_create(&t, nullptr, measure_aloud_then_quiet, nullptr);
  base = 1000;
  bestof_compare(compared, 0, compared, 0, nullptr);
  pthread_join(t, nullptr);
  bestof_settings s;
  get_bestof_settings(&s);
  rewind(out);
  char line[512];
  int bestof_lines = 0, compare_lines = 0;
  while (fgets(line, sizeof line, out) != nullptr) {
    bestof_lines += strncmp(line, "bestof: 300.0 cycles", 20) == 0;
    compare_lines += strncmp(line, "compare: ", 9) == 0;
  }
  finish(load(verbose_one.done) && bestof_lines == 1 && compare_lines == 1 && s.verbose == 0,
         "%d bestof lines, %d compare lines, verbose %d\n", bestof_lines, compare_lines, s.verbose);
}

TEST(ThreadsDeathTest, ComparisonLeavesAnotherThreadsLineAndVerboseSettingAlone) {
  EXPECT_EXIT(compare_beside_a_verbose_measurement(), testing::ExitedWithCode(0), "^$");
}

// ---- Turns in the order asked -------------------------------------------------------

// One thread measures in a loop; another asks for the lock again and again,
// by a setter or a measurement of its own.  Each measurement's first run
// waits until the asker is asleep in its wait for the lock: that measurement
// ends with the asker ahead in line, so the next must not start before the
// asker has had its turn.  Whatever the load, a fair lock never lets the
// measuring thread overtake; a plain mutex did it at most turns (399 of 400
// on a quiet machine, two thirds or more under load).

const int kAsks = 100;
int asker_tid = 0, started = 0, measuring = 0, asking = 0, asks_served = 0, asks_done = 0;
thread_local bool is_asker = false;
bool first_run = false, seen_waiting = false;
int served_when_seen = 0, overtakes = 0, measurements = 0;

void asks() { store(asking, 1); }
void served() {
  store(asks_served, load(asks_served) + 1);
  store(asking, 0);
}

bestof_settings as_they_are;
void ask_by_setting() { set_bestof_settings(&as_they_are); }
void ask_by_measuring() { bestof(nothing, 0); }

// The asker wakes on a processor of its own, which takes a while: on the
// measuring thread's it could run at once and hide an unfair lock.  With
// one processor there is nothing to pin.
void run_on(int nth) {
  cpu_set_t allowed, one;
  sched_getaffinity(0, sizeof allowed, &allowed);
  CPU_ZERO(&one);
  for (int cpu = 0, seen = 0; cpu < CPU_SETSIZE; cpu++)
    if (CPU_ISSET(cpu, &allowed) && seen++ == nth)
      CPU_SET(cpu, &one);
  if (CPU_COUNT(&allowed) > 1)
    pthread_setaffinity_np(pthread_self(), sizeof one, &one);
}

void *ask_again_and_again(void *ask) {
  run_on(1);
  store(asker_tid, thread_id());
  is_asker = true;
  before_lock = asks;
  after_lock = served;
  for (int i = 0; i < kAsks; i++) {
    while (load(started) <= i && load(measuring))
      sched_yield();
    ((void (*)())ask)();
  }
  store(asks_done, 1);
  return nullptr;
}

bool asker_asleep_in_line() { return load(asking) && state_of(load(asker_tid)) == 'S'; }

void watch_the_asker(int) {
  if (!first_run)
    return;
  first_run = false;
  store(started, load(started) + 1);
  if (seen_waiting && load(asks_served) == served_when_seen)
    overtakes++;
  for (int i = 0; i < 100000 && !load(asks_done) && !asker_asleep_in_line(); i++)
    sched_yield();
  seen_waiting = asker_asleep_in_line();
  served_when_seen = load(asks_served);
}

const struct {
  const char *asker;
  void (*ask)();
} askers[] = {
    {"a setter", ask_by_setting},
    {"another thread's measurement", ask_by_measuring},
};

TEST(Turns, AThreadWaitingForTheLockGetsItBeforeTheHolderTakesItAgain) {
  cpu_set_t mine;
  sched_getaffinity(0, sizeof mine, &mine);
  run_on(0);
  for (const auto &a : askers) {
    get_bestof_settings(&as_they_are);
    store(asker_tid, 0);
    store(started, 0);
    store(measuring, 1);
    store(asks_done, 0);
    store(asks_served, 0);
    overtakes = measurements = 0;
    seen_waiting = false;
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, nullptr, ask_again_and_again, (void *)a.ask), 0);
    while (load(asker_tid) == 0)
      sched_yield();
    for (; !load(asks_done) && measurements < 4 * kAsks; measurements++) {
      first_run = true;
      bestof(watch_the_asker, 0);
    }
    int served_meanwhile = load(asks_served);
    store(measuring, 0);
    pthread_join(t, nullptr);
    EXPECT_TRUE(overtakes == 0 && served_meanwhile == kAsks)
        << a.asker << ": " << overtakes << " overtakes; served " << served_meanwhile << " of "
        << kAsks << " asks over " << measurements << " measurements";
  }
  sched_setaffinity(0, sizeof mine, &mine);
}

}  // namespace
