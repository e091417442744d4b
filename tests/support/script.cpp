// The queues and the trace behind the scripted counter and system calls.

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <deque>
#include <type_traits>

#include "scripted.h"

namespace scripted {
namespace {

std::deque<double> count_queue;
std::deque<uint64_t> reading_queue;
std::deque<clock_t> tick_queue;
std::deque<double> core_queue;
std::deque<int> sleep_queue;
std::deque<double> clock_queue;
struct timespec deadline_asked = {0, 0};
int fence_count = 0;
double step_ticks = 1;
int times_error = 0;
void (*delay_hook)(int) = nullptr;
std::string calls;
bool loaded = false;

[[noreturn]] void stop(const char *why) {
  fprintf(stderr, "scripted: %s; trace so far (%zu calls): %.200s\n", why, calls.size(),
          calls.c_str());
  abort();
}

void dump_trace() { fprintf(stderr, "%s\n", calls.c_str()); }

// A program run by a test gets its script from the environment, once.
template <typename T>
void load(const char *name, std::deque<T> &queue) {
  const char *text = getenv(name);
  if (text == nullptr)
    return;
  char *end;
  for (;;) {
    T v;
    if constexpr (std::is_floating_point<T>::value)
      v = (T)strtod(text, &end);
    else if constexpr (std::is_signed<T>::value)
      v = (T)strtoll(text, &end, 10);
    else
      v = (T)strtoull(text, &end, 10);
    if (end == text)
      break;
    queue.push_back(v);
    text = end;
  }
}

void load_environment() {
  if (loaded)
    return;
  loaded = true;
  if (count_queue.empty() && reading_queue.empty() && tick_queue.empty()) {
    load("SCRIPTED_COUNTS", count_queue);
    load("SCRIPTED_READINGS", reading_queue);
    load("SCRIPTED_TICKS", tick_queue);
    if (const char *e = getenv("SCRIPTED_TIMES_ERRNO"))
      times_error = atoi(e);
  }
  if (getenv("SCRIPTED_TRACE") != nullptr)
    atexit(dump_trace);
}

template <typename T>
T next(std::deque<T> &queue, const char *what) {
  load_environment();
  if (queue.empty())
    stop(what);
  T v = queue.front();
  queue.pop_front();
  return v;
}

}  // namespace

void counts(const std::vector<double> &values) { count_queue.assign(values.begin(), values.end()); }
void add_count(double value) { count_queue.push_back(value); }
void readings(std::initializer_list<uint64_t> values) { reading_queue = values; }
void add_reading(uint64_t value) { reading_queue.push_back(value); }
void ticks(std::initializer_list<clock_t> values) { tick_queue = values; }
void add_tick(clock_t value) { tick_queue.push_back(value); }

void fail_times(int errnum) { times_error = errnum; }

void core_figures(std::initializer_list<double> values) { core_queue = values; }
void step(double ticks) { step_ticks = ticks; }
void on_delay(void (*hook)(int spins)) { delay_hook = hook; }

void sleep_answers(std::initializer_list<int> values) { sleep_queue = values; }
void clock_readings(std::initializer_list<double> seconds) { clock_queue = seconds; }
struct timespec last_deadline() {
  return deadline_asked;
}
int fences() { return fence_count; }

size_t left() {
  return count_queue.size() + reading_queue.size() + tick_queue.size() + core_queue.size() +
         sleep_queue.size() + clock_queue.size();
}
const std::string &trace() { return calls; }
std::string trace_without_step() {
  std::string r;
  for (char c : calls)
    if (c != 'T')
      r += c;
  return r;
}
std::string repeat(const std::string &s, int n) {
  std::string r;
  for (int i = 0; i < n; i++)
    r += s;
  return r;
}

void reset() {
  count_queue.clear();
  reading_queue.clear();
  tick_queue.clear();
  core_queue.clear();
  sleep_queue.clear();
  clock_queue.clear();
  deadline_asked = {0, 0};
  fence_count = 0;
  step_ticks = 1;
  times_error = 0;
  delay_hook = nullptr;
  calls.clear();
}

void note(char call) {
  load_environment();
  if ((long)calls.size() >= max_calls)
    stop("too many calls, a loop that never ends?");
  calls += call;
}

double next_count() { return next(count_queue, "counter read past the end of its script"); }
uint64_t next_reading() {
  return next(reading_queue, "raw counter read past the end of its script");
}
clock_t next_tick() { return next(tick_queue, "times() called past the end of its script"); }

double next_core_figure() {
  return next(core_queue, "core_per_tick called past the end of its script");
}
double current_step() { return step_ticks; }
int times_errno() {
  load_environment();
  return times_error;
}
int next_sleep_answer(const struct timespec *deadline) {
  deadline_asked = *deadline;
  if (sleep_queue.empty())
    return 0;
  int v = sleep_queue.front();
  sleep_queue.pop_front();
  return v;
}
int next_clock_reading(struct timespec *t) {
  if (clock_queue.empty())
    return -1;
  double v = clock_queue.front();
  clock_queue.pop_front();
  if (isnan(v))
    return 0;
  t->tv_sec = (time_t)v;
  t->tv_nsec = (long)llround((v - (double)t->tv_sec) * 1e9);
  return 1;
}
void fence() { fence_count++; }
void delay(int spins) {
  if (delay_hook != nullptr)
    delay_hook(spins);
}

}  // namespace scripted
