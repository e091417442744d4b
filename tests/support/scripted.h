// Scripted stand-ins for the counter and for the system calls the toolkit
// makes, shared by every test that needs them.
//
// scripted_counter.cpp defines the counter functions by name (start_counter,
// get_counter, ...) for code that calls the counter from outside, such as
// bestof and lullwatch.  scripted_platform.cpp gives the raw counter reading
// of a clock module built on scripted_arch.h and the targets of
// -Wl,--wrap=times,--wrap=sleep.  Both serve values from queues and note
// each call in one trace, a letter per call:
//   S start_counter   R get_counter   s start_comp_counter   r get_comp_counter
//   X start_fenced_counter   x get_fenced_counter   C core_per_tick
//   T counter_step   c raw counter read   t times()   z sleep()
//   n clock_nanosleep()
// A read past the end of its script, or a runaway number of calls, ends the
// process with a message instead of inventing values or growing forever.
//
// A program built against these reads its script from the environment when
// nothing was scripted in-process: SCRIPTED_COUNTS, SCRIPTED_READINGS and
// SCRIPTED_TICKS hold space-separated numbers; SCRIPTED_TIMES_ERRNO, a
// number, makes every times() fail with that errno; with SCRIPTED_TRACE set,
// the trace goes to standard error at exit.
#ifndef CYCLEKIT_TESTS_SCRIPTED_H
#define CYCLEKIT_TESTS_SCRIPTED_H

#include <stdint.h>
#include <time.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace scripted {

// Counts returned by get_counter, get_comp_counter and get_fenced_counter,
// in order.
void counts(const std::vector<double> &values);
void add_count(double value);
// Raw 64-bit readings served to the clock module's counter read.
void readings(std::initializer_list<uint64_t> values);
void add_reading(uint64_t value);
// Tick values returned by times() (also its tms_utime).
void ticks(std::initializer_list<clock_t> values);
void add_tick(clock_t value);
// Non-zero: every times() fails with this errno (0 after a reset).
void fail_times(int errnum);

// Figures returned by core_per_tick, in order.
void core_figures(std::initializer_list<double> values);
// What counter_step returns, every time (1 after a reset).
void step(double ticks);
// What clock_nanosleep returns, in order (EINTR: a signal cut it short); 0
// once they run out.
void sleep_answers(std::initializer_list<int> values);
// Readings of the monotonic clock in seconds, served in order to
// clock_gettime (through -Wl,--wrap=clock_gettime, which no letter of the
// trace shows); NaN: that call fails with EPERM.  Once they run out the
// real clock answers, so a test may read the time itself.
void clock_readings(std::initializer_list<double> seconds);
// The deadline the last clock_nanosleep was asked to sleep to.
struct timespec last_deadline();
// How many times the clock module set up a fenced read.
int fences();
// Called with each delay the clock module's counter_step makes before a
// read, so a test can make the next reading depend on it; none after a reset.
void on_delay(void (*hook)(int spins));

// Scripted values not yet read, over all queues.
size_t left();
// The calls so far, one letter each (see above).
const std::string &trace();
// The trace without counter_step's letter 'T': whether the driver asks for
// the step in a given test depends on the tests run before it in the same
// process.
std::string trace_without_step();
// s written n times, for traces of many runs.
std::string repeat(const std::string &s, int n);
// Forgets every queue and the trace.
void reset();

// Most calls a test may make before it is taken for a runaway loop.
constexpr long max_calls = 1000000;

// For the definitions: notes a call and checks the cap.
void note(char call);
// Next value of a queue; ends the process if it is dry.
double next_count();
uint64_t next_reading();
clock_t next_tick();
double next_core_figure();
double current_step();
int times_errno();
void delay(int spins);
int next_sleep_answer(const struct timespec *deadline);
// 1: *t holds the next scripted reading; 0: that reading is a failure; -1:
// none is scripted.
int next_clock_reading(struct timespec *t);
void fence();

}  // namespace scripted

#endif
