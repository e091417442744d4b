// Running one suite program to its end, bounded: in a process group of its
// own, so that a timeout, a process it left behind or a signal to
// cyclekit-compare ends all of it; its output read against a deadline; only
// the end of its standard error kept.

#include "compare_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

extern char **environ;

namespace {

// The output is what is compared and is kept whole, up to a size no suite
// run of sane length reaches; of the standard error only the end is shown.
const size_t most_output = size_t(256) << 20;
const size_t kept_error = size_t(64) << 10;
// How long a program has to end after SIGTERM, and how long its output may
// stay open once it has ended.
const double grace_seconds = 0.5;

// The leader of the process group running now, for the signal handler.
volatile sig_atomic_t running_group = 0;

double seconds_since(const timespec &start) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec - start.tv_sec) + 1e-9 * double(t.tv_nsec - start.tv_nsec);
}

double now() {
  static const timespec zero = {0, 0};
  return seconds_since(zero);
}

// SIGTERM to the whole group, SIGKILL to what is left after the grace, and
// all of it reaped: compare is its orphans' reaper (see start), so that a
// group it has ended is gone, not left as zombies.  Only async-signal-safe
// calls: the signal handler uses it.  True if anything was still there.
bool end_group(pid_t group) {
  int status;
  while (waitpid(-group, &status, WNOHANG) > 0) {  // the dead are not left running
  }
  if (kill(-group, SIGTERM) != 0)
    return false;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (seconds_since(start) < grace_seconds) {
    while (waitpid(-group, &status, WNOHANG) > 0) {
    }
    if (kill(-group, 0) != 0)
      return true;
    const timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  kill(-group, SIGKILL);
  while (waitpid(-group, &status, 0) > 0 || errno == EINTR) {
  }
  return true;
}

extern "C" void end_children_and_die(int sig) {
  pid_t group = running_group;
  if (group > 0)
    end_group(group);
  signal(sig, SIG_DFL);
  raise(sig);  // delivered as the handler returns, with the default action
}

const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The ending signals blocked while a child starts and its group is noted,
// so that none finds it started but not yet known.
struct signals_held {
  sigset_t before;
  signals_held() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : ending_signals)
      sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &before);
  }
  ~signals_held() { sigprocmask(SIG_SETMASK, &before, nullptr); }
};

std::string with_errno(const std::string &what) { return what + ": " + strerror(errno); }

void close_fd(int &fd) {
  if (fd >= 0)
    close(fd);
  fd = -1;
}

// A descriptor that becomes readable when the child ends; -1 where the
// kernel has none, and the child is then looked at every tenth of a second.
int exit_notice(pid_t pid) {
#ifdef SYS_pidfd_open
  return int(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// A running program, read to its end by step(); whatever way that ends,
// its whole process group ends with it.
struct running {
  std::string label;
  pid_t pid = 0;
  int out = -1, err = -1, notice = -1;  // -1 once at their end
  finished f{};
  bool reaped = false;
  double deadline = INFINITY, output_until = INFINITY;

  // True if processes it left behind had to be ended.
  bool end() {
    close_fd(out), close_fd(err), close_fd(notice);
    bool left = pid > 0 && end_group(pid);
    running_group = 0;
    pid = 0;
    return left;
  }
  ~running() { end(); }
};

// Its standard input /dev/null: a group not in the terminal's foreground
// would be stopped reading it.
void start(running &r, const std::string &program, const std::vector<std::string> &args) {
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const auto &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    throw input_error(with_errno("cannot make a pipe"));
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]), close(out[1]);
    throw input_error(with_errno("cannot make a pipe"));
  }
  r.out = out[0], r.err = err[0];
#ifdef PR_SET_CHILD_SUBREAPER
  prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  signals_held held;
  posix_spawnattr_setsigmask(&attr, &held.before);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  pid_t pid;
  int failed = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]), close(err[1]);
  if (failed)
    throw input_error(program + ": cannot be run: " + strerror(failed));
  r.pid = pid;
  running_group = pid;
}

