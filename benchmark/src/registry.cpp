// Registration and names: the families suites register, the builder that
// gives them arguments and settings, and the instances made from them.
#include <cstdio>
#include <memory>

#include "internal.h"

namespace benchmark {
namespace internal {
namespace {

std::vector<std::unique_ptr<Benchmark>> &families() {
  static std::vector<std::unique_ptr<Benchmark>> all;
  return all;
}

// Powers of multi strictly between lo and hi, for 0 < lo <= hi.
void add_powers(std::vector<int64_t> &out, int64_t lo, int64_t hi, int multi) {
  out.push_back(lo);
  for (int64_t p = 1; p < hi; p *= multi) {
    if (p > lo)
      out.push_back(p);
    if (p > hi / multi)
      break;
  }
  if (hi != lo)
    out.push_back(hi);
}

std::string min_time_part(const char *what, double t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s:%0.3f", what, t);
  return buf;
}

std::string args_part(const Benchmark &b, const std::vector<int64_t> &args) {
  std::string s;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i)
      s += '/';
    if (i < b.arg_names_.size() && !b.arg_names_[i].empty())
      s += b.arg_names_[i] + ':';
    s += std::to_string(args[i]);
  }
  return s;
}

std::string time_type_part(const Benchmark &b) {
  std::string s;
  if (b.measure_process_cpu_time_)
    s = "process_time";
  if (b.use_manual_time_)
    s += s.empty() ? "manual_time" : "/manual_time";
  else if (b.use_real_time_)
    s += s.empty() ? "real_time" : "/real_time";
  return s;
}

BenchmarkName make_name(const Benchmark &b, const std::vector<int64_t> &args, int threads) {
  BenchmarkName n;
  n.function_name = b.name_;
  n.args = args_part(b, args);
  if (b.min_time_ > 0)
    n.min_time = min_time_part("min_time", b.min_time_);
  if (b.min_warmup_time_ > 0)
    n.min_warmup_time = min_time_part("min_warmup_time", b.min_warmup_time_);
  if (b.iterations_ > 0)
    n.iterations = "iterations:" + std::to_string(b.iterations_);
  if (b.repetitions_ > 0)
    n.repetitions = "repeats:" + std::to_string(b.repetitions_);
  n.time_type = time_type_part(b);
  if (!b.thread_counts_.empty())
    n.threads = "threads:" + std::to_string(threads);
  return n;
}

}  // namespace

Benchmark *RegisterBenchmarkInternal(Benchmark *b) {
  families().emplace_back(b);
  return b;
}

std::vector<Instance> all_instances() {
  std::vector<Instance> out;
  int family_index = 0;
  for (auto &f : families()) {
    std::vector<std::vector<int64_t>> sets = f->args_;
    if (sets.empty())
      sets.emplace_back();
    std::vector<int> threads = f->thread_counts_;
    if (threads.empty())
      threads.push_back(1);
    int instance_index = 0;
    for (auto &args : sets)
      for (int t : threads)
        out.push_back({f.get(), family_index, instance_index++, args, t, make_name(*f, args, t)});
    ++family_index;
  }
  return out;
}

}  // namespace internal

void ClearRegisteredBenchmarks() { internal::families().clear(); }

std::vector<int64_t> CreateRange(int64_t lo, int64_t hi, int multi) {
  std::vector<int64_t> out;
  if (multi < 2 || lo > hi)
    return out;
  if (lo < 0) {
    std::vector<int64_t> neg;
    internal::add_powers(neg, hi < 0 ? -hi : 1, -lo, multi);
    for (auto it = neg.rbegin(); it != neg.rend(); ++it)
      out.push_back(-*it);
  }
  if (lo <= 0 && hi >= 0)
    out.push_back(0);
  if (hi > 0)
    internal::add_powers(out, lo > 0 ? lo : 1, hi, multi);
  return out;
}

std::vector<int64_t> CreateDenseRange(int64_t start, int64_t limit, int step) {
  std::vector<int64_t> out;
  for (int64_t v = start; step > 0 && v <= limit; v += step)
    out.push_back(v);
  return out;
}

std::string BenchmarkName::str() const {
  std::string s = function_name;
  for (const std::string *part :
       {&args, &min_time, &min_warmup_time, &iterations, &repetitions, &time_type, &threads})
    if (!part->empty())
      s += (s.empty() ? "" : "/") + *part;
  return s;
}

}  // namespace benchmark
