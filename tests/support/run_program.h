// Runs a program to its end and hands back its exit status and what it
// wrote to standard output and standard error, for the tests of programs.
#ifndef CYCLEKIT_TESTS_RUN_PROGRAM_H
#define CYCLEKIT_TESTS_RUN_PROGRAM_H

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

struct program_run {
  int status;  // the wait status
  std::string out, err;
};

inline std::string read_whole(FILE *f) {
  std::string text;
  char buffer[4096];
  size_t n;
  rewind(f);
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
    text.append(buffer, n);
  fclose(f);
  return text;
}

// argv[0] is the program; env entries "NAME=value" are added to the
// environment of the child only.
inline program_run run_program(const std::vector<std::string> &argv,
                               const std::vector<std::string> &env = {}) {
  FILE *out = tmpfile(), *err = tmpfile();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    for (const auto &e : env)
      putenv(const_cast<char *>(e.c_str()));
    std::vector<char *> args;
    for (const auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  program_run r;
  waitpid(pid, &r.status, 0);
  r.out = read_whole(out);
  r.err = read_whole(err);
  return r;
}

inline int exit_status(const program_run &r) {
  return WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1;
}

#endif  // CYCLEKIT_TESTS_RUN_PROGRAM_H
