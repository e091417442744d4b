// Registration and names: the families suites register, the builder that
// gives them arguments and settings, and the instances made from them.
#include <cstdio>
#include <memory>

#include "internal.h"
#include "params.h"

namespace benchmark {
namespace internal {
namespace {

std::vector<std::unique_ptr<Benchmark>> &families() {
  static std::vector<std::unique_ptr<Benchmark>> all;
  return all;
}

std::string min_time_part(const char *what, double t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s:%0.3f", what, t);
  return buf;
}

// The arguments' part of the name, as the native suite names its members.
std::string args_part(const Benchmark &b, const std::vector<int64_t> &args) {
  std::vector<const char *> names(args.size(), nullptr);
  for (size_t i = 0; i < args.size() && i < b.arg_names_.size(); ++i)
    names[i] = b.arg_names_[i].c_str();
  int nargs = static_cast<int>(args.size());
  size_t length = cyclekit_params_name(nullptr, 0, "", nargs, names.data(), args.data());
  std::string s(length, '\0');
  cyclekit_params_name(&s[0], length + 1, "", nargs, names.data(), args.data());
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

// Both sized first, then filled; a list the engine refuses is empty.
std::vector<int64_t> CreateRange(int64_t lo, int64_t hi, int multi) {
  int n = cyclekit_params_range(lo, hi, multi, nullptr, 0);
  std::vector<int64_t> out(n > 0 ? static_cast<size_t>(n) : 0);
  cyclekit_params_range(lo, hi, multi, out.data(), out.size());
  return out;
}

std::vector<int64_t> CreateDenseRange(int64_t start, int64_t limit, int step) {
  int64_t n = cyclekit_params_dense(start, limit, step, nullptr, 0);
  std::vector<int64_t> out(n > 0 ? static_cast<size_t>(n) : 0);
  cyclekit_params_dense(start, limit, step, out.data(), out.size());
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
