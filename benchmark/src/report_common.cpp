// What every reporter shares: the machine's description, a run's name and
// its times in the run's unit.
#include <cyclekit/figures.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "adapter.h"
#include "internal.h"
#include "machine.h"

namespace benchmark {

const char *BenchmarkReporter::Context::executable_name = "benchmark";
BenchmarkReporter::Context::Context()
    : cpu_info(CPUInfo::Get()), sys_info(SystemInfo::Get()), name_field_width(10) {
  for (auto &in : internal::all_instances())
    name_field_width = std::max(name_field_width, in.name.str().size() + 7);
}

BenchmarkReporter::BenchmarkReporter() : output_stream_(&std::cout), error_stream_(&std::cerr) {}
BenchmarkReporter::~BenchmarkReporter() {}

void BenchmarkReporter::PrintBasicContext(std::ostream *out, Context const &context) {
  const CPUInfo &cpu = context.cpu_info;
  *out << "Run on (" << cpu.num_cpus << " X " << cpu.cycles_per_second / 1e6 << " MHz counter)\n";
  if (!cpu.caches.empty())
    *out << "CPU Caches:\n";
  for (const CPUInfo::CacheInfo &c : cpu.caches) {
    *out << "  L" << c.level << ' ' << c.type << ' ' << c.size / 1024 << " KiB";
    if (c.num_sharing > 0)
      *out << " (x" << cpu.num_cpus / c.num_sharing << ')';
    *out << '\n';
  }
  if (!cpu.load_avg.empty()) {
    *out << "Load Average: ";
    char one[32];
    for (size_t i = 0; i < cpu.load_avg.size(); ++i) {
      std::snprintf(one, sizeof one, "%.2f", cpu.load_avg[i]);
      *out << (i ? ", " : "") << one;
    }
    *out << '\n';
  }
  if (internal::options().precise)
    *out << "cyclekit: each time is the least per-iteration time once the K least runs agree; "
            "CPU time is that same undisturbed time\n";
  else
    *out << "cyclekit: each time is the mean per-iteration time over 5 ms of steady runs, "
            "time that the processor was taken away left out; CPU time is that same time\n";
}

std::string BenchmarkReporter::Run::benchmark_name() const {
  std::string name = run_name.str();
  if (run_type == RT_Aggregate)
    name += "_" + aggregate_name;
  return name;
}

double BenchmarkReporter::Run::GetAdjustedRealTime() const {
  double t = real_accumulated_time * GetTimeUnitMultiplier(time_unit);
  return iterations != 0 ? t / static_cast<double>(iterations) : t;
}
double BenchmarkReporter::Run::GetAdjustedCPUTime() const {
  double t = cpu_accumulated_time * GetTimeUnitMultiplier(time_unit);
  return iterations != 0 ? t / static_cast<double>(iterations) : t;
}

// The units are the engine's, in the same order.
static_assert(int(kNanosecond) == CYCLEKIT_NS && int(kMicrosecond) == CYCLEKIT_US &&
                  int(kMillisecond) == CYCLEKIT_MS && int(kSecond) == CYCLEKIT_S,
              "time units");

// A value outside the enum is taken for nanoseconds, the default unit.
const char *GetTimeUnitString(TimeUnit unit) {
  const char *name = cyclekit_time_unit_name(unit);
  return name ? name : "ns";
}

double GetTimeUnitMultiplier(TimeUnit unit) {
  const char *name = cyclekit_time_unit_name(unit);
  return 1e9 / cyclekit_ns_per_unit(name ? unit : kNanosecond);
}

namespace internal {
void UseCharPointer(char const volatile *) {}
}  // namespace internal

}  // namespace benchmark
