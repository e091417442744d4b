#include "compare_verdict.h"

#include <cstdio>
#include <map>

#include "stats.h"

namespace {

double median(std::vector<double> v) { return cyclekit_median(v.data(), v.size()); }

double median_of(const std::vector<sample> &v, double sample::*f) {
  std::vector<double> a;
  for (const auto &x : v)
    a.push_back(x.*f);
  return median(a);
}

// Answers of 0 or below (a net answer may be) have no logarithm.
std::vector<double> logs_of(const std::vector<sample> &v) {
  std::vector<double> l;
  for (const auto &x : v)
    if (x.answer > 0 && std::isfinite(x.answer))
      l.push_back(std::log(x.answer));
  return l;
}

// Each run's median answer, by run.
std::map<int, double> run_medians(const std::vector<sample> &v) {
  std::map<int, std::vector<double>> by_run;
  for (const auto &x : v)
    by_run[x.run].push_back(x.answer);
  std::map<int, double> m;
  for (auto &[run, a] : by_run)
    m[run] = median(a);
  return m;
}

std::vector<double> pair_logs(const std::vector<sample> &b, const std::vector<sample> &n) {
  std::map<int, double> old_runs = run_medians(b), new_runs = run_medians(n);
  std::vector<double> logs;
  for (const auto &[run, a] : old_runs) {
    auto it = new_runs.find(run);
    if (it != new_runs.end() && a > 0 && it->second > 0 && std::isfinite(a / it->second))
      logs.push_back(std::log(it->second / a));
  }
  return logs;
}

name_data prepare(const std::string &name, unit in, const std::vector<sample> &b,
                  const std::vector<sample> &n, bool paired) {
  name_data d;
  d.name = name;
  d.in = in;
  d.paired = paired;
  if (paired)
    d.pair_logs = pair_logs(b, n);
  else
    d.base_logs = logs_of(b), d.new_logs = logs_of(n);
  for (const auto &x : b)
    d.base_answers.push_back(x.answer);
  for (const auto &x : n)
    d.new_answers.push_back(x.answer);
  d.base = median_of(b, &sample::answer);
  d.fresh = median_of(n, &sample::answer);
  d.resolution =
      cyclekit_resolution(median_of(b, &sample::uncertainty), median_of(n, &sample::uncertainty));
  d.base_n = b.size();
  d.new_n = n.size();
  return d;
}

// The shift of the log answers and its interval of the given confidence.
cyclekit_shift shift_of(const name_data &d, double confidence) {
  cyclekit_shift s;
  int failed =
      d.paired ? cyclekit_shift_paired(d.pair_logs.data(), d.pair_logs.size(), confidence, &s)
               : cyclekit_shift_two_samples(d.base_logs.data(), d.base_logs.size(),
                                            d.new_logs.data(), d.new_logs.size(), confidence, &s);
  if (failed)
    throw input_error(d.name + ": out of memory for its interval");
  return s;
}

bool resolved(const name_data &d) { return !(std::fabs(d.fresh - d.base) <= d.resolution); }

std::string too_few_for(double confidence) {
  char text[80];
  snprintf(text, sizeof text, "too few answers for the gate's %.1f %% interval", 100 * confidence);
  return text;
}

void check_answers(const side &s) {
  if (s.results == 0)
    throw input_error(s.label + ": nothing to compare, no result lines (only a context line)");
}

}  // namespace

std::vector<name_data> pair_up(const side &base, const side &fresh, bool paired,
                               missing_names &missing) {
  check_answers(base);
  check_answers(fresh);
  std::vector<name_data> data;
  std::string mixed;
  for (const auto &name : base.order) {
    auto n = fresh.answers.find(name);
    if (n == fresh.answers.end()) {
      missing.push_back({name, "new"});
      continue;
    }
    const auto &b = base.answers.at(name);
    std::string why;
    auto in = common_unit(b, n->second, why);
    if (!in)
      mixed += "\n  " + name + ": " + why;
    else
      data.push_back(prepare(name, *in, in_unit(b, *in), in_unit(n->second, *in), paired));
  }
  for (const auto &name : fresh.order)
    if (!base.answers.count(name))
      missing.push_back({name, "base"});
  if (!mixed.empty())
    throw input_error("answers in different units are not compared:" + mixed);
  if (data.empty())
    throw input_error("nothing to compare: no name is in both " + base.label + " and " +
                      fresh.label);
  return data;
}

row judge(const name_data &d, double margin) {
  row r;
  r.name = d.name;
  r.in = d.in;
  r.base = d.base;
  r.fresh = d.fresh;
  r.base_n = d.base_n;
  r.new_n = d.new_n;
  r.resolution = d.resolution;
  cyclekit_shift s = shift_of(d, 0.95);
  r.ratio = std::exp(s.estimate);
  if (s.interval) {
    r.low = std::exp(s.low);
    r.high = std::exp(s.high);
  }
  if (!resolved(d)) {
    r.verdict = "not resolved";
  } else if (!s.interval) {
    r.verdict = "not distinguishable";
    r.notes.push_back(d.paired ? "too few pairs for a 95 % interval: 6 needed"
                               : "too few repetitions for a 95 % interval: 4 a side needed");
  } else if (r.low > 1 + margin) {
    r.verdict = "slower";
  } else if (r.high < 1 / (1 + margin)) {
    r.verdict = "faster";
  } else {
    r.verdict = "not distinguishable";
  }
  if ((r.ratio > 1 && r.fresh < r.base) || (r.ratio < 1 && r.fresh > r.base))
    r.notes.push_back("the ratio and the medians point in different directions");
  return r;
}

size_t gate(const std::vector<name_data> &data, std::vector<row> &rows, double margin) {
  std::vector<size_t> open;
  for (size_t i = 0; i < rows.size(); i++)
    if (std::isfinite(rows[i].low))
      open.push_back(i);
  const size_t family = open.size();
  // Holm: with k names left, each is tested at kGateLevel / k; a name found
  // changed leaves the family, and the rest are tested again, until none is.
  for (bool found = true; found && !open.empty();) {
    double confidence = 1 - kGateLevel / double(open.size());
    std::vector<size_t> left;
    found = false;
    for (size_t i : open) {
      cyclekit_shift s = shift_of(data[i], confidence);
      bool slower = s.interval && std::exp(s.low) > 1 + margin;
      bool faster = s.interval && std::exp(s.high) < 1 / (1 + margin);
      if (slower || faster)
        found = true;
      else
        left.push_back(i);
      rows[i].gate = slower && resolved(data[i]);
      if (!s.interval)
        rows[i].notes.push_back(too_few_for(confidence));
    }
    open = left;
  }
  return family;
}
