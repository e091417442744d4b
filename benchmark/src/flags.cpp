// The command line: the usual --benchmark_* flags and cyclekit's own, read
// and taken out of argv by Initialize.
#include <cyclekit/figures.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>

#include "internal.h"

namespace benchmark {
namespace internal {
namespace {

TimeUnit default_unit = kNanosecond;
std::string program = "benchmark";

bool is_true(const std::string &v) { return v.empty() || v == "true" || v == "1" || v == "yes"; }

// "--name" or "--name=value": the value (empty for the bare flag).
bool match(const char *arg, const char *name, std::string &value) {
  size_t len = std::strlen(name);
  if (std::strncmp(arg, "--", 2) != 0 || std::strncmp(arg + 2, name, len) != 0)
    return false;
  const char *rest = arg + 2 + len;
  if (*rest != '\0' && *rest != '=')
    return false;
  value = *rest == '=' ? rest + 1 : "";
  return true;
}

void add_context(const std::string &list) {
  size_t at = 0;
  while (at < list.size()) {
    size_t comma = list.find(',', at);
    std::string kv = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    size_t eq = kv.find('=');
    if (eq != std::string::npos)
      AddCustomContext(kv.substr(0, eq), kv.substr(eq + 1));
    at = comma == std::string::npos ? list.size() : comma + 1;
  }
}

bool set_unit(const std::string &v) {
  int unit = cyclekit_time_unit_parse(v.c_str());
  if (unit >= 0) {
    default_unit = static_cast<TimeUnit>(unit);
    return true;
  }
  std::fprintf(stderr, "%s: unknown --benchmark_time_unit %s (ns, us, ms or s)\n", program.c_str(),
               v.c_str());
  std::exit(1);
}

// A flag's number, all of v read and within [low, high]; anything else ends
// the process naming the flag, as a wrong time unit does.  min_time may end
// in "s", as newer suites write it.
double number_of(const char *flag, const std::string &v, double low, double high, bool whole,
                 bool seconds = false) {
  char *end = nullptr;
  errno = 0;
  double x = std::strtod(v.c_str(), &end);
  if (seconds && end && *end == 's')
    end++;
  if (v.empty() || errno || !end || *end || !(x >= low && x <= high) ||
      (whole && x != static_cast<double>(static_cast<long>(x)))) {
    std::fprintf(stderr, "%s: --%s needs a number from %g to %g, not '%s'\n", program.c_str(), flag,
                 low, high, v.c_str());
    std::exit(1);
  }
  return x;
}

// One flag of ours: true when a was one.  --json takes the next argument
// when it has no "=".
bool take(const char *a, int &i, int argc, char **argv) {
  Options &o = options();
  std::string v;
  if (match(a, "benchmark_filter", v))
    o.filter = v;
  else if (match(a, "benchmark_list_tests", v))
    o.list_tests = is_true(v);
  else if (match(a, "benchmark_repetitions", v))
    o.repetitions = int(number_of("benchmark_repetitions", v, 1, 1000000, true));
  else if (match(a, "benchmark_format", v))
    o.format = v;
  else if (match(a, "benchmark_out_format", v))
    o.out_format = v;
  else if (match(a, "benchmark_out", v))
    o.out = v;
  else if (match(a, "benchmark_min_time", v))
    o.min_time = number_of("benchmark_min_time", v, 0, 1e9, false, true);
  else if (match(a, "benchmark_min_warmup_time", v))
    o.min_warmup_time = number_of("benchmark_min_warmup_time", v, 0, 1e9, false, true);
  else if (match(a, "benchmark_perf_counters", v)) {
    if (!v.empty())
      say_once("--benchmark_perf_counters has no meaning here: only the cycle counter is read");
  } else if (match(a, "v", v))
    o.verbosity = int32_t(number_of("v", v, -1000, 1000, true));
  else if (match(a, "benchmark_color", v)) {
    // "auto" is the default and asks for nothing; a plain yes is answered.
    if (is_true(v))
      say_once("--benchmark_color: the console here is plain text, without colour");
  } else if (match(a, "benchmark_time_unit", v))
    set_unit(v);
  else if (match(a, "benchmark_report_aggregates_only", v))
    o.report_aggregates_only = is_true(v);
  else if (match(a, "benchmark_display_aggregates_only", v))
    o.display_aggregates_only = is_true(v);
  else if (match(a, "benchmark_enable_random_interleaving", v))
    o.random_interleaving = is_true(v);
  else if (match(a, "benchmark_counters_tabular", v))
    o.counters_tabular = is_true(v);
  else if (match(a, "benchmark_context", v))
    add_context(v);
  else if (match(a, "json", v)) {
    if (std::strchr(a, '=') == nullptr && i + 1 < argc)
      v = argv[++i];
    if (v.empty()) {
      std::fprintf(stderr, "%s: --json needs a file name (- for standard output)\n",
                   program.c_str());
      std::exit(1);
    }
    o.json_file = v;
  } else if (match(a, "precise", v))
    o.precise = true;
  else if (match(a, "core-cycles", v))
    o.core_cycles = true;
  else if (match(a, "flush", v))
    o.flush = true;
  else
    return false;
  return true;
}

}  // namespace

Options &options() {
  static Options o;
  return o;
}

void say_once(const std::string &what) {
  static std::set<std::string> said;
  if (said.insert(what).second)
    std::fprintf(stderr, "%s: %s\n", program.c_str(), what.c_str());
}

}  // namespace internal

TimeUnit GetDefaultTimeUnit() { return internal::default_unit; }
void SetDefaultTimeUnit(TimeUnit unit) { internal::default_unit = unit; }
std::string GetBenchmarkFilter() { return internal::options().filter; }
void SetBenchmarkFilter(std::string value) { internal::options().filter = std::move(value); }
int32_t GetBenchmarkVerbosity() { return internal::options().verbosity; }

void PrintDefaultHelp() {
  std::fprintf(
      stdout,
      "benchmark [--benchmark_list_tests={true|false}]\n"
      "          [--benchmark_filter=<regex>]\n"
      "          [--benchmark_repetitions=<num_repetitions>]\n"
      "          [--benchmark_report_aggregates_only={true|false}]\n"
      "          [--benchmark_display_aggregates_only={true|false}]\n"
      "          [--benchmark_format=<console|json|csv>]\n"
      "          [--benchmark_out=<filename>]\n"
      "          [--benchmark_out_format=<json|console|csv>]\n"
      "          [--benchmark_time_unit={ns|us|ms|s}]\n"
      "          [--benchmark_min_time=<min_time>]\n"
      "          [--benchmark_enable_random_interleaving={true|false}]\n"
      "          [--benchmark_counters_tabular={true|false}]\n"
      "          [--benchmark_color={auto|true|false}]\n"
      "          [--benchmark_perf_counters=<counter>,...]\n"
      "          [--v=<verbosity>]\n"
      "          [--benchmark_min_warmup_time=<min_warmup_time>]\n"
      "          [--benchmark_context=<key>=<value>,...]\n"
      "          [--precise] [--core-cycles] [--flush] [--json FILE|-]   (cyclekit's own)\n");
}

void Initialize(int *argc, char **argv, void (*help)()) {
  if (*argc > 0 && argv[0]) {
    internal::program = argv[0];
    BenchmarkReporter::Context::executable_name = argv[0];
  }
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    std::string v;
    if (internal::match(argv[i], "help", v)) {
      if (help)
        help();
      std::exit(0);
    }
    if (!internal::take(argv[i], i, *argc, argv))
      argv[kept++] = argv[i];
  }
  *argc = kept;
  argv[kept] = nullptr;
}

bool ReportUnrecognizedArguments(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    std::fprintf(stderr, "%s: error: unrecognized command-line flag: %s\n",
                 internal::program.c_str(), argv[i]);
  return argc > 1;
}

void Shutdown() {}

void RegisterMemoryManager(MemoryManager *manager) {
  if (manager)
    internal::say_once("a memory manager has no meaning here: allocations are not counted");
}

void AddCustomContext(const std::string &key, const std::string &value) {
  auto *&context = internal::GetGlobalContext();
  if (!context)
    context = new std::map<std::string, std::string>;
  (*context)[key] = value;
}

namespace internal {
std::map<std::string, std::string> *&GetGlobalContext() {
  static std::map<std::string, std::string> *context = nullptr;
  return context;
}
// The standard streams are made before any static registration here:
// <iostream> comes with the header.
int InitializeStreams() {
  static std::ios_base::Init init;
  return 0;
}
}  // namespace internal

const int64_t MemoryManager::TombstoneValue = INT64_MIN;

}  // namespace benchmark
