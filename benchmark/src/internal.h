// What the front end's rooms share: the registry's instances, the options
// from the command line, and the run of one instance.
#ifndef CYCLEKIT_COMPAT_INTERNAL_H
#define CYCLEKIT_COMPAT_INTERNAL_H

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace benchmark {
namespace internal {

// One benchmark to run: a family's function with one argument set and one
// thread count, under the name built from them.
struct Instance {
  Benchmark *family;
  int family_index;
  int instance_index;
  std::vector<int64_t> args;
  int threads;
  BenchmarkName name;
};

// Every instance of every registered family, in registration order.
std::vector<Instance> all_instances();

struct Options {
  std::string filter = ".";
  bool list_tests = false;
  int repetitions = 1;
  std::string format = "console";
  std::string out;
  std::string out_format = "json";
  double min_time = 0;
  double min_warmup_time = 0;  // for families without a MinWarmUpTime of their own
  std::string time_unit;
  bool report_aggregates_only = false;
  bool display_aggregates_only = false;
  bool random_interleaving = false;
  bool counters_tabular = false;
  int32_t verbosity = 0;  // --v
  bool precise = false;
  bool core_cycles = false;
  bool flush = false;
  std::string json_file;  // cyclekit's result lines; "-": standard output
  std::vector<std::string> unrecognized;
};
Options &options();

// The family's function run under cyclekit's measurement: one answer per
// repetition (benchmark/src/runner.cpp).
std::vector<BenchmarkReporter::Run> run_instance(const Instance &instance, int repetitions);

// Mean, median, standard deviation and coefficient of variation of the
// repetitions, as runs of type aggregate (benchmark/src/aggregate.cpp).
std::vector<BenchmarkReporter::Run> aggregates(const std::vector<BenchmarkReporter::Run> &reps);

// The _BigO and _RMS rows of a family that asked for Complexity(), from
// all of its runs (none when fewer than two have an answer), and the curve's
// name as the reports show it (benchmark/src/complexity.cpp).
std::vector<BenchmarkReporter::Run> complexity_rows(
    const std::vector<BenchmarkReporter::Run> &runs);
const char *big_o_text(BigO o);

// A counter's figure as reported, by its flags, for a run of `iterations`
// that lasted `seconds` on each of `threads` threads.
double counter_figure(const Counter &c, double iterations, double seconds, int threads);

// Waits until every thread of the benchmark has arrived (at its loop's
// start, then at its finish).
void thread_arrive(ThreadSync *sync);

// Runs body(0) on the calling thread and body(1) .. body(threads - 1) on
// threads of their own, all released together once every one exists;
// false (and no body run) when they cannot all be started.
bool run_threads(int threads, const std::function<void(int)> &body);
ThreadSync *new_thread_sync(int threads);
void delete_thread_sync(ThreadSync *sync);

// The time figures as reported: per iteration in the run's unit, or for a
// percentage aggregate (cv) the bare ratio.
inline double shown_real(const BenchmarkReporter::Run &r) {
  return r.aggregate_unit == kPercentage ? r.real_accumulated_time / double(r.iterations)
                                         : r.GetAdjustedRealTime();
}
inline double shown_cpu(const BenchmarkReporter::Run &r) {
  return r.aggregate_unit == kPercentage ? r.cpu_accumulated_time / double(r.iterations)
                                         : r.GetAdjustedCPUTime();
}

// cyclekit's result lines, as the native suite writes them, for
// cyclekit-compare (benchmark/src/result_lines.cpp).
BenchmarkReporter *result_lines_reporter();

// Says `what` on standard error once per process.
void say_once(const std::string &what);

}  // namespace internal
}  // namespace benchmark

#endif
