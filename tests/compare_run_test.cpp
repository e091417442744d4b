// cyclekit-compare --run against programs that misbehave for real: one
// that hangs, one that ignores SIGTERM, one that leaves a process holding
// its output, one that writes too much or a flood of standard error, and
// a signal sent to compare while its program runs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool gone(pid_t group) { return kill(-group, 0) != 0 && errno == ESRCH; }

struct ended {
  int status;  // the exit status, or 128 + the signal
  double seconds;
  long max_kb;  // the largest resident size of compare or one of its children
  std::string out, err;
};

struct misbehaving {
  std::string what, body;
  std::vector<std::string> options;
  int signal;            // sent to compare once the program has started, or 0
  int status;            // compare's exit status, or 128 + the signal it died of
  std::string err, out;  // regular expressions
  double least, most;    // the seconds compare takes
};

class CompareRun : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cyclekit_compare_run_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (pid_t g : groups())  // what a failed case left running
      kill(-g, SIGKILL);
    run_program({"rm", "-rf", dir_});
  }

  // A program that first notes its process group in dir_/groups.
  std::string program(const std::string &body) {
    std::string path = dir_ + "/prog";
    std::ofstream(path) << "#!/bin/sh\nps -o pgid= -p $$ >> " << dir_ << "/groups\n"
                        << body << "\n";
    chmod(path.c_str(), 0755);
    return path;
  }
  std::vector<pid_t> groups() {
    std::vector<pid_t> all;
    std::ifstream in(dir_ + "/groups");
    for (pid_t g; in >> g;)
      all.push_back(g);
    return all;
  }

  // compare with args; `sig`, if any, sent to it once its program has
  // started.  Killed after a minute, so that a case that hangs fails.
  ended compare(const std::vector<std::string> &args, int sig = 0) {
    FILE *out = tmpfile(), *err = tmpfile();
    double start = now();
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fileno(out), 1), dup2(fileno(err), 2);
      signal(SIGINT, SIG_DFL), signal(SIGTERM, SIG_DFL);
      std::vector<char *> argv{const_cast<char *>(COMPARE_PROGRAM)};
      for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status;
    rusage use;
    while (wait4(pid, &status, WNOHANG, &use) == 0) {
      if (sig && !groups().empty())
        kill(pid, sig), sig = 0;
      if (now() - start > 60)
        kill(pid, SIGKILL);
      usleep(10000);
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {code, now() - start, use.ru_maxrss, read_whole(out), read_whole(err)};
  }

  // Whatever way compare ends, every process group it started is gone.
  void check(const misbehaving &c) {
    SCOPED_TRACE(c.what);
    run_program({"rm", "-f", dir_ + "/groups"});
    std::vector<std::string> args{"--run"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string p = program(c.body);
    args.insert(args.end(), {p, p});
    ended r = compare(args, c.signal);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(c.err))) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(c.out))) << r.out;
    EXPECT_GE(r.seconds, c.least);
    EXPECT_LE(r.seconds, c.most);
    EXPECT_FALSE(groups().empty());
    for (pid_t g : groups())
      EXPECT_TRUE(gone(g)) << "process group " << g;
  }

  std::string dir_;
};

TEST_F(CompareRun, EndsItsProgramWhenSignalled) {
  const misbehaving cases[] = {
      {"SIGTERM", "sleep 1000", {}, SIGTERM, 128 + SIGTERM, "", "^$", 0, 5},
      {"SIGINT", "sleep 1000", {}, SIGINT, 128 + SIGINT, "", "^$", 0, 5},
  };
  for (const misbehaving &c : cases)
    check(c);
}

const char *timed_out =
               "prog \\(pair 1\\) did not finish within 0.5 s; its process group was killed",
           *lingered = "prog \\(pair 1\\) left processes running after it ended",
           *too_much =
               "prog \\(pair 1\\) wrote more than 256 MiB to its standard output; its "
               "process group was killed";

// Each waits out a timeout or a grace, or pipes 300 MB: labelled slow.
TEST_F(CompareRun, EndsAProgramThatOverstays) {
  const std::vector<std::string> soon{"--timeout", "0.5"}, once{"--pairs", "1"};
  const misbehaving cases[] = {
      {"hangs", "sleep 1000", soon, 0, 2, timed_out, "^$", 0.5, 5},
      {"ignores SIGTERM", "trap '' TERM; sleep 1000", soon, 0, 2, timed_out, "^$", 1.0, 5},
      {"its child holds the output", "sleep 1000 & exec " SUITE_PROGRAM " \"$@\"", once, 0, 0,
       lingered, "imul chain", 0, 5},
      {"writes too much", "head -c 300000000 /dev/zero", {}, 0, 2, too_much, "^$", 0, 10},
  };
  for (const misbehaving &c : cases)
    check(c);
}

// 200 MB of standard error before a failure: its last lines shown, and
// compare's memory stays small.
TEST_F(CompareRun, KeepsOnlyTheEndOfAStandardErrorFlood) {
  std::string p =
      program("yes 'a line of noise' | head -c 200000000 >&2; echo 'the last words' >&2; exit 3");
  ended r = compare({"--run", p, p});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex("prog \\(pair 1\\) exited with status 3; its standard error "
                        "ends:\n(a line of noise\n){4}the last words\n")))
      << r.err.substr(0, 1000);
  EXPECT_LT(r.max_kb, 64 * 1024);
}

}  // namespace
