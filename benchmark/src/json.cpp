// The JSON file: "context" and "benchmarks" in the layout that readers of
// this API's files expect, with cyclekit's ticks (or cycles) beside the
// times.
#include <cmath>
#include <cstdio>
#include <ctime>

#include "adapter.h"
#include "internal.h"
#include "json_text.h"

namespace benchmark {
namespace {

using internal::json_number;

std::string quoted(const std::string &s) { return internal::json_quoted(s); }
// Real-valued fields are written as reals ("2.0", not "2"): readers that
// take the type from the text keep one type per field.
std::string number(double v) {
  std::string text = json_number(v);
  if (text != "null" && text.find_first_of(".eE") == std::string::npos)
    text += ".0";
  return text;
}

std::string field(const char *key, const std::string &value) {
  return std::string("      ") + quoted(key) + ": " + value;
}

std::string now() {
  char buf[64];
  std::time_t t = std::time(nullptr);
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", std::localtime(&t));
  return buf;
}

}  // namespace

bool JSONReporter::ReportContext(const Context &context) {
  std::ostream &out = GetOutputStream();
  const CPUInfo &cpu = context.cpu_info;
  out << "{\n  \"context\": {\n";
  out << "    \"date\": " << quoted(now()) << ",\n";
  out << "    \"host_name\": " << quoted(context.sys_info.name) << ",\n";
  out << "    \"executable\": " << quoted(Context::executable_name) << ",\n";
  out << "    \"num_cpus\": " << cpu.num_cpus << ",\n";
  out << "    \"mhz_per_cpu\": " << std::lround(cpu.cycles_per_second / 1e6) << ",\n";
  out << "    \"cpu_scaling_enabled\": " << (cpu.scaling == CPUInfo::ENABLED ? "true" : "false")
      << ",\n";
  out << "    \"caches\": [";
  for (size_t i = 0; i < cpu.caches.size(); ++i) {
    const CPUInfo::CacheInfo &c = cpu.caches[i];
    out << (i ? ",\n" : "\n") << "      {\n        \"type\": " << quoted(c.type)
        << ",\n        \"level\": " << c.level << ",\n        \"size\": " << c.size
        << ",\n        \"num_sharing\": " << c.num_sharing << "\n      }";
  }
  out << (cpu.caches.empty() ? "],\n" : "\n    ],\n");
  out << "    \"load_avg\": [";
  for (size_t i = 0; i < cpu.load_avg.size(); ++i)
    out << (i ? "," : "") << number(cpu.load_avg[i]);
  out << "],\n";
  out << "    \"ticks_per_ns\": " << number(internal::ticks_per_ns()) << ",\n";
  if (auto *custom = internal::GetGlobalContext())
    for (auto &kv : *custom)
      out << "    " << quoted(kv.first) << ": " << quoted(kv.second) << ",\n";
  out << "    \"library_build_type\": \"release\"\n  },\n  \"benchmarks\": [\n";
  return true;
}

void JSONReporter::ReportRuns(const std::vector<Run> &reports) {
  for (auto &run : reports) {
    if (!first_report_)
      GetOutputStream() << ",\n";
    first_report_ = false;
    PrintRunData(run);
  }
}

void JSONReporter::PrintRunData(const Run &run) {
  std::vector<std::string> f;
  f.push_back(field("name", quoted(run.benchmark_name())));
  f.push_back(field("family_index", std::to_string(run.family_index)));
  f.push_back(field("per_family_instance_index", std::to_string(run.per_family_instance_index)));
  f.push_back(field("run_name", quoted(run.run_name.str())));
  bool agg = run.run_type == Run::RT_Aggregate;
  f.push_back(field("run_type", quoted(agg ? "aggregate" : "iteration")));
  f.push_back(field("repetitions", std::to_string(run.repetitions)));
  if (!agg)
    f.push_back(field("repetition_index", std::to_string(run.repetition_index)));
  f.push_back(field("threads", std::to_string(run.threads)));
  if (agg) {
    f.push_back(field("aggregate_name", quoted(run.aggregate_name)));
    f.push_back(
        field("aggregate_unit", quoted(run.aggregate_unit == kTime ? "time" : "percentage")));
  }
  if (run.report_big_o) {
    f.push_back(field("cpu_coefficient", number(run.GetAdjustedCPUTime())));
    f.push_back(field("real_coefficient", number(run.GetAdjustedRealTime())));
    f.push_back(field("big_o", quoted(internal::big_o_text(run.complexity))));
    f.push_back(field("time_unit", quoted(GetTimeUnitString(run.time_unit))));
  } else if (run.report_rms) {
    f.push_back(field("rms", number(internal::shown_cpu(run))));
  } else if (run.error_occurred) {
    f.push_back(field("error_occurred", "true"));
    f.push_back(field("error_message", quoted(run.error_message)));
    // Readers of these files take every entry's times; an error's are 0.
    f.push_back(field("iterations", std::to_string(run.iterations)));
    f.push_back(field("real_time", "0.0"));
    f.push_back(field("cpu_time", "0.0"));
    f.push_back(field("time_unit", quoted(GetTimeUnitString(run.time_unit))));
  } else {
    f.push_back(field("iterations", std::to_string(run.iterations)));
    f.push_back(field("real_time", number(internal::shown_real(run))));
    f.push_back(field("cpu_time", number(internal::shown_cpu(run))));
    f.push_back(field("time_unit", quoted(GetTimeUnitString(run.time_unit))));
    f.push_back(field(run.core_cycles ? "cycles" : "ticks", number(run.cycles_per_iteration)));
    if (run.run_type == Run::RT_Iteration)
      f.push_back(field("resolved", run.resolved ? "true" : "false"));
    for (auto &c : run.counters)
      f.push_back(field(c.first.c_str(), number(c.second.value)));
    if (!run.report_label.empty())
      f.push_back(field("label", quoted(run.report_label)));
  }
  std::ostream &out = GetOutputStream();
  out << "    {\n";
  for (size_t i = 0; i < f.size(); ++i)
    out << f[i] << (i + 1 < f.size() ? ",\n" : "\n");
  out << "    }";
}

void JSONReporter::Finalize() { GetOutputStream() << "\n  ]\n}\n"; }

}  // namespace benchmark
