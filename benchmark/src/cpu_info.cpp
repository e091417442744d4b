// The machine as the reporters describe it: CPUs, the counter's rate, the
// caches and frequency scaling as the kernel lists them, the load, the host.
#include <unistd.h>

#include <cstdlib>

#include "adapter.h"
#include "internal.h"
#include "machine.h"

namespace benchmark {
namespace {

// cpu0's caches, in the kernel's order.
std::vector<CPUInfo::CacheInfo> listed_caches() {
  struct machine_cache listed[16];
  int n = machine_caches(listed, 16);
  std::vector<CPUInfo::CacheInfo> out;
  for (int i = 0; i < n && i < 16; ++i)
    out.push_back(
        {listed[i].type, listed[i].level, static_cast<int>(listed[i].size), listed[i].num_sharing});
  return out;
}

CPUInfo::Scaling scaling_now() {
  char governor[64];
  if (!machine_governor(governor, sizeof governor))
    return CPUInfo::UNKNOWN;
  return std::string(governor) == "performance" ? CPUInfo::DISABLED : CPUInfo::ENABLED;
}

}  // namespace

CPUInfo::CPUInfo()
    : num_cpus(1), scaling(scaling_now()), cycles_per_second(0), caches(listed_caches()) {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  num_cpus = n > 0 ? static_cast<int>(n) : 1;
  cycles_per_second = internal::ticks_per_ns() * 1e9;
  double avg[3];
  int got = getloadavg(avg, 3);
  for (int i = 0; i < got; ++i)
    load_avg.push_back(avg[i]);
}
const CPUInfo &CPUInfo::Get() {
  static const CPUInfo *info = new CPUInfo;
  return *info;
}

SystemInfo::SystemInfo() {
  char host[256] = "";
  if (gethostname(host, sizeof host - 1) == 0)
    name = host;
}
const SystemInfo &SystemInfo::Get() {
  static const SystemInfo *info = new SystemInfo;
  return *info;
}

}  // namespace benchmark
