// The front end for <benchmark/benchmark.h> suites: the sample suite built
// against it lists the names the installed library lists, runs to exit 0,
// says why a benchmark was skipped, and writes JSON in the usual layout.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "clock.h"
#include "support/run_program.h"

namespace {

program_run sample(std::vector<std::string> args) {
  args.insert(args.begin(), SAMPLE_SUITE);
  return run_program(args);
}

std::string slurp(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(BenchmarkCompat, RangesAreBuiltAsTheInstalledLibraryBuildsThem) {
  struct Case {
    int64_t lo, hi;
    int multi;
    std::vector<int64_t> want;
  } cases[] = {
      {8, 8 << 10, 8, {8, 64, 512, 4096, 8192}},
      {1, 20, 2, {1, 2, 4, 8, 16, 20}},
      {0, 64, 8, {0, 1, 8, 64}},
      {-8, 8, 8, {-8, -1, 0, 1, 8}},
      {-100, -2, 8, {-100, -64, -8, -2}},
      {5, 5, 8, {5}},
      {2, 100, 3, {2, 3, 9, 27, 81, 100}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(benchmark::CreateRange(c.lo, c.hi, c.multi), c.want) << c.lo << ".." << c.hi;
  EXPECT_EQ(benchmark::CreateDenseRange(-5, 5, 5), (std::vector<int64_t>{-5, 0, 5}));
  // Thread counts: the last one always, stride or not.
  struct Threads {
    int lo, hi, stride;
    std::vector<int> want;
  } threads[] = {{1, 4, 2, {1, 3, 4}}, {1, 5, 2, {1, 3, 5}}, {2, 2, 1, {2}}};
  for (const Threads &t : threads) {
    auto *b = benchmark::RegisterBenchmark("dense", [](benchmark::State &) {});
    EXPECT_EQ(b->DenseThreadRange(t.lo, t.hi, t.stride)->thread_counts_, t.want)
        << t.lo << ".." << t.hi;
  }
  benchmark::ClearRegisteredBenchmarks();
}

TEST(BenchmarkCompat, ListsTheSameNamesAsTheInstalledLibrary) {
  if (std::string(INSTALLED_SAMPLE).empty())
    GTEST_SKIP() << "libbenchmark-dev is not installed";
  program_run ours = sample({"--benchmark_list_tests"});
  program_run theirs = run_program({INSTALLED_SAMPLE, "--benchmark_list_tests"});
  ASSERT_EQ(ours.status, 0) << ours.err;
  ASSERT_EQ(theirs.status, 0) << theirs.err;
  EXPECT_EQ(ours.out, theirs.out);
}

// The console's "name=value" fields of counters that do not depend on the
// time, under both libraries.
TEST(BenchmarkCompat, CountersReadAsUnderTheInstalledLibrary) {
  if (std::string(INSTALLED_SAMPLE).empty())
    GTEST_SKIP() << "libbenchmark-dev is not installed";
  auto fields = [](const std::string &console) {
    static const std::regex field(" ([a-z]+)=([^ \n]+)");
    std::map<std::string, std::string> out;
    for (std::sregex_iterator m(console.begin(), console.end(), field), end; m != end; ++m)
      out[(*m)[1]] = (*m)[2];
    return out;
  };
  std::vector<std::string> args{"--benchmark_filter=BM_CounterText", "--benchmark_format=console"};
  program_run ours = sample(args);
  args.insert(args.begin(), INSTALLED_SAMPLE);
  program_run theirs = run_program(args);
  ASSERT_EQ(ours.status, 0) << ours.err;
  ASSERT_EQ(theirs.status, 0) << theirs.err;
  auto want = fields(theirs.out);
  EXPECT_EQ(want.size(), 14u) << theirs.out;
  EXPECT_EQ(fields(ours.out), want) << ours.out;
}

TEST(BenchmarkCompat, FlagsSelectReportAndFail) {
  std::string missing = "/nonexistent-dir/out.json";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // expected to appear (out: exactly, when it starts with '=')
  } cases[] = {
      {{"--benchmark_list_tests", "--benchmark_filter=BM_Sum/8$"}, 0, "=BM_Sum/8\nBM_Sum/8\n", ""},
      {{"--benchmark_list_tests=true",
        "--benchmark_filter=-^(BM_|Buffer|copy|lambda|Typed|linear)"},
       0,
       "=with_args/2\n",
       ""},
      {{"--bogus"}, 1 << 8, "", "unrecognized command-line flag: --bogus"},
      {{"--benchmark_filter=BM_Error|threads:2"}, 0, "ERROR OCCURRED: 'no input file'", ""},
      {{"--benchmark_filter=BM_Timed/4/threads:2"},
       0,
       "timed: thread 0 of 2, started together",
       ""},
      {{"--benchmark_filter=BM_Sum/8$", "--benchmark_out=" + missing},
       1 << 8,
       "",
       "invalid file name"},
      {{"--benchmark_filter=BM_Error", "--benchmark_out=/dev/full"},
       1 << 8,
       "",
       "could not write /dev/full"},
      {{"--json"}, 1 << 8, "", "--json needs a file name"},
      {{"--benchmark_repetitions=abc"},
       1 << 8,
       "",
       "--benchmark_repetitions needs a number from 1 to 1e+06, not 'abc'"},
      {{"--benchmark_repetitions=2.5"}, 1 << 8, "", "not '2.5'"},
      {{"--benchmark_min_time=-1"}, 1 << 8, "", "--benchmark_min_time needs a number"},
      {{"--benchmark_filter=nothing"},
       0,
       "=",
       "Failed to match any benchmarks against regex: nothing"},
      {{"--benchmark_list_tests", "--benchmark_filter=nothing"},
       0,
       "=",
       "Failed to match any benchmarks against regex: nothing"},
      // "all" is special only as the whole filter; no name holds "all".
      {{"--benchmark_list_tests", "--benchmark_filter=-all"}, 0, "BM_Sum/8\n", ""},
      {{"--benchmark_list_tests", "--benchmark_filter=-"}, 0, "=", ""},
      {{"--benchmark_filter=BM_Copy/bytes:64", "--benchmark_counters_tabular=true"},
       0,
       "Iterations      Ticks        len\n",
       ""},
      {{"--benchmark_filter=BM_Copy/bytes:64", "--benchmark_format=csv"},
       0,
       "name,iterations,real_time,cpu_time,time_unit,bytes_per_second,items_per_second,label,"
       "error_occurred,error_message,ticks,\"len\"\n\"BM_Copy/bytes:64/tag:1\",",
       ""},
      {{"--benchmark_filter=BM_Error", "--json", "/dev/full"}, 1 << 8, "", "could not write"},
      // What has no effect here is said, and the run goes on.
      {{"--benchmark_filter=BM_Error", "--benchmark_color=true"}, 0, "BM_Error", "without colour"},
      {{"--benchmark_filter=BM_Error", "--benchmark_perf_counters=CYCLES"},
       0,
       "BM_Error",
       "only the cycle counter is read"},
  };
  for (const Case &c : cases) {
    program_run r = sample(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << "\n" << r.err;
    if (!c.out.empty() && c.out[0] == '=')
      EXPECT_EQ(r.out, c.out.substr(1)) << c.args[0];
    else
      EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args[0] << "\n" << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args[0] << "\n" << r.err;
  }
  // One iteration a run: the note stands beside the answer exactly when the
  // file's line says it is not resolved.  On a counter that steps by tens
  // of ticks an optimised build reads a few steps; one that steps by 2
  // resolves even a fenced pair's 50 ticks, and a sanitizer's instrumented
  // loop may reach the steps that resolve it, so there only the agreement
  // of the two is required.
  std::string file = ::testing::TempDir() + "benchmark_compat_one.json";
  program_run one = sample(
      {"--benchmark_filter=BM_One", "--benchmark_out=" + file, "--benchmark_out_format=json"});
  ASSERT_EQ(one.status, 0) << one.err;
  bool resolved = nlohmann::json::parse(slurp(file)).at("benchmarks").at(0).at("resolved");
  bool noted = one.out.find("(not resolved: 1 iteration a run is too few") != std::string::npos;
  EXPECT_NE(noted, resolved) << one.out;
#ifndef __SANITIZE_ADDRESS__
  if (counter_step() >= 10) {
    EXPECT_FALSE(resolved) << one.out;
  }
#endif
  // A filter that does not compile says why, and no more.
  program_run bad = sample({"--benchmark_list_tests", "--benchmark_filter=("});
  EXPECT_EQ(bad.status, 0);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err.rfind("Could not compile benchmark re: ", 0), 0u) << bad.err;
  EXPECT_EQ(bad.err.find("Failed to match"), std::string::npos) << bad.err;
}

// Per name: the JSON fields that must be there, and a check on the entry.
TEST(BenchmarkCompat, JsonHasTheUsualLayout) {
  std::string file = ::testing::TempDir() + "benchmark_compat.json";
  program_run r =
      sample({"--benchmark_format=json", "--benchmark_out=" + file, "--benchmark_context=team=perf",
              "--benchmark_filter=BM_Sum/8$|BM_Copy/bytes|BM_Error|BM_Timed/5"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  nlohmann::json in_file = nlohmann::json::parse(slurp(file));
  ASSERT_EQ(in_file.at("benchmarks").size(), j.at("benchmarks").size());
  for (size_t i = 0; i < j["benchmarks"].size(); ++i)
    EXPECT_EQ(in_file["benchmarks"][i], j["benchmarks"][i]);
  for (const char *key : {"date", "host_name", "executable", "num_cpus", "mhz_per_cpu", "caches",
                          "load_avg", "library_build_type"})
    EXPECT_TRUE(j.at("context").contains(key)) << key;
  EXPECT_EQ(j["context"]["team"], "perf");
  std::map<std::string, nlohmann::json> by_name;
  for (auto &b : j.at("benchmarks"))  // the first of a name: BM_Sum/8 is also in microseconds
    by_name.emplace(b.at("name").get<std::string>(), b);
  // An error's entry has times too (of 0), as readers take them from every
  // entry; only answers have ticks.
  for (auto &b : j.at("benchmarks")) {
    for (const char *key : {"name", "run_name", "run_type", "repetitions", "threads", "iterations",
                            "real_time", "cpu_time", "time_unit"})
      EXPECT_TRUE(b.contains(key)) << b.dump();
    EXPECT_EQ(b.contains("ticks"), !b.value("error_occurred", false)) << b.dump();
  }
  nlohmann::json sum = by_name.at("BM_Sum/8");
  double seconds = sum["real_time"].get<double>() * 1e-9 * sum["iterations"].get<double>();
  EXPECT_NEAR(sum["items_per_second"].get<double>() * seconds / sum["iterations"].get<double>(),
              8.0, 1e-9);
  EXPECT_EQ(by_name.at("BM_Copy/bytes:512/tag:2")["len"], 2.0);
  EXPECT_EQ(by_name.at("BM_Error")["error_message"], "no input file");
  EXPECT_EQ(by_name.at("BM_Timed/5/repeats:2_mean")["aggregate_name"], "mean");
  EXPECT_EQ(by_name.count("BM_Timed/5/repeats:2"), 0u);  // aggregates only
  EXPECT_EQ(by_name.at("BM_Sum/8")["time_unit"], "ns");
}

// Complexity(): after the family's last run, its fit, named as the runs are
// but for their arguments.  Each iteration of BM_Linear reports N ns by
// hand, so the curve is N and its coefficient 1.
// Every key the installed library writes, with its JSON type (an integer
// where it writes one, a real where it writes one), in the context and in
// each entry; the caches as it lists them.
TEST(BenchmarkCompat, JsonHasTheInstalledLibrarysKeysAndTypes) {
  if (std::string(INSTALLED_SAMPLE).empty())
    GTEST_SKIP() << "libbenchmark-dev is not installed";
  std::vector<std::string> args{"--benchmark_format=json", "--benchmark_min_time=0.01",
                                "--benchmark_filter=BM_Sum/8$|BM_Copy/bytes|BM_Error|BM_Timed/5"};
  program_run ours = sample(args);
  args.insert(args.begin(), INSTALLED_SAMPLE);
  program_run theirs = run_program(args);
  ASSERT_EQ(ours.status, 0) << ours.err;
  ASSERT_EQ(theirs.status, 0) << theirs.err;
  nlohmann::json o = nlohmann::json::parse(ours.out), t = nlohmann::json::parse(theirs.out);
  auto same_keys = [](const nlohmann::json &want, const nlohmann::json &got,
                      const std::string &at) {
    for (auto &[key, value] : want.items()) {
      ASSERT_TRUE(got.contains(key)) << at << ": " << key;
      EXPECT_EQ(got[key].type_name(), std::string(value.type_name())) << at << ": " << key;
      EXPECT_EQ(got[key].is_number_float(), value.is_number_float()) << at << ": " << key;
    }
  };
  same_keys(t["context"], o["context"], "context");
  EXPECT_EQ(o["context"]["caches"], t["context"]["caches"]);
  std::map<std::string, nlohmann::json> by_name;
  for (auto &b : o["benchmarks"])
    by_name.emplace(b["name"].get<std::string>(), b);
  ASSERT_EQ(o["benchmarks"].size(), t["benchmarks"].size());
  for (auto &b : t["benchmarks"]) {
    std::string name = b["name"].get<std::string>();
    ASSERT_EQ(by_name.count(name), 1u) << name;
    same_keys(b, by_name[name], name);
  }
}

TEST(BenchmarkCompat, ComplexityFitsTheFamily) {
  program_run r = sample({"--benchmark_format=json", "--benchmark_filter=BM_Linear"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json runs = nlohmann::json::parse(r.out).at("benchmarks");
  ASSERT_EQ(runs.size(), 6u) << r.out;
  nlohmann::json big_o = runs[4], rms = runs[5];
  EXPECT_EQ(big_o["name"], "BM_Linear/manual_time_BigO");
  EXPECT_EQ(big_o["run_name"], "BM_Linear/manual_time");
  EXPECT_EQ(big_o["big_o"], "N");
  EXPECT_NEAR(big_o["real_coefficient"].get<double>(), 1.0, 1e-6);
  EXPECT_NEAR(big_o["cpu_coefficient"].get<double>(), 1.0, 1e-6);
  EXPECT_EQ(rms["name"], "BM_Linear/manual_time_RMS");
  EXPECT_EQ(rms["aggregate_unit"], "percentage");
  EXPECT_LT(rms["rms"].get<double>(), 1e-6);
  program_run table = sample({"--benchmark_filter=BM_Linear"});
  EXPECT_NE(table.out.find("1.00 N"), std::string::npos) << table.out;
  program_run lgn = sample({"--benchmark_format=json", "--benchmark_filter=linear_lgn"});
  ASSERT_EQ(lgn.status, 0) << lgn.err;
  nlohmann::json fit = nlohmann::json::parse(lgn.out).at("benchmarks").at(3);
  EXPECT_EQ(fit["big_o"], "NlgN");
  // Over N = 16 and 64 alone: sum(N * N lg N) / sum((N lg N)^2).
  EXPECT_NEAR(fit["real_coefficient"].get<double>(), 25600.0 / 151552, 1e-6) << fit.dump();
}

// KeepRunningBatch runs whole batches: the iterations reported are the ones
// the function ran, past Iterations() when the batch does not divide it.
TEST(BenchmarkCompat, BatchesPastTheCountAreCounted) {
  struct Case {
    int64_t iterations, batch, want;  // want 0: a multiple of the batch
  } cases[] = {{10, 7, 14}, {1, 7, 7}, {16, 8, 16}, {0, 7, 0}};
  struct Collect : benchmark::BenchmarkReporter {
    std::vector<Run> runs;
    bool ReportContext(const Context &) override { return true; }
    void ReportRuns(const std::vector<Run> &r) override {
      runs.insert(runs.end(), r.begin(), r.end());
    }
  };
  for (const Case &c : cases) {
    benchmark::IterationCount seen = 0;
    auto *b = benchmark::RegisterBenchmark("batch", [&seen, &c](benchmark::State &st) {
      while (st.KeepRunningBatch(c.batch)) {
      }
      seen = st.iterations();
    });
    if (c.iterations)
      b->Iterations(c.iterations);
    Collect collect;
    benchmark::RunSpecifiedBenchmarks(&collect);
    benchmark::ClearRegisteredBenchmarks();
    ASSERT_EQ(collect.runs.size(), 1u);
    const auto &run = collect.runs[0];
    EXPECT_EQ(run.iterations, seen) << c.iterations << " by " << c.batch;
    if (c.want) {
      EXPECT_EQ(run.iterations, c.want);
    }
    EXPECT_EQ(run.iterations % c.batch, 0) << run.iterations;
  }
}

// A reporter that declines the context stops the run before it starts, and
// is finalized all the same.
TEST(BenchmarkCompat, ADeclinedContextRunsNothing) {
  struct Declines : benchmark::BenchmarkReporter {
    size_t runs = 0;
    bool finalized = false;
    bool ReportContext(const Context &) override { return false; }
    void ReportRuns(const std::vector<Run> &r) override { runs += r.size(); }
    void Finalize() override { finalized = true; }
  } declines;
  int calls = 0;
  benchmark::RegisterBenchmark("declined", [&calls](benchmark::State &st) {
    ++calls;
    for (auto _ : st) {
    }
  });
  EXPECT_EQ(benchmark::RunSpecifiedBenchmarks(&declines), 1u);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(declines.runs, 0u);
  EXPECT_TRUE(declines.finalized);
  benchmark::ClearRegisteredBenchmarks();
}

// A file reporter without --benchmark_out has nowhere to write: the run
// ends, as with a file that cannot be opened.
TEST(BenchmarkCompatDeathTest, AFileReporterNeedsAFile) {
  benchmark::RegisterBenchmark("filed", [](benchmark::State &st) {
    for (auto _ : st) {
    }
  });
  benchmark::ConsoleReporter display;
  benchmark::JSONReporter file;
  EXPECT_EXIT(benchmark::RunSpecifiedBenchmarks(&display, &file), testing::ExitedWithCode(1),
              "--benchmark_out=<file> was not specified");
  benchmark::ClearRegisteredBenchmarks();
}

// MinWarmUpTime(0.1), or the flag, against the default warm-up of about
// 1 ms: many times the runs (the runs themselves are all alike).
TEST(BenchmarkCompat, MinWarmUpTimeLengthensTheWarmUp) {
  auto runs = [](std::vector<std::string> args) {
    program_run r = sample(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, double> by_name;
    nlohmann::json j = nlohmann::json::parse(r.out);
    for (auto &b : j.at("benchmarks"))
      by_name[b.at("name").get<std::string>()] = b.at("runs").get<double>();
    return by_name;
  };
  auto own = runs({"--benchmark_format=json", "--benchmark_filter=BM_Warm"});
  auto flag = runs({"--benchmark_format=json", "--benchmark_filter=BM_Warm/0",
                    "--benchmark_min_warmup_time=0.1"});
  double plain = own["BM_Warm/0"];
  EXPECT_GT(own["BM_Warm/1/min_warmup_time:0.100"], 5 * plain);
  EXPECT_GT(flag["BM_Warm/0"], 5 * plain);
}

// A function that builds its data before a short loop: the warm-up lasts
// about a millisecond of the machine's time, setup included, not of the
// loop's, so the function is called for its probes, one warm-up run and at
// most its runs.  Counting only the loop, 5 ms of setup was paid hundreds
// of times.
TEST(BenchmarkCompat, SetupBeforeTheLoopIsNotRepeatedForTheWarmUp) {
  struct Counts : benchmark::BenchmarkReporter {
    bool ReportContext(const Context &) override { return true; }
    void ReportRuns(const std::vector<Run> &) override {}
  } quiet;
  int calls = 0;
  benchmark::RegisterBenchmark("slow_setup", [&calls](benchmark::State &st) {
    ++calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    int data[16] = {1, 2, 3};
    for (auto _ : st) {
      int sum = 0;
      for (int x : data)
        sum += x;
      benchmark::DoNotOptimize(sum);
    }
  });
  EXPECT_EQ(benchmark::RunSpecifiedBenchmarks(&quiet), 1u);
  EXPECT_GT(calls, 2);
  EXPECT_LE(calls, 60);
  benchmark::ClearRegisteredBenchmarks();
}

// A reporter of the suite's own gets every run, the aggregates for a
// family that displays only those, and an error with its message.
TEST(BenchmarkCompat, ReporterOfTheSuitesOwn) {
  program_run r = run_program({REPORTER_SUITE});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "context 1\n"
            "BM_Add/3 run us adds 1 rate=1 size=3\n"
            "BM_Add/4/repeats:2_mean mean ns adds size=4\n"
            "BM_Add/4/repeats:2_median median ns adds size=4\n"
            "BM_Add/4/repeats:2_stddev stddev ns adds size=0\n"
            "BM_Add/4/repeats:2_cv cv ns adds size=0\n"
            "BM_Skip run error stop here\n"
            "BM_Count/threads:3 run ns timed: thread 0 of 3, started together 1 avg=1 ids=3 sum=3\n"
            "BM_Count/threads:2000 run error skipped: 2000 threads, outside 1 to 1024\n");
}

// cyclekit's result lines on standard output, the table moved to standard
// error: one answer per measured name, none for an error.
TEST(BenchmarkCompat, ResultLinesForCompare) {
  struct Case {
    const char *flag, *unit;
  } cases[] = {{"--flush", "ticks"}, {"--core-cycles", "core cycles"}};
  for (const Case &c : cases) {
    program_run r = sample({"--json", "-", c.flag, "--benchmark_filter=BM_Sum/8$|BM_Error"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    std::string line;
    std::vector<nlohmann::json> lines;
    while (std::getline(in, line))
      lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0]["type"], "context");
    EXPECT_EQ(lines[0]["library"], "cyclekit");
    for (size_t i = 1; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i]["name"], "BM_Sum/8");
      EXPECT_EQ(lines[i]["unit"], c.unit);
      EXPECT_GT(lines[i]["answer"].get<double>(), 0);
    }
    EXPECT_NE(r.err.find("ERROR OCCURRED: 'no input file'"), std::string::npos) << r.err;
  }
}

// One run, both files: the times and the ticks beside them are the steady
// mean, the result lines' answer the least of the same runs, its seconds
// scaled with it; under --precise the two are one figure.
TEST(BenchmarkCompat, ResultLinesCarryTheLeastTheTimesTheMean) {
  for (bool precise : {false, true}) {
    SCOPED_TRACE(precise ? "--precise" : "default");
    std::string lines_file = ::testing::TempDir() + "benchmark_compat_least.lines";
    std::string json_file = ::testing::TempDir() + "benchmark_compat_least.json";
    std::vector<std::string> args = {"--json", lines_file, "--benchmark_out=" + json_file,
                                     "--benchmark_out_format=json", "--benchmark_filter=BM_Sum"};
    if (precise)
      args.push_back("--precise");
    program_run r = sample(args);
    ASSERT_EQ(r.status, 0) << r.err;
    // The two list the same runs in the same order (a name may come twice,
    // from two families).
    std::vector<nlohmann::json> rows;
    const nlohmann::json file = nlohmann::json::parse(slurp(json_file));
    for (auto &b : file.at("benchmarks"))
      if (b.at("run_type") == "iteration" && !b.value("error_occurred", false))
        rows.push_back(b);
    std::istringstream in(slurp(lines_file));
    std::string line;
    size_t compared = 0;
    int below = 0;
    const std::map<std::string, double> per_unit = {
        {"ns", 1}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}};
    while (std::getline(in, line)) {
      nlohmann::json l = nlohmann::json::parse(line);
      if (l["type"] != "result")
        continue;
      ASSERT_LT(compared, rows.size()) << line;
      const nlohmann::json &b = rows[compared++];
      EXPECT_EQ(l.at("name"), b.at("name"));
      double mean = b.at(precise ? "cycles" : "ticks"), least = l.at("answer");
      double ns = b.at("real_time").get<double>() * per_unit.at(b.at("time_unit"));
      EXPECT_LE(least, mean) << line;
      EXPECT_NEAR(l.at("seconds").get<double>() * 1e9 / ns, least / mean, 1e-9) << line;
      below += least < mean;
    }
    EXPECT_EQ(compared, rows.size());
    EXPECT_GE(compared, 3u);
    if (precise) {
      EXPECT_EQ(below, 0);
    } else {
      EXPECT_GT(below, 0) << "some name's runs differ, so its mean lies above its least";
    }
  }
}

// Under a decimal-comma locale, with a name that is not UTF-8, both JSON
// outputs still parse: numbers keep their point, the stray byte is U+FFFD.
TEST(BenchmarkCompat, JsonReadsBackUnderAnyLocaleAndName) {
  char dir[] = "/tmp/cyclekit_gb_locale_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  run_program({"localedef", "-i", "de_DE", "-f", "UTF-8", std::string(dir) + "/de_DE.UTF-8"});
  const std::vector<std::string> env = {"LOCPATH=" + std::string(dir), "LC_ALL=de_DE.UTF-8"};
  program_run probe = run_program({"locale", "decimal_point"}, env);
  if (probe.out != ",\n") {
    run_program({"rm", "-rf", dir});
    GTEST_SKIP() << "no decimal-comma locale here (localedef gave " << probe.out << ")";
  }
  const std::string bad =
      "BM_\xef\xbf\xbd"
      "Add/3";
  program_run file = run_program({LOCALE_SUITE, "--benchmark_format=json"}, env);
  program_run lines = run_program({LOCALE_SUITE, "--json", "-"}, env);
  program_run csv = run_program({LOCALE_SUITE, "--benchmark_format=csv"}, env);
  run_program({"rm", "-rf", dir});
  // Every CSV field a number with a point, none split by a decimal comma.
  ASSERT_EQ(csv.status, 0) << csv.err;
  std::smatch row;
  ASSERT_TRUE(std::regex_search(csv.out, row, std::regex("\n\"[^\"]*\",([^\n]*)\n"))) << csv.out;
  EXPECT_TRUE(std::regex_match(row.str(1), std::regex("[0-9]+,([0-9.e+-]+,){2}ns,,,,,,[0-9.e+-]+")))
      << csv.out;
  ASSERT_EQ(file.status, 0) << file.err;
  nlohmann::json j = nlohmann::json::parse(file.out);
  EXPECT_EQ(j["benchmarks"][0]["name"], bad);
  EXPECT_TRUE(j["benchmarks"][0]["real_time"].is_number());
  EXPECT_TRUE(j["context"]["mhz_per_cpu"].is_number());
  ASSERT_EQ(lines.status, 0) << lines.err;
  std::istringstream in(lines.out);
  std::string line;
  std::getline(in, line);
  EXPECT_TRUE(nlohmann::json::parse(line)["mhz"].is_number()) << line;
  std::getline(in, line);
  nlohmann::json result = nlohmann::json::parse(line);
  EXPECT_EQ(result["name"], bad);
  EXPECT_TRUE(result["answer"].is_number());
}

}  // namespace
