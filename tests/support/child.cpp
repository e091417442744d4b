// Child processes on pipes.

#include "child.h"

#include <errno.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace child {

Child start(const std::function<void()> &body, const std::function<void()> &set_up_stdout) {
  int out[2] = {-1, -1}, err[2];
  if ((!set_up_stdout && pipe(out) != 0) || pipe(err) != 0)
    return {-1, -1, -1};
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(err[1], 2);
    close(err[0]), close(err[1]);
    if (set_up_stdout) {
      set_up_stdout();
    } else {
      dup2(out[1], 1);
      close(out[0]), close(out[1]);
    }
    body();
    fflush(nullptr);
    _exit(0);
  }
  close(err[1]);
  if (!set_up_stdout)
    close(out[1]);
  return {pid, out[0], err[0]};
}

void exec(const char *program, const char *emulator) {
  std::vector<std::string> words;
  std::string e = emulator;
  for (size_t at = 0, bar; at < e.size(); at = bar + 1) {
    bar = e.find('|', at);
    if (bar == std::string::npos)
      bar = e.size();
    if (bar > at)
      words.push_back(e.substr(at, bar - at));
  }
  words.push_back(program);
  std::vector<char *> argv;
  for (std::string &w : words)
    argv.push_back(&w[0]);
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

std::string read_all(int fd) {
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    text.append(buf, n > 0 ? (size_t)n : 0);
  close(fd);
  return text;
}

int wait_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Result run(const std::function<void()> &body) {
  Child c = start(body);
  if (c.pid < 0)
    return {-1, "", "cannot start a child"};
  std::string out = read_all(c.out), err = read_all(c.err);
  return {wait_status(c.pid), out, err};
}

}  // namespace child
