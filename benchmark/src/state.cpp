// State: the loop a benchmark function times.  Its start and finish are
// the region's start and stop, and pauses are taken out of the region.
#include "adapter.h"
#include "internal.h"

namespace benchmark {

State::State(IterationCount n, const std::vector<int64_t> &ranges, internal::Region *region,
             int thread_index, int threads, internal::ThreadSync *sync)
    : max_iterations(n),
      region_(region),
      sync_(sync),
      thread_index_(thread_index),
      threads_(threads),
      range_(ranges),
      left_(n) {}

void State::StartKeepRunning() {
  if (started_)
    return;
  started_ = true;
  // Every thread's loop starts together, and thread 0's region after that.
  if (sync_)
    internal::thread_arrive(sync_);
  if (region_)
    internal::region_start(region_);
}

// The range-for loop runs max_iterations unless an error came first;
// KeepRunning counts its own.
void State::FinishKeepRunning() {
  if (finished_)
    return;
  if (region_)
    internal::region_stop(region_);
  finished_ = true;
  if (done_ == 0 && !error_occurred_)
    done_ = max_iterations;
  if (sync_)
    internal::thread_arrive(sync_);
}

bool State::KeepRunningBatch(IterationCount n) {
  StartKeepRunning();
  if (!error_occurred_ && left_ > 0) {
    left_ = left_ > n ? left_ - n : 0;
    done_ += n;
    return true;
  }
  FinishKeepRunning();
  return false;
}

void State::PauseTiming() {
  if (started_ && !finished_ && region_)
    internal::region_pause(region_);
}

void State::ResumeTiming() {
  if (started_ && !finished_ && region_)
    internal::region_resume(region_);
}

void State::SkipWithError(const char *msg) {
  error_occurred_ = true;
  error_ = msg ? msg : "";
  left_ = 0;
}

int64_t State::counter_or_zero(const char *name) const {
  auto it = counters.find(name);
  return it == counters.end() ? 0 : static_cast<int64_t>(it->second.value);
}

}  // namespace benchmark
