// The CSV table: one header line, then one line per run; user counters
// get a column each, named from the first runs reported.
#include <charconv>

#include "internal.h"

namespace benchmark {
namespace {

std::string csv_quoted(const std::string &s) {
  std::string out = "\"";
  for (char c : s)
    out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// As %g writes it in the C locale, six significant digits, whatever the
// process's locale: a decimal comma would split the field.
std::string num(double v) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  return std::string(buf, r.ptr);
}

}  // namespace

// The table alone: a reader of the file expects its header line first.
bool CSVReporter::ReportContext(const Context &) { return true; }

void CSVReporter::ReportRuns(const std::vector<Run> &reports) {
  std::ostream &out = GetOutputStream();
  if (!printed_header_) {
    for (auto &run : reports)
      for (auto &c : run.counters)
        if (c.first != "bytes_per_second" && c.first != "items_per_second")
          user_counter_names_.insert(c.first);
    out << "name,iterations,real_time,cpu_time,time_unit,bytes_per_second,items_per_second,"
           "label,error_occurred,error_message,ticks";
    for (auto &n : user_counter_names_)
      out << "," << csv_quoted(n);
    out << '\n';
    printed_header_ = true;
  }
  for (auto &run : reports)
    PrintRunData(run);
}

void CSVReporter::PrintRunData(const Run &run) {
  std::ostream &out = GetOutputStream();
  out << csv_quoted(run.benchmark_name()) << ',';
  if (run.error_occurred) {
    out << ",,,,,,,"
        << "true," << csv_quoted(run.error_message) << ",";
    for (size_t i = 0; i < user_counter_names_.size(); ++i)
      out << ',';
    out << '\n';
    return;
  }
  // A fit's row: its coefficients and curve, or its error, and nothing else.
  if (run.report_big_o || run.report_rms) {
    out << ',' << num(internal::shown_real(run)) << ',' << num(internal::shown_cpu(run)) << ','
        << (run.report_big_o ? internal::big_o_text(run.complexity) : "") << ",,,,,,";
    for (size_t i = 0; i < user_counter_names_.size(); ++i)
      out << ',';
    out << '\n';
    return;
  }
  out << (run.run_type == Run::RT_Aggregate ? "" : std::to_string(run.iterations)) << ','
      << num(internal::shown_real(run)) << ',' << num(internal::shown_cpu(run)) << ','
      << GetTimeUnitString(run.time_unit) << ',';
  for (const char *rate : {"bytes_per_second", "items_per_second"}) {
    auto it = run.counters.find(rate);
    if (it != run.counters.end())
      out << num(it->second.value);
    out << ',';
  }
  out << (run.report_label.empty() ? "" : csv_quoted(run.report_label)) << ",,,"
      << num(run.cycles_per_iteration);
  for (auto &n : user_counter_names_) {
    out << ',';
    auto it = run.counters.find(n);
    if (it != run.counters.end())
      out << num(it->second.value);
  }
  out << '\n';
}

}  // namespace benchmark
