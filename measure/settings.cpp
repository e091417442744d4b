// The settings wanted for the next measurement, their setters, and the lock
// that measurements and setters take turns at.

#include <math.h>
#include <pthread.h>
#include <stdlib.h>

#include "compare.h"
#include "internal.h"
#include "turns.h"

namespace bestof_internal {

// ---- The settings wanted ------------------------------------------------------

// The defaults, written once: the initial settings and set_bestof_defaults.
static constexpr struct bestof_settings defaults = {
    3,        // k
    20,       // maxsamples
    0.01,     // epsilon
    0,        // compensate
    0,        // clear_cache
    1 << 19,  // cache_size
    32,       // cache_block
    0,        // fence
    0,        // core_cycles
    1,        // batch
    0,        // verbose
    0,        // json
    0,        // net
    0,        // precise
    21,       // compare_pairs
    0,        // compare_margin
    8,        // cpe_sizes
    1,        // compare_net
};

// What the setters store.  A measurement copies it whole when it starts and
// uses only its copy, so a setter called by the test function takes effect
// at the next measurement and changes nothing under the running one.
static struct settings wanted = {defaults, NULL};

// The bounds of the comparison's settings.  With n pairs the widest
// interval, from the least ratio to the greatest, misses the median with
// probability 2 / 2^n, below 5 % from n = 6 on; up to 1000 pairs 2^-n stays
// a normal double (see interval_rank in compare.cpp).
static const int compare_least_pairs = 6;
static const int compare_most_pairs = 1000;
static const int cpe_least_sizes = 3;
static const int cpe_most_sizes = 10000;

// ---- The lock -----------------------------------------------------------------

// Held from the start of a measurement to its end, and by a setter or
// bestof_last called from another thread: measurements take turns, and a
// setter waits for the running measurement.  Threads get it in the order
// they asked (turns.cpp), so a setter or a measurement waits for at most
// one measurement per thread ahead of it, however fast another thread
// measures again.  Every fatal exit is made with it held, so no exit
// handler runs while another thread is measuring.
// Non-zero while this thread is in a measurement, from just before it waits
// for the lock to just after it releases it: a bestof from its own test
// function (or from a signal handler that interrupted it) is nested, not a
// turn to wait for; its setters need no lock; bestof_abandon releases only
// its own thread's measurement.  Constant-initialised, so it needs no
// run-time support.
static thread_local int owner = 0;

// ---- fork ---------------------------------------------------------------------

// A child of fork has one thread, the one that forked.  If another thread
// held the lock (measuring, or in a setter), the child's copy of the lock
// is held by a thread that does not exist there, and its first bestof or
// setter would wait for ever: the child takes a fresh lock.  What that
// thread was doing needs no undoing: the next measurement sets up the
// whole measurement context anew, and the flush buffer and the counter's
// step are published whole (see flush.cpp, bestof.cpp).  A thread that
// forks from its own test function is the owner: its child goes on with
// the measurement, lock and all, as the parent does; a thread that waited
// behind it in the parent has no place in line in the child.
static void forked_child(void) { turns_after_fork(owner); }

// A constructor, not a C++ static object, so that a C program needs no C++
// run-time support for it.
__attribute__((constructor)) static void watch_fork(void) {
  pthread_atfork(NULL, NULL, forked_child);
}

void fatal(const char *message) {
  fputs(message, stderr);
  exit(1);
}

void fatal_holding_lock(const char *message) {
  if (!owner) {
    owner = 1;
    take_turn();
  }
  fatal(message);
}

void enter_measurement(struct settings *copy) {
  // A nested call would free and fill its caller's array.
  if (owner)
    fatal("Fatal error.  bestof called from inside a measurement\n");
  owner = 1;
  take_turn();
  *copy = wanted;
}

void leave_measurement(void) {
  drop_stale_buffer((uint32_t)wanted.s.cache_size);
  give_turn();
  owner = 0;
}

int in_measurement(void) { return owner; }

// A setter called from another thread waits for the running measurement;
// one called from this thread's test function holds the lock already.
static void lock_settings(void) {
  if (!owner)
    take_turn();
}

static void unlock_settings(void) {
  if (!owner)
    give_turn();
}

void copy_settings(struct settings *copy) {
  lock_settings();
  *copy = wanted;
  unlock_settings();
}

double under_lock(double (*step)(void)) {
  lock_settings();
  double v = step();
  unlock_settings();
  return v;
}

// ---- Changing them ------------------------------------------------------------

// Stores in *to every field of *in that its setter's rule accepts; a
// refused value leaves that field as it was.
static void accept(struct bestof_settings *to, const struct bestof_settings *in) {
  if (in->k >= 1)
    to->k = in->k;
  to->maxsamples = in->maxsamples;
  // NaN would never compare, and an infinity says nothing a large tolerance
  // does not: both are refused like the other bad settings.
  if (isfinite(in->epsilon))
    to->epsilon = in->epsilon;
  to->compensate = in->compensate;
  to->clear_cache = in->clear_cache;
  if (in->cache_size >= 0)
    to->cache_size = in->cache_size;
  // A block below one word would never advance the flush.
  if (in->cache_block >= 0)
    to->cache_block = in->cache_block < 4 ? 4 : in->cache_block;
  to->fence = in->fence;
  to->core_cycles = in->core_cycles;
  if (in->batch >= 0)
    to->batch = in->batch;
  to->verbose = in->verbose;
  to->json = in->json;
  to->net = in->net;
  to->precise = in->precise;
  if (in->compare_pairs >= compare_least_pairs && in->compare_pairs <= compare_most_pairs)
    to->compare_pairs = in->compare_pairs;
  if (in->compare_margin >= 0)
    to->compare_margin = in->compare_margin;
  if (in->cpe_sizes >= cpe_least_sizes && in->cpe_sizes <= cpe_most_sizes)
    to->cpe_sizes = in->cpe_sizes;
  to->compare_net = in->compare_net;
}

// A change starts with the lock and a copy of the settings wanted, and ends
// by accepting the copy and letting the lock go: one acquisition, so a
// measurement never starts with a change half made.
static struct bestof_settings begin_change(void) {
  lock_settings();
  return wanted.s;
}

static void end_change(const struct bestof_settings *changed) {
  accept(&wanted.s, changed);
  // A buffer the running measurement flushes with waits for its end.
  if (!owner)
    drop_stale_buffer((uint32_t)wanted.s.cache_size);
  unlock_settings();
}

// Settings given with one call: the defaults, then every field of *in that
// its setter accepts.
void checked_settings(struct bestof_settings *out, const struct bestof_settings *in) {
  *out = defaults;
  accept(out, in);
}

void default_settings(struct bestof_settings *out) { *out = defaults; }

extern "C" void set_bestof_settings(const struct bestof_settings *in) {
  if (in == NULL)
    return;
  begin_change();
  end_change(in);
}

extern "C" void get_bestof_settings(struct bestof_settings *out) {
  if (out == NULL)
    return;
  // The settings wanted for the next measurement, not the running one's copy.
  lock_settings();
  *out = wanted.s;
  unlock_settings();
}

extern "C" void set_bestof_defaults(void) { set_bestof_settings(&defaults); }

extern "C" void set_bestof_verbose_stream(FILE *out) {
  lock_settings();
  wanted.stream = out;
  unlock_settings();
}

// ---- One setter per field -------------------------------------------------------

// Changes one field as set_bestof_settings would change it.
template <typename T>
static void set_field(T bestof_settings::*field, T value) {
  struct bestof_settings s = begin_change();
  s.*field = value;
  end_change(&s);
}

extern "C" void set_bestof_k(int k) { set_field(&bestof_settings::k, k); }
extern "C" void set_bestof_maxsamples(int maxsamples) {
  set_field(&bestof_settings::maxsamples, maxsamples);
}
extern "C" void set_bestof_epsilon(double epsilon) {
  set_field(&bestof_settings::epsilon, epsilon);
}
extern "C" void set_bestof_compensate(int on) { set_field(&bestof_settings::compensate, on); }
extern "C" void set_bestof_clear_cache(int on) { set_field(&bestof_settings::clear_cache, on); }
extern "C" void set_bestof_cache_sizee(int bytes) {
  set_field(&bestof_settings::cache_size, bytes);
}
extern "C" void set_bestof_cache_block(int bytes) {
  set_field(&bestof_settings::cache_block, bytes);
}
extern "C" void set_bestof_fence(int on) { set_field(&bestof_settings::fence, on); }
extern "C" void set_bestof_core_cycles(int on) { set_field(&bestof_settings::core_cycles, on); }
extern "C" void set_bestof_batch(int n) { set_field(&bestof_settings::batch, n); }
extern "C" void set_bestof_verbose(int on) { set_field(&bestof_settings::verbose, on); }
extern "C" void set_bestof_json(int on) { set_field(&bestof_settings::json, on); }
extern "C" void set_bestof_net(int on) { set_field(&bestof_settings::net, on); }
extern "C" void set_bestof_precise(int on) { set_field(&bestof_settings::precise, on); }
extern "C" void set_bestof_compare_pairs(int pairs) {
  set_field(&bestof_settings::compare_pairs, pairs);
}
extern "C" void set_bestof_compare_margin(double margin) {
  set_field(&bestof_settings::compare_margin, margin);
}
extern "C" void set_bestof_cpe_sizes(int sizes) { set_field(&bestof_settings::cpe_sizes, sizes); }
extern "C" void set_bestof_compare_net(int on) { set_field(&bestof_settings::compare_net, on); }

}  // namespace bestof_internal
