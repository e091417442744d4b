// The reporters of <benchmark/benchmark.h>: what a run hands to the
// console, to a JSON or CSV file, or to a suite's own reporter.
#ifndef CYCLEKIT_COMPAT_BENCHMARK_REPORTER_H
#define CYCLEKIT_COMPAT_BENCHMARK_REPORTER_H
// Treated as benchmark.h is, for the same reason.
#ifndef CYCLEKIT_BENCHMARK_OWN_BUILD
#pragma GCC system_header
#endif

#include <iostream>

namespace benchmark {

struct CPUInfo {
  struct CacheInfo {
    std::string type;
    int level;
    int size;
    int num_sharing;
  };
  enum Scaling { UNKNOWN, ENABLED, DISABLED };
  int num_cpus;
  Scaling scaling;
  double cycles_per_second;
  std::vector<CacheInfo> caches;
  std::vector<double> load_avg;
  static const CPUInfo &Get();

 private:
  CPUInfo();
};

struct SystemInfo {
  std::string name;
  static const SystemInfo &Get();

 private:
  SystemInfo();
};

struct BenchmarkName {
  std::string function_name;
  std::string args;
  std::string min_time;
  std::string min_warmup_time;
  std::string iterations;
  std::string repetitions;
  std::string time_type;
  std::string threads;
  std::string str() const;
};

class BenchmarkReporter {
 public:
  struct Context {
    CPUInfo const &cpu_info;
    SystemInfo const &sys_info;
    size_t name_field_width;
    static const char *executable_name;
    Context();
  };

  struct Run {
    static const int64_t no_repetition_index = -1;
    enum RunType { RT_Iteration, RT_Aggregate };
    std::string benchmark_name() const;
    BenchmarkName run_name;
    int64_t family_index = 0;
    int64_t per_family_instance_index = 0;
    RunType run_type = RT_Iteration;
    std::string aggregate_name;
    StatisticUnit aggregate_unit = kTime;
    std::string report_label;
    bool error_occurred = false;
    std::string error_message;
    IterationCount iterations = 1;
    int64_t threads = 1;
    int64_t repetition_index = no_repetition_index;
    int64_t repetitions = 1;
    TimeUnit time_unit = GetDefaultTimeUnit();
    // Seconds over all iterations, as the time fields were read.
    double real_accumulated_time = 0;
    double cpu_accumulated_time = 0;
    double GetAdjustedRealTime() const;
    double GetAdjustedCPUTime() const;
    double max_heapbytes_used = 0;
    BigO complexity = oNone;
    BigOFunc *complexity_lambda = nullptr;
    int64_t complexity_n = 0;
    const std::vector<internal::Statistics> *statistics = nullptr;
    bool report_big_o = false;
    bool report_rms = false;
    UserCounters counters;
    const MemoryManager::Result *memory_result = nullptr;
    double allocs_per_iter = 0;
    // cyclekit's own: counter ticks (or core cycles) per iteration, as the
    // times are (the steady mean, or the least under --precise), and
    // whether the K least runs agreed.
    double cycles_per_iteration = 0;
    // The least of the same runs, the undisturbed cost: what cyclekit's
    // result lines (--json) carry, as the native suite's do, so that
    // cyclekit-compare compares the steadier figure.
    double least_cycles_per_iteration = 0;
    bool core_cycles = false;
    bool converged = true;
    bool resolved = true;            // the answer stands clear of the counter's step
    double uncertainty = 0;          // of cycles_per_iteration, +/-
    bool iterations_chosen = false;  // by the engine, not by Iterations()
  };

  struct PerFamilyRunReports {
    int num_runs_total = 0;
    int num_runs_done = 0;
    std::vector<Run> Runs;
  };

  BenchmarkReporter();
  virtual ~BenchmarkReporter();
  virtual bool ReportContext(const Context &context) = 0;
  virtual void ReportRuns(const std::vector<Run> &report) = 0;
  virtual void Finalize() {}
  void SetOutputStream(std::ostream *out) { output_stream_ = out; }
  void SetErrorStream(std::ostream *err) { error_stream_ = err; }
  std::ostream &GetOutputStream() const { return *output_stream_; }
  std::ostream &GetErrorStream() const { return *error_stream_; }
  static void PrintBasicContext(std::ostream *out, Context const &context);

 private:
  std::ostream *output_stream_;
  std::ostream *error_stream_;
};

class ConsoleReporter : public BenchmarkReporter {
 public:
  enum OutputOptions {
    OO_None = 0,
    OO_Color = 1,
    OO_Tabular = 2,
    OO_ColorTabular = OO_Color | OO_Tabular,
    OO_Defaults = OO_ColorTabular
  };
  explicit ConsoleReporter(OutputOptions opts = OO_Defaults) : output_options_(opts) {}
  bool ReportContext(const Context &context) override;
  void ReportRuns(const std::vector<Run> &reports) override;

 protected:
  virtual void PrintRunData(const Run &report);
  virtual void PrintHeader(const Run &report);
  bool tabular() const;  // counters in columns of their own
  OutputOptions output_options_;
  size_t name_field_width_ = 0;
  UserCounters prev_counters_;
  bool printed_header_ = false;
};

class JSONReporter : public BenchmarkReporter {
 public:
  JSONReporter() {}
  bool ReportContext(const Context &context) override;
  void ReportRuns(const std::vector<Run> &reports) override;
  void Finalize() override;

 private:
  void PrintRunData(const Run &report);
  bool first_report_ = true;
};

class CSVReporter : public BenchmarkReporter {
 public:
  CSVReporter() {}
  bool ReportContext(const Context &context) override;
  void ReportRuns(const std::vector<Run> &reports) override;

 private:
  void PrintRunData(const Run &report);
  bool printed_header_ = false;
  std::set<std::string> user_counter_names_;
};

}  // namespace benchmark

#endif
