// lullwatch and hertzle run as programs, with standard output that fails:
// a full device, a closed descriptor, a pipe nobody reads (SIGPIPE
// ignored).  Each must exit 1 and say why on standard error.  And
// lullwatch's lines must reach a pipe one by one, not all at exit.
//
// The build gives the programs' paths and the emulator that runs them, if
// any (its words separated by '|').

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "support/child.h"

namespace {

enum class Out { DevFull, Closed, ReaderGone };

// Starts the program with its standard output set up by the caller's
// function (run in the child) and standard error on a pipe.
template <class SetUpStdout>
child::Child spawn(const char *program, SetUpStdout set_up_stdout) {
  return child::start([program] { child::exec(program, EMULATOR); }, set_up_stdout);
}

// Runs the program with a failing standard output; returns its standard
// error and stores its wait status.
std::string run_failing(const char *program, Out out, int *status) {
  int reader_gone[2] = {-1, -1};
  if (out == Out::ReaderGone) {
    EXPECT_EQ(pipe(reader_gone), 0);
    close(reader_gone[0]);  // no reader, ever: every write fails
  }
  child::Child c = spawn(program, [&] {
    if (out == Out::DevFull) {
      int fd = open("/dev/full", O_WRONLY);
      dup2(fd, 1);
      close(fd);
    } else if (out == Out::Closed) {
      close(1);
    } else {
      signal(SIGPIPE, SIG_IGN);  // kept across exec
      dup2(reader_gone[1], 1);
      close(reader_gone[1]);
    }
  });
  if (out == Out::ReaderGone)
    close(reader_gone[1]);
  std::string err = child::read_all(c.err);
  *status = child::wait_status(c.pid);
  return err;
}

void expect_loud_failure(const char *name, const char *program) {
  struct Case {
    Out out;
    const char *reason;
  };
  for (Case c : {Case{Out::DevFull, "No space left on device"},
                 Case{Out::Closed, "Bad file descriptor"}, Case{Out::ReaderGone, "Broken pipe"}}) {
    int status = 0;
    std::string err = run_failing(program, c.out, &status);
    EXPECT_EQ(status, 1) << name << ", " << c.reason;
    EXPECT_EQ(err, std::string(name) + ": cannot write output: " + c.reason + "\n");
  }
}

TEST(ProgramsOutput, LullwatchAndHertzleFailLoudlyWhenOutputIsLost) {
  expect_loud_failure("lullwatch", LULLWATCH_PATH);
  expect_loud_failure("hertzle", HERTZLE_PATH);
}

int count_lines(const std::string &s) {
  int n = 0;
  for (char ch : s)
    n += ch == '\n';
  return n;
}

// Into a pipe, the first read must see fewer than all five lines: the first
// gap is written as soon as it is found, while the search for the next one
// goes on.  A reader scheduled late may find several lines waiting, so a few
// tries are allowed; written at exit, the five lines come in one piece every
// time.
TEST(ProgramsOutput, LullwatchLinesArriveOneByOne) {
  bool seen_early = false;
  for (int attempt = 0; attempt < 10 && !seen_early; attempt++) {
    child::Child c = child::start([] { child::exec(LULLWATCH_PATH, EMULATOR); });
    char buf[512];
    ssize_t n;
    while ((n = read(c.out, buf, sizeof buf)) < 0 && errno == EINTR) {
    }
    ASSERT_GT(n, 0);
    std::string first(buf, (size_t)n);
    std::string all = first + child::read_all(c.out);
    std::string err = child::read_all(c.err);
    ASSERT_EQ(child::wait_status(c.pid), 0) << err;
    ASSERT_EQ(count_lines(all), 5) << all;
    seen_early = count_lines(first) < 5;
  }
  EXPECT_TRUE(seen_early) << "every first read held all five lines";
}

}  // namespace