// The standard output whole, up to its bound, growing no further.
void keep_output(running &r, const char *data, size_t n) {
  std::string &out = r.f.out;
  if (out.size() + n > most_output)
    throw input_error(r.label + " wrote more than " + std::to_string(most_output >> 20) +
                      " MiB to its standard output; its process group was killed");
  // Doubling up to the bound held the old buffer beside the new one, 463 MB
  // at the last step; past a megabyte the bound is reserved at once, and
  // only the pages written become resident.
  if (out.size() + n > out.capacity())
    out.reserve(out.size() + n > (1u << 20) ? most_output
                                            : std::max(2 * out.capacity(), out.size() + n));
  out.append(data, n);
}

// The standard error's end only: cut back to its bound whenever it is twice that.
void keep_error(running &r, const char *data, size_t n) {
  std::string &err = r.f.err_tail;
  err.append(data, n);
  if (err.size() > 2 * kept_error)
    err.erase(0, err.size() - kept_error);
}

// False at the end of the pipe.
bool read_some(running &r, int fd, void (*keep)(running &, const char *, size_t)) {
  static char buffer[65536];
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n < 0 && errno != EINTR && errno != EAGAIN)
    throw input_error(with_errno("cannot read from " + r.label));
  if (n > 0)
    keep(r, buffer, size_t(n));
  return n != 0;
}

std::string seconds_text(double s) {
  char text[32];
  snprintf(text, sizeof text, "%g", s);
  return text;
}

// One wait for output or for the program's end; false once there is
// nothing more to wait for.
bool step(running &r, double timeout) {
  pollfd fds[3] = {{r.out, POLLIN, 0}, {r.err, POLLIN, 0}, {r.reaped ? -1 : r.notice, POLLIN, 0}};
  double wait = (r.reaped ? r.output_until : r.deadline) - now();
  if (r.notice < 0 && !r.reaped)
    wait = std::min(wait, 0.1);
  int ms = std::isinf(wait) ? -1 : int(std::ceil(std::clamp(wait, 0.0, 1e6) * 1000));
  if (poll(fds, 3, ms) < 0 && errno != EINTR)
    throw input_error(with_errno("cannot wait for " + r.label));
  if (fds[0].revents && !read_some(r, r.out, keep_output))
    close_fd(r.out);
  if (fds[1].revents && !read_some(r, r.err, keep_error))
    close_fd(r.err);
  if (!r.reaped && waitpid(r.pid, &r.f.status, WNOHANG) == r.pid) {
    r.reaped = true;
    r.output_until = now() + grace_seconds;
  }
  if (!r.reaped) {
    if (now() >= r.deadline)
      throw input_error(r.label + " did not finish within " + seconds_text(timeout) +
                        " s; its process group was killed");
    return true;
  }
  return (r.out >= 0 || r.err >= 0) && now() < r.output_until;
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

// Once the program has ended, what it left behind (a process holding its
// output, or one running on) is ended too, and the comparison goes on with
// the output as it was.
finished run_program(const std::string &program, const std::vector<std::string> &args,
                     const run_limits &limits, const std::string &label) {
  running r;
  r.label = label.empty() ? program : label;
  start(r, program, args);
  r.notice = exit_notice(r.pid);
  r.deadline = now() + limits.timeout_seconds;
  while (step(r, limits.timeout_seconds)) {
  }
  if (r.end())
    fprintf(stderr,
            "cyclekit-compare: %s left processes running after it ended; they were killed\n",
            r.label.c_str());
  std::string &err = r.f.err_tail;
  err = tail(err.size() > kept_error ? err.substr(err.size() - kept_error) : err, 5);
  return std::move(r.f);
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

// A signal that was ignored when compare started stays ignored.
void end_children_on_signals() {
  for (int sig : ending_signals) {
    struct sigaction action, before;
    memset(&action, 0, sizeof action);
    action.sa_handler = end_children_and_die;
    sigemptyset(&action.sa_mask);
    for (int other : ending_signals)
      sigaddset(&action.sa_mask, other);
    if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      sigaction(sig, &action, nullptr);
  }
}
