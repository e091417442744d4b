// cyclekit-compare --run against programs that misbehave for real, and
// signals sent to compare while one runs: compare ends as it should, in
// time and in little memory, and no process the programs started is left.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>

#include "support/run_program.h"

namespace {

struct misbehaving {
  std::string what, script;
  std::vector<std::string> options;
  int signal;            // sent to compare once the program has started, or 0
  int status;            // compare's exit status, or 128 + the signal it died of
  std::string err, out;  // regular expressions
  double least, most;    // the seconds compare takes
  long most_mb;          // the peak resident size of compare or of one of its children
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
  // As the programs note them, each first thing.
  std::vector<pid_t> groups() {
    std::vector<pid_t> all;
    std::ifstream in(dir_ + "/groups");
    for (pid_t g; in >> g;)
      all.push_back(g);
    return all;
  }
  void check(const misbehaving &c);
  std::string dir_;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// compare is killed after a minute, so that a case that hangs fails.
void CompareRun::check(const misbehaving &c) {
  SCOPED_TRACE(c.what);
  std::string prog = dir_ + "/prog";
  std::ofstream(prog) << "#!/bin/sh\nps -o pgid= -p $$ >> " << dir_ << "/groups\n" << c.script;
  chmod(prog.c_str(), 0755);
  unlink((dir_ + "/groups").c_str());
  std::vector<std::string> args{COMPARE_PROGRAM, "--run"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.insert(args.end(), {prog, prog});
  FILE *out = tmpfile(), *err = tmpfile();
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), 1), dup2(fileno(err), 2);
    signal(SIGINT, SIG_DFL), signal(SIGTERM, SIG_DFL);
    std::vector<char *> argv;
    for (auto &a : args)
      argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status, sig = c.signal;
  rusage use;
  for (; wait4(pid, &status, WNOHANG, &use) == 0; usleep(10000)) {
    if (sig && !groups().empty())
      kill(pid, sig), sig = 0;
    if (seconds_since(start) > 60)
      kill(pid, SIGKILL);
  }
  double seconds = seconds_since(start);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), c.status);
  std::string said = read_whole(err), printed = read_whole(out);
  EXPECT_TRUE(std::regex_search(said, std::regex(c.err))) << said.substr(0, 1000);
  EXPECT_TRUE(std::regex_search(printed, std::regex(c.out))) << printed;
  EXPECT_GE(seconds, c.least);
  EXPECT_LE(seconds, c.most);
  EXPECT_LT(use.ru_maxrss, c.most_mb << 10);
  EXPECT_FALSE(groups().empty());
  for (pid_t g : groups())
    EXPECT_TRUE(kill(-g, 0) != 0 && errno == ESRCH) << "process group " << g << " is left";
}

// A flood takes 2 s on an idle machine and took 13.6 s beside the slow
// tests' builds; a hang is cut at 60.
const double flood_most = 40;

const char *noise =
               "yes 'a line of noise' | head -c 200000000 >&2; echo 'the last words' >&2; exit 3",
           *its_end =
               "prog \\(pair 1\\) exited with status 3; its standard error ends:\n"
               "(a line of noise\n){4}the last words\n";

TEST_F(CompareRun, EndsItsProgramOnASignalAndShowsTheEndOfAFlood) {
  const misbehaving cases[] = {
      {"SIGTERM", "sleep 1000", {}, SIGTERM, 128 + SIGTERM, "", "^$", 0, 5, 64},
      {"SIGINT", "sleep 1000", {}, SIGINT, 128 + SIGINT, "", "^$", 0, 5, 64},
      {"SIGHUP", "sleep 1000", {}, SIGHUP, 128 + SIGHUP, "", "^$", 0, 5, 64},
      {"200 MB of standard error", noise, {}, 0, 2, its_end, "^$", 0, flood_most, 64},
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
      {"hangs", "sleep 1000", soon, 0, 2, timed_out, "^$", 0.5, 5, 64},
      {"ignores SIGTERM", "trap '' TERM; sleep 1000", soon, 0, 2, timed_out, "^$", 1.0, 5, 64},
      {"its child holds the output", "sleep 1000 & exec " SUITE_PROGRAM " \"$@\"", once, 0, 0,
       lingered, "imul chain", 0, 5, 64},
      {"writes too much",
       "head -c 300000000 /dev/zero",
       {},
       0,
       2,
       too_much,
       "^$",
       0,
       flood_most,
       300},
  };
  for (const misbehaving &c : cases)
    check(c);
}

}  // namespace
