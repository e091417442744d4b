// A ticket lock: each thread that asks draws the next number and waits
// until it is called.  A plain mutex lets the thread that lets it go take
// it straight back before a waiter has woken; here the one letting go
// already stands behind every thread that drew before it.  A number is
// drawn by one atomic add, never behind a lock, so a thread that asks is
// in line at once: one still waking from the wait before cannot be passed.
//
// Its own file so that the tests can wrap take_turn and give_turn at the
// link.

#include "turns.h"

#include <pthread.h>

namespace bestof_internal {

// The next number to draw, and the number whose turn it is.  32 bits, so
// that every target adds them without a lock; they wrap around together,
// and only their equality counts.
static unsigned next_number = 0;
static unsigned serving = 0;
// A thread whose number is not yet called sleeps on this condition; the
// mutex, held for a few instructions only, keeps it from missing the call.
static pthread_mutex_t calling = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t called = PTHREAD_COND_INITIALIZER;

static int is_called(unsigned number) {
  return __atomic_load_n(&serving, __ATOMIC_ACQUIRE) == number;
}

void take_turn(void) {
  unsigned mine = __atomic_fetch_add(&next_number, 1, __ATOMIC_RELAXED);
  if (is_called(mine))
    return;
  // A cancelled waiter would leave its number uncalled for ever, and every
  // thread behind it: the wait is no cancellation point, as a mutex's is
  // not.
  int cancel_state;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancel_state);
  pthread_mutex_lock(&calling);
  while (!is_called(mine))
    pthread_cond_wait(&called, &calling);
  pthread_mutex_unlock(&calling);
  pthread_setcancelstate(cancel_state, nullptr);
}

void give_turn(void) {
  pthread_mutex_lock(&calling);
  __atomic_store_n(&serving, serving + 1, __ATOMIC_RELEASE);
  // Every waiter wakes and the one whose number it is goes on: a few
  // threads at most wait here, and one signal could wake the wrong one.
  pthread_cond_broadcast(&called);
  pthread_mutex_unlock(&calling);
}

// Another thread may have held the mutex at the fork, and the condition's
// waiters are threads the child does not have: both start anew.  The
// numbers those threads drew are dropped, or the child would wait for them.
void turns_after_fork(int held_here) {
  pthread_mutex_init(&calling, nullptr);
  pthread_cond_init(&called, nullptr);
  __atomic_store_n(&next_number, serving + (held_here ? 1u : 0u), __ATOMIC_RELAXED);
}

}  // namespace bestof_internal
