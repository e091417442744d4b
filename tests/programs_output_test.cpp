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
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

enum class Out { DevFull, Closed, ReaderGone };

std::vector<std::string> command_for(const char *program) {
  std::vector<std::string> words;
  std::string emulator = EMULATOR;
  size_t start = 0;
  while (start < emulator.size()) {
    size_t bar = emulator.find('|', start);
    if (bar == std::string::npos)
      bar = emulator.size();
    if (bar > start)
      words.push_back(emulator.substr(start, bar - start));
    start = bar + 1;
  }
  words.push_back(program);
  return words;
}

std::string read_all(int fd) {
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0)
      text.append(buf, (size_t)n);
  return text;
}

// Starts the program with its standard output set up by the caller's
// function (run in the child) and standard error on a pipe.
struct Child {
  pid_t pid;
  int err;  // read end of the child's standard error
};

template <class SetUpStdout>
Child spawn(const char *program, SetUpStdout set_up_stdout) {
  std::vector<std::string> words = command_for(program);
  std::vector<char *> argv;
  for (std::string &w : words)
    argv.push_back(&w[0]);
  argv.push_back(nullptr);
  int err[2];
  EXPECT_EQ(pipe(err), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(err[1], 2);
    close(err[0]);
    close(err[1]);
    set_up_stdout();
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(err[1]);
  return {pid, err[0]};
}

int wait_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Runs the program with a failing standard output; returns its standard
// error and stores its wait status.
std::string run_failing(const char *program, Out out, int *status) {
  int reader_gone[2] = {-1, -1};
  if (out == Out::ReaderGone) {
    EXPECT_EQ(pipe(reader_gone), 0);
    close(reader_gone[0]);  // no reader, ever: every write fails
  }
  Child child = spawn(program, [&] {
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
  std::string err = read_all(child.err);
  close(child.err);
  *status = wait_status(child.pid);
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
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
        << name << ", " << c.reason << ": wait status " << status;
    EXPECT_EQ(err, std::string(name) + ": cannot write output: " + c.reason + "\n");
  }
}

TEST(ProgramsOutput, LullwatchFailsLoudlyWhenOutputIsLost) {
  expect_loud_failure("lullwatch", LULLWATCH_PATH);
}

TEST(ProgramsOutput, HertzleFailsLoudlyWhenOutputIsLost) {
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
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    Child child = spawn(LULLWATCH_PATH, [&] {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
    });
    close(out[1]);
    char buf[512];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) < 0 && errno == EINTR) {
    }
    ASSERT_GT(n, 0);
    std::string first(buf, (size_t)n);
    std::string all = first + read_all(out[0]);
    close(out[0]);
    std::string err = read_all(child.err);
    close(child.err);
    int status = wait_status(child.pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << ": " << err;
    ASSERT_EQ(count_lines(all), 5) << all;
    seen_early = count_lines(first) < 5;
  }
  EXPECT_TRUE(seen_early) << "every first read held all five lines";
}

}  // namespace
