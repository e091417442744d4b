// A benchmark of n threads: each runs the function with a State of its
// own, their loops start and finish together, and thread 0's loop is the
// measured region (the counter is read by one thread only).
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "internal.h"

namespace benchmark {
namespace internal {

struct ThreadSync {
  std::mutex lock;
  std::condition_variable turned;
  int parties;
  int waiting = 0;
  long generation = 0;
};

ThreadSync *new_thread_sync(int threads) {
  ThreadSync *s = new ThreadSync;
  s->parties = threads;
  return s;
}
void delete_thread_sync(ThreadSync *sync) { delete sync; }

void thread_arrive(ThreadSync *s) {
  std::unique_lock<std::mutex> held(s->lock);
  long generation = s->generation;
  if (++s->waiting == s->parties) {
    s->waiting = 0;
    ++s->generation;
    s->turned.notify_all();
    return;
  }
  s->turned.wait(held, [&] { return s->generation != generation; });
}

bool run_threads(int threads, const std::function<void(int)> &body) {
  std::mutex lock;
  std::condition_variable go;
  int released = 0;  // 1: run, -1: give up
  std::vector<std::thread> others;
  auto wait_then_run = [&](int t) {
    {
      std::unique_lock<std::mutex> held(lock);
      go.wait(held, [&] { return released != 0; });
      if (released < 0)
        return;
    }
    body(t);
  };
  bool failed = false;
  try {
    for (int t = 1; t < threads; ++t)
      others.emplace_back(wait_then_run, t);
  } catch (const std::system_error &) {
    failed = true;
  }
  {
    std::lock_guard<std::mutex> held(lock);
    released = failed ? -1 : 1;
  }
  go.notify_all();
  if (released > 0)
    body(0);
  for (auto &t : others)
    t.join();
  return released > 0;
}

}  // namespace internal
}  // namespace benchmark
