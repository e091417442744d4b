// RunSpecifiedBenchmarks: the filter, the list, the reporters, and each
// instance's runs and aggregates handed to them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <regex>

#include "internal.h"

namespace benchmark {
namespace internal {
namespace {

// The filter is an extended regular expression searched in the name; a
// leading '-' keeps the names it does not match.  One that does not compile
// is said with the reason and selects nothing.
std::vector<Instance> selected(std::string filter, bool &compiled) {
  compiled = false;
  if (filter == "all")  // only as the whole filter: "-all" is a pattern
    filter = ".";
  bool negate = !filter.empty() && filter[0] == '-';
  if (negate)
    filter.erase(0, 1);
  if (filter.empty())
    filter = ".";
  std::regex re;
  try {
    re = std::regex(filter, std::regex::extended);
  } catch (const std::regex_error &e) {
    std::fprintf(stderr, "Could not compile benchmark re: %s\n", e.what());
    return {};
  }
  compiled = true;
  std::vector<Instance> out;
  for (auto &in : all_instances())
    if (std::regex_search(in.name.str(), re) != negate)
      out.push_back(in);
  return out;
}

std::unique_ptr<BenchmarkReporter> make_reporter(const std::string &format) {
  if (format == "json")
    return std::unique_ptr<BenchmarkReporter>(new JSONReporter);
  if (format == "csv")
    return std::unique_ptr<BenchmarkReporter>(new CSVReporter);
  if (format != "console")
    say_once("unknown format '" + format + "': the console's is used");
  return std::unique_ptr<BenchmarkReporter>(new ConsoleReporter(
      options().counters_tabular ? ConsoleReporter::OO_Tabular : ConsoleReporter::OO_None));
}

std::vector<BenchmarkReporter::Run> pick(const std::vector<BenchmarkReporter::Run> &runs,
                                         const std::vector<BenchmarkReporter::Run> &aggs,
                                         bool aggregates_only) {
  if (aggregates_only && !aggs.empty())
    return aggs;
  std::vector<BenchmarkReporter::Run> all = runs;
  all.insert(all.end(), aggs.begin(), aggs.end());
  return all;
}

// What ends a benchmark's runs instead of a minimum time.
const char *how_long() {
  return options().precise ? "runs end when the K least agree"
                           : "the mean is taken over about 5 ms of runs of at least 512 iterations";
}

void say_what_differs() {
  if (options().min_time > 0)
    say_once(std::string("--benchmark_min_time has no effect: ") + how_long());
  if (options().precise)
    say_once(
        "--precise: each State loop is timed with the fenced pair in core cycles; the "
        "fine estimator has no form for a loop the code times itself");
  if (options().random_interleaving)
    say_once("random interleaving: the benchmarks are run in a shuffled order");
}

// Each instance run and handed to the reporters; a family's fit follows
// its last instance to run.
void run_and_report(const std::vector<Instance> &list, BenchmarkReporter *display,
                    BenchmarkReporter *file, BenchmarkReporter *lines) {
  const Options &o = options();
  std::map<int, int> left_in_family;
  std::map<int, std::vector<BenchmarkReporter::Run>> family_runs;
  for (auto &in : list)
    if (in.family->complexity_ != oNone)
      ++left_in_family[in.family_index];
  for (auto &in : list) {
    int reps = in.family->repetitions_ > 0 ? in.family->repetitions_ : o.repetitions;
    std::vector<BenchmarkReporter::Run> runs = run_instance(in, reps);
    std::vector<BenchmarkReporter::Run> aggs;
    if (reps > 1)
      aggs = aggregates(runs);
    unsigned mode = in.family->aggregation_report_mode_;
    bool file_only = mode ? (mode & ARM_FileReportAggregatesOnly) : o.report_aggregates_only;
    bool display_only = mode ? (mode & ARM_DisplayReportAggregatesOnly)
                             : o.display_aggregates_only || o.report_aggregates_only;
    std::vector<BenchmarkReporter::Run> fit;
    if (in.family->complexity_ != oNone) {
      auto &all = family_runs[in.family_index];
      all.insert(all.end(), runs.begin(), runs.end());
      if (--left_in_family[in.family_index] == 0)
        fit = complexity_rows(all);
    }
    std::vector<BenchmarkReporter::Run> shown = pick(runs, aggs, display_only);
    shown.insert(shown.end(), fit.begin(), fit.end());
    display->ReportRuns(shown);
    if (file) {
      std::vector<BenchmarkReporter::Run> filed = pick(runs, aggs, file_only);
      filed.insert(filed.end(), fit.begin(), fit.end());
      file->ReportRuns(filed);
    }
    if (lines)
      lines->ReportRuns(runs);
  }
}

size_t run_all(BenchmarkReporter *display, BenchmarkReporter *file, std::string filter) {
  Options &o = options();
  bool compiled;
  std::vector<Instance> list = selected(filter, compiled);
  if (list.empty()) {
    if (compiled)
      std::fprintf(stderr, "Failed to match any benchmarks against regex: %s\n", filter.c_str());
    return 0;
  }
  if (o.list_tests) {
    for (auto &in : list)
      std::printf("%s\n", in.name.str().c_str());
    return list.size();
  }
  std::unique_ptr<BenchmarkReporter> own_display, own_file;
  if (!display) {
    own_display = make_reporter(o.format);
    display = own_display.get();
  }
  std::ofstream out;
  if (!o.out.empty()) {
    out.open(o.out);
    if (!out) {
      std::fprintf(stderr, "invalid file name: '%s'\n", o.out.c_str());
      std::exit(1);
    }
    if (!file) {
      own_file = make_reporter(o.out_format);
      file = own_file.get();
    }
    file->SetOutputStream(&out);
  } else if (file) {
    // Its lines would otherwise land among the table's on standard output.
    std::fprintf(stderr,
                 "A custom file reporter was provided but --benchmark_out=<file> was not "
                 "specified.\n");
    std::exit(1);
  }
  std::ofstream lines_file;
  BenchmarkReporter *lines = nullptr;
  if (!o.json_file.empty()) {
    lines = result_lines_reporter();
    if (o.json_file == "-") {
      // Standard output is the lines' alone; the table moves aside.
      lines->SetOutputStream(&std::cout);
      display->SetOutputStream(&std::cerr);
    } else {
      lines_file.open(o.json_file);
      if (!lines_file) {
        std::fprintf(stderr, "cannot write %s\n", o.json_file.c_str());
        std::exit(1);
      }
      lines->SetOutputStream(&lines_file);
    }
  }
  say_what_differs();
  for (auto &in : list)
    if (in.family->min_time_ > 0)
      say_once(std::string("MinTime() has no effect: ") + how_long());
  if (o.random_interleaving)
    std::shuffle(list.begin(), list.end(), std::mt19937(std::random_device()()));
  std::vector<BenchmarkReporter *> all{display, file, lines};
  // A reporter that declines the context stops the run before it starts;
  // each is still finalized.
  BenchmarkReporter::Context context;
  bool all_agree = true;
  for (auto *r : all)
    if (r && all_agree)
      all_agree = r->ReportContext(context);
  if (all_agree)
    run_and_report(list, display, file, lines);
  for (auto *r : all)
    if (r)
      r->Finalize();
  if (lines && !(o.json_file == "-" ? std::cout.flush() : lines_file.flush())) {
    std::fprintf(stderr, "could not write %s\n", o.json_file.c_str());
    std::exit(1);
  }
  // A result file cut short is worse than none: say so and fail.
  if (!o.out.empty() && !out.flush()) {
    std::fprintf(stderr, "could not write %s\n", o.out.c_str());
    std::exit(1);
  }
  return list.size();
}

}  // namespace
}  // namespace internal

size_t RunSpecifiedBenchmarks() { return RunSpecifiedBenchmarks(nullptr, nullptr, ""); }
size_t RunSpecifiedBenchmarks(std::string filter) {
  return RunSpecifiedBenchmarks(nullptr, nullptr, std::move(filter));
}
size_t RunSpecifiedBenchmarks(BenchmarkReporter *display) {
  return RunSpecifiedBenchmarks(display, nullptr, "");
}
size_t RunSpecifiedBenchmarks(BenchmarkReporter *display, std::string filter) {
  return RunSpecifiedBenchmarks(display, nullptr, std::move(filter));
}
size_t RunSpecifiedBenchmarks(BenchmarkReporter *display, BenchmarkReporter *file) {
  return RunSpecifiedBenchmarks(display, file, "");
}
size_t RunSpecifiedBenchmarks(BenchmarkReporter *display, BenchmarkReporter *file,
                              std::string filter) {
  if (filter.empty())
    filter = internal::options().filter;
  return internal::run_all(display, file, filter);
}

BenchmarkReporter *CreateDefaultDisplayReporter() {
  static auto *r = internal::make_reporter(internal::options().format).release();
  return r;
}

}  // namespace benchmark
