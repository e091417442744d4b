// The console table: name, time, CPU time, iterations and counter ticks
// (or core cycles) per iteration, then the counters.
#include <cmath>
#include <cstdio>

#include "internal.h"

namespace benchmark {
namespace {

std::string format(const char *fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// A counter's column: as wide as its name, at least 10.
int column(const std::string &name) { return name.size() > 10 ? int(name.size()) : 10; }

std::string padded(const std::string &s, int width) {
  return std::string(s.size() < size_t(width) ? size_t(width) - s.size() : 0, ' ') + s;
}

// A time with three significant figures or more.
std::string time_text(double t) {
  const char *fmt = t < 1 ? "%10.4f" : t < 10 ? "%10.2f" : t < 100 ? "%10.1f" : "%10.0f";
  return format(fmt, t);
}

// 1.2k, 3.4M, 5.6G (powers of 1000 or 1024, the prefix the same for both)
// for counters, and 7.8m, 9.1u, 2.3n for those below 0.01, six digits, as
// suites' readers know them: a prefix only where the figure is more than
// 1.1 of it, so 1100 stays 1100 and 0.001 reads 1000u.
std::string human(double v, Counter::OneK one_k) {
  static const char *const big[] = {"", "k", "M", "G", "T", "P", "E", "Z", "Y"};
  static const char *const small[] = {"", "m", "u", "n", "p", "f", "a", "z", "y"};
  const int last = 8;
  double base = one_k == Counter::kIs1024 ? 1024 : 1000;
  int p = 0, q = 0;
  while (std::fabs(v) > 1.1 * base && p < last) {
    v /= base;
    ++p;
  }
  if (p == 0 && v != 0 && std::fabs(v) < 0.01)
    while (std::fabs(v) < 1.1 && q < last) {
      v *= base;
      ++q;
    }
  return format("%.6g", v) + (q ? small[q] : big[p]);
}

// A percentage aggregate (cv) shows its counters as percentages too.
std::string counter_value(const BenchmarkReporter::Run &run, const Counter &c) {
  if (run.run_type == BenchmarkReporter::Run::RT_Aggregate && run.aggregate_unit == kPercentage)
    return format("%.2f", 100 * c.value) + "%";
  std::string s = human(c.value, c.oneK);
  if (c.flags & Counter::kIsRate)
    s += (c.flags & Counter::kInvert) ? "s" : "/s";
  return s;
}

}  // namespace

bool ConsoleReporter::ReportContext(const Context &context) {
  name_field_width_ = context.name_field_width;
  PrintBasicContext(&GetErrorStream(), context);
  return true;
}

void ConsoleReporter::PrintHeader(const Run &run) {
  std::string unit_col = run.core_cycles ? "Cycles" : "Ticks";
  char line[512];
  std::snprintf(line, sizeof line, "%-*s %13s %15s %12s %10s", static_cast<int>(name_field_width_),
                "Benchmark", "Time", "CPU", "Iterations", unit_col.c_str());
  std::string head = line;
  if (tabular())
    for (auto &c : run.counters)
      head += " " + padded(c.first, column(c.first));
  else
    head += " UserCounters...";
  std::string rule(head.size(), '-');
  GetOutputStream() << rule << '\n' << head << '\n' << rule << '\n';
}

bool ConsoleReporter::tabular() const { return (output_options_ & OO_Tabular) != 0; }

// In columns, a new header whenever the counters' names change.
static bool same_names(const UserCounters &a, const UserCounters &b) {
  if (a.size() != b.size())
    return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
    if (i->first != j->first)
      return false;
  return true;
}

void ConsoleReporter::ReportRuns(const std::vector<Run> &reports) {
  for (auto &run : reports) {
    bool renamed = tabular() && !run.error_occurred && !same_names(run.counters, prev_counters_);
    if (!printed_header_ || renamed) {
      PrintHeader(run);
      printed_header_ = true;
      if (!run.error_occurred)
        prev_counters_ = run.counters;
    }
    PrintRunData(run);
  }
}

void ConsoleReporter::PrintRunData(const Run &run) {
  std::ostream &out = GetOutputStream();
  char name[512];
  std::snprintf(name, sizeof name, "%-*s", static_cast<int>(name_field_width_),
                run.benchmark_name().c_str());
  out << name << ' ';
  if (run.error_occurred) {
    if (run.error_message.compare(0, 8, "skipped:") == 0)
      out << run.error_message << '\n';
    else
      out << "ERROR OCCURRED: '" << run.error_message << "'\n";
    return;
  }
  const char *unit = GetTimeUnitString(run.time_unit);
  if (run.report_big_o) {
    const char *o = internal::big_o_text(run.complexity);
    out << format("%10.2f", run.GetAdjustedRealTime()) << ' ' << o << ' '
        << format("%12.2f", run.GetAdjustedCPUTime()) << ' ' << o << '\n';
    return;
  }
  if (run.aggregate_unit == kPercentage)
    out << format("%10.2f", 100 * internal::shown_real(run)) << " % "
        << format("%12.2f", 100 * internal::shown_cpu(run)) << " % ";
  else
    out << time_text(internal::shown_real(run)) << ' ' << unit << ' '
        << padded(time_text(internal::shown_cpu(run)), 12) << ' ' << unit << ' ';
  if (run.report_rms) {
    out << '\n';
    return;
  }
  if (run.run_type == Run::RT_Aggregate)  // over how many repetitions
    out << format("%12.0f", static_cast<double>(run.iterations)) << std::string(11, ' ');
  else
    out << format("%12.0f", static_cast<double>(run.iterations)) << ' '
        << format("%10.1f", run.cycles_per_iteration);
  for (auto &c : run.counters)
    if (tabular())
      out << ' ' << padded(counter_value(run, c.second), column(c.first));
    else
      out << ' ' << c.first << '=' << counter_value(run, c.second);
  if (!run.report_label.empty())
    out << ' ' << run.report_label;
  // Chosen iterations make a run long enough as read; what stays too short
  // is what lies between the pauses.
  if (!run.resolved && run.run_type == Run::RT_Iteration && run.iterations_chosen)
    out << " (not resolved: what is timed, the pauses left out, is too short for the counter)";
  else if (!run.resolved && run.run_type == Run::RT_Iteration)
    out << " (not resolved: " << run.iterations
        << (run.iterations == 1 ? " iteration a run is" : " iterations a run are")
        << " too few for the counter; without Iterations() they are chosen to resolve it)";
  // The answer is the least only under --precise; the mean's runs end by
  // their span, and the K least's agreement is the result lines' to say.
  if (!run.converged && run.run_type == Run::RT_Iteration && internal::options().precise)
    out << " (the K least did not agree within the run limit)";
  out << '\n';
}

}  // namespace benchmark
