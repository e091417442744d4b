// cyclekit's result lines (--json FILE|-), as the native suite writes them:
// a context line, then one line per answer, so that cyclekit-compare reads
// a suite of either front end.
#include <cyclekit/clock.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "adapter.h"
#include "internal.h"
#include "json_text.h"
#include "result_format.h"

#ifndef CYCLEKIT_VERSION
#define CYCLEKIT_VERSION "unknown"
#endif

namespace benchmark {
namespace internal {
namespace {

std::string text(const std::string &s) { return internal::json_quoted(s); }
std::string num(double v) { return internal::json_number(v); }

class ResultLines : public BenchmarkReporter {
 public:
  bool ReportContext(const Context &context) override {
    char date[32];
    std::time_t now = std::time(nullptr);
    std::tm utc;
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&now, &utc));
    GetOutputStream() << "{\"type\":\"context\",\"format\":" << CYCLEKIT_RESULT_FORMAT
                      << ",\"library\":\"cyclekit\",\"version\":\"" CYCLEKIT_VERSION "\""
                      << ",\"front_end\":\"benchmark\",\"title\":" << text(Context::executable_name)
                      << ",\"date\":\"" << date << "\""
                      << ",\"mhz\":" << num(context.cpu_info.cycles_per_second / 1e6)
                      << ",\"step\":" << num(counter_step())
                      << ",\"repetitions\":" << options().repetitions << "}\n";
    return true;
  }

  // Aggregates are the comparison's to make; errors and skips have no answer.
  // The answer is the least, as the native suite's is; its seconds those of
  // the times scaled to it.
  void ReportRuns(const std::vector<Run> &runs) override {
    for (auto &r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred)
        continue;
      double seconds = r.real_accumulated_time / double(r.iterations);
      if (r.cycles_per_iteration > 0)
        seconds *= r.least_cycles_per_iteration / r.cycles_per_iteration;
      GetOutputStream() << "{\"type\":\"result\",\"name\":" << text(r.benchmark_name())
                        << ",\"repetition\":" << (r.repetition_index < 0 ? 0 : r.repetition_index)
                        << ",\"answer\":" << num(r.least_cycles_per_iteration) << ",\"unit\":\""
                        << (r.core_cycles ? CYCLEKIT_UNIT_CORE_CYCLES : CYCLEKIT_UNIT_TICKS)
                        << "\",\"seconds\":" << num(seconds)
                        << ",\"converged\":" << (r.converged ? 1 : 0)
                        << ",\"resolved\":" << (r.resolved ? 1 : 0)
                        << ",\"uncertainty\":" << num(r.uncertainty)
                        << ",\"batch\":" << r.iterations << "}\n";
    }
  }
};

}  // namespace

BenchmarkReporter *result_lines_reporter() {
  static ResultLines lines;
  return &lines;
}

}  // namespace internal
}  // namespace benchmark
