// The machine as the reporters describe it: CPUs, the counter's rate, the
// caches and frequency scaling as the kernel lists them, the load, the host.
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "adapter.h"
#include "internal.h"
#include "machine.h"

namespace benchmark {
namespace {

std::string first_line(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// "32K" and the like, in bytes.
int size_of(const std::string &text) {
  char *end = nullptr;
  long n = std::strtol(text.c_str(), &end, 10);
  int shift = *end == 'K' ? 10 : *end == 'M' ? 20 : *end == 'G' ? 30 : 0;
  return static_cast<int>(n << shift);
}

// CPUs in a list such as "0-3,8".
int cpus_in(const std::string &list) {
  int count = 0;
  const char *p = list.c_str();
  while (*p) {
    char *end = nullptr;
    long lo = std::strtol(p, &end, 10), hi = lo;
    if (end == p)
      break;
    if (*end == '-')
      hi = std::strtol(end + 1, &end, 10);
    count += static_cast<int>(hi - lo + 1);
    p = *end == ',' ? end + 1 : end;
  }
  return count;
}

// cpu0's caches, in the kernel's order.
std::vector<CPUInfo::CacheInfo> listed_caches() {
  std::vector<CPUInfo::CacheInfo> out;
  for (int i = 0;; ++i) {
    std::string dir = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(i) + "/";
    std::string type = first_line(dir + "type");
    if (type.empty())
      break;
    out.push_back({type, std::atoi(first_line(dir + "level").c_str()),
                   size_of(first_line(dir + "size")),
                   cpus_in(first_line(dir + "shared_cpu_list"))});
  }
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
