// The asymptotic fit a family asks for with Complexity(): its runs' times
// against their complexity N, by least squares through the origin, as two
// more rows after the family's last run: the coefficient (_BigO) and the
// fit's root mean square error relative to the mean time (_RMS).
#include <cmath>

#include "internal.h"

namespace benchmark {
namespace internal {
namespace {

double curve(BigO o, BigOFunc *lambda, double n) {
  switch (o) {
    case oN:
      return n;
    case oNSquared:
      return n * n;
    case oNCubed:
      return n * n * n;
    case oLogN:
      return std::log2(n);
    case oNLogN:
      return n * std::log2(n);
    case oLambda:
      return lambda ? lambda(static_cast<IterationCount>(n)) : 0;
    default:
      return 1;
  }
}

struct Fit {
  double coefficient = 0;
  double rms = 0;  // relative to the mean time
};

// time ~ c * f(n): c = sum(t f) / sum(f f).
Fit fit(const std::vector<double> &n, const std::vector<double> &t, BigO o, BigOFunc *lambda) {
  double tf = 0, ff = 0, mean = 0;
  for (size_t i = 0; i < n.size(); ++i) {
    double f = curve(o, lambda, n[i]);
    tf += t[i] * f;
    ff += f * f;
    mean += t[i];
  }
  Fit r;
  r.coefficient = ff > 0 ? tf / ff : 0;
  double sq = 0;
  for (size_t i = 0; i < n.size(); ++i) {
    double e = t[i] - r.coefficient * curve(o, lambda, n[i]);
    sq += e * e;
  }
  mean /= static_cast<double>(n.size());
  r.rms = mean > 0 ? std::sqrt(sq / static_cast<double>(n.size())) / mean : 0;
  return r;
}

// With oAuto the curve of least error, judged on the CPU time.
BigO best_curve(const std::vector<double> &n, const std::vector<double> &cpu) {
  BigO best = o1;
  double least = INFINITY;
  for (BigO o : {o1, oLogN, oN, oNLogN, oNSquared, oNCubed}) {
    double rms = fit(n, cpu, o, nullptr).rms;
    if (rms < least) {
      least = rms;
      best = o;
    }
  }
  return best;
}

BenchmarkReporter::Run row(const BenchmarkReporter::Run &first, const char *what) {
  BenchmarkReporter::Run r = first;
  r.run_name.args.clear();
  r.run_type = BenchmarkReporter::Run::RT_Aggregate;
  r.aggregate_name = what;
  r.repetition_index = BenchmarkReporter::Run::no_repetition_index;
  r.report_label.clear();
  r.counters.clear();
  r.cycles_per_iteration = 0;
  return r;
}

}  // namespace

std::vector<BenchmarkReporter::Run> complexity_rows(
    const std::vector<BenchmarkReporter::Run> &runs) {
  std::vector<double> n, real, cpu;
  const BenchmarkReporter::Run *first = nullptr;
  // Runs without an N of 1 or more (SetComplexityN not called, or an
  // argument of 0) have no place on a curve through lg N.
  for (auto &r : runs)
    if (!r.error_occurred && r.run_type == BenchmarkReporter::Run::RT_Iteration &&
        r.complexity_n >= 1) {
      first = first ? first : &r;
      n.push_back(static_cast<double>(r.complexity_n));
      real.push_back(r.GetAdjustedRealTime());
      cpu.push_back(r.GetAdjustedCPUTime());
    }
  if (n.size() < 2)
    return {};
  BigO o = first->complexity == oAuto ? best_curve(n, cpu) : first->complexity;
  Fit fr = fit(n, real, o, first->complexity_lambda), fc = fit(n, cpu, o, first->complexity_lambda);
  double to_seconds = 1 / GetTimeUnitMultiplier(first->time_unit);
  BenchmarkReporter::Run big_o = row(*first, "BigO");
  big_o.report_big_o = true;
  big_o.complexity = o;
  big_o.iterations = 0;  // the times are the coefficients, not per iteration
  big_o.real_accumulated_time = fr.coefficient * to_seconds;
  big_o.cpu_accumulated_time = fc.coefficient * to_seconds;
  BenchmarkReporter::Run rms = row(*first, "RMS");
  rms.report_rms = true;
  rms.complexity = o;
  rms.aggregate_unit = kPercentage;
  rms.iterations = 1;
  rms.real_accumulated_time = fr.rms;
  rms.cpu_accumulated_time = fc.rms;
  return {big_o, rms};
}

const char *big_o_text(BigO o) {
  switch (o) {
    case oN:
      return "N";
    case oNSquared:
      return "N^2";
    case oNCubed:
      return "N^3";
    case oLogN:
      return "lgN";
    case oNLogN:
      return "NlgN";
    case o1:
      return "(1)";
    default:
      return "f(N)";
  }
}

}  // namespace internal
}  // namespace benchmark
