// A child process for the tests that run a program or a function in a
// process of their own: its standard error, and its standard output unless
// the test sets that up itself, on pipes the test reads.
#ifndef CYCLEKIT_TESTS_CHILD_H
#define CYCLEKIT_TESTS_CHILD_H

#include <sys/types.h>

#include <functional>
#include <string>

namespace child {

struct Child {
  pid_t pid;
  int out;  // read end of its standard output; -1 if set_up_stdout set it up
  int err;  // read end of its standard error
};

// Forks; the child runs set_up_stdout (if any, else its standard output
// goes to a pipe), then body, which may exec or exit: returning exits 0.
Child start(const std::function<void()> &body,
            const std::function<void()> &set_up_stdout = nullptr);
// Runs program under the build's emulator, if any (its words separated by
// '|'); the child's end when exec fails.
[[noreturn]] void exec(const char *program, const char *emulator = "");

// Everything left on fd, which is then closed.
std::string read_all(int fd);
// Its exit status, or 128 + the signal that ended it.
int wait_status(pid_t pid);

struct Result {
  int status;
  std::string out, err;
};
// start(body), then both pipes read and the child waited for.
Result run(const std::function<void()> &body);

}  // namespace child

#endif
