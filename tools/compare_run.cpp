#include "compare_run.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::string read_all(int fd) {
  std::string text;
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0)
      text.append(buffer, size_t(n));
  return text;
}

}  // namespace

std::string describe_status(int status) {
  if (WIFEXITED(status))
    return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "ended with wait status " + std::to_string(status);
}

// The program's standard output in a pipe, its standard error (the table,
// or a crash's message) in a temporary file.
finished run_program(const std::string &program, const std::vector<std::string> &args,
                     const run_limits &) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(program.c_str()));
  for (const auto &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  int out[2];
  FILE *err = tmpfile();
  if (pipe(out) != 0 || !err)
    throw input_error(std::string("cannot make a pipe or a temporary file: ") + strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid;
  int failed = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (failed) {
    close(out[0]);
    fclose(err);
    throw input_error(program + ": cannot be run: " + strerror(failed));
  }
  finished f;
  f.out = read_all(out[0]);
  close(out[0]);
  while (waitpid(pid, &f.status, 0) < 0 && errno == EINTR) {
  }
  rewind(err);
  f.err_tail = tail(read_all(fileno(err)), 5);
  fclose(err);
  return f;
}

std::string tail(const std::string &text, int lines) {
  size_t at = text.size();
  if (at > 0 && text[at - 1] == '\n')
    at--;
  while (lines-- > 0) {
    size_t newline = at > 0 ? text.rfind('\n', at - 1) : std::string::npos;
    if (newline == std::string::npos)
      return text;
    at = newline;
  }
  return text.substr(at + 1);
}

void end_children_on_signals() {}
