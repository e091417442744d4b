// The result file and the page, each written whole or not at all: into a
// temporary file beside it, renamed over it once everything is written and
// on the disk.  Until then a file of that name keeps its old bytes,
// whatever ends the process: a crash in a test function, a signal, a write
// that fails.

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "suite_internal.h"

using namespace suite_internal;

// ---- Removing the temporary file when a signal ends the process ----------------

// The signals whose default action ends the process: faults first, then
// those sent to end it.
static const int fatal_signals[] = {SIGSEGV, SIGBUS, SIGFPE,  SIGILL, SIGABRT,
                                    SIGTRAP, SIGINT, SIGTERM, SIGHUP, SIGQUIT};
enum { FATAL_COUNT = sizeof fatal_signals / sizeof fatal_signals[0], FAULTS = 6 };
static struct sigaction previous[FATAL_COUNT];
static int installed[FATAL_COUNT];
// The temporary files' names while they exist (the result file's and the
// page's); read by the handler.
enum { PENDING = 2 };
static char *volatile pending[PENDING];
// The files open whose temporary file the handler removes.
static int watchers = 0;

static void remove_pending(void) {
  for (int i = 0; i < PENDING; i++) {
    char *temp = pending[i];
    if (temp)
      unlink(temp);
  }
}

static void hold(char *temp) {
  for (int i = 0; i < PENDING; i++)
    if (!pending[i]) {
      pending[i] = temp;
      return;
    }
}

static void let_go(const char *temp) {
  for (int i = 0; i < PENDING; i++)
    if (pending[i] == temp)
      pending[i] = NULL;
}

// unlink and sigaction are async-signal-safe.  The signal stays blocked
// until the handler returns, so raise makes the previous action (the
// default: the end of the process, a core) take it then; a fault comes
// back at its instruction anyway.
static void on_fatal(int sig) {
  remove_pending();
  for (int i = 0; i < FATAL_COUNT; i++)
    if (fatal_signals[i] == sig && installed[i])
      sigaction(sig, &previous[i], NULL);
  raise(sig);
}

// A fault's handler of the program's (a sanitizer's) is called after ours.
// A signal sent to end the process that the program ignores (a background
// job's SIGINT) or handles itself, perhaps to go on, is left to it.
static int ours(const struct sigaction *old, int fault) {
  if (old->sa_flags & SA_SIGINFO)
    return fault;
  if (old->sa_handler == SIG_DFL)
    return 1;
  return fault && old->sa_handler != SIG_IGN;
}

// Once for all the files open: a second sigaction would take our own
// handler for the program's.
static void watch_signals(void) {
  if (watchers++ > 0)
    return;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_fatal;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < FATAL_COUNT; i++) {
    struct sigaction old;
    installed[i] = sigaction(fatal_signals[i], NULL, &old) == 0 && ours(&old, i < FAULTS) &&
                   sigaction(fatal_signals[i], &sa, &previous[i]) == 0;
  }
}

static void unwatch_signals(void) {
  if (--watchers > 0)
    return;
  for (int i = 0; i < FATAL_COUNT; i++)
    if (installed[i])
      sigaction(fatal_signals[i], &previous[i], NULL);
  memset(installed, 0, sizeof installed);
}

// ---- Creating and committing ------------------------------------------------------

static int refuse(const struct cyclekit_suite *s, const struct result_file *f, const char *what,
                  int errnum) {
  fprintf(stderr, "%s: cannot %s the %s file '%s': %s\n", s->program, what, f->option, f->path,
          strerror(errnum));
  return 2;
}

static void discard(struct result_file *f) {
  if (f->out)
    fclose(f->out);
  f->out = NULL;
  free(f->final);
  f->final = NULL;
  if (f->temp) {
    let_go(f->temp);
    unlink(f->temp);
    free(f->temp);
    f->temp = NULL;
  }
  if (f->watched)
    unwatch_signals();
  f->watched = 0;
}

// Where the new file goes: through a symbolic link to the file it names, so
// the link stays a link (a link that names nothing yet is replaced).
static char *final_path(const char *path) {
  struct stat st;
  char *target = lstat(path, &st) == 0 && S_ISLNK(st.st_mode) ? realpath(path, NULL) : NULL;
  return target ? target : copy_string(path);
}

int suite_internal::result_file_open(const struct cyclekit_suite *s, const char *path,
                                     const char *option, const char *noun, struct result_file *f) {
  memset(f, 0, sizeof *f);
  f->path = path;
  f->option = option;
  f->noun = noun;
  if (strcmp(path, "-") == 0) {
    f->out = stdout;
    return 0;
  }
  struct stat st;
  int exists = stat(path, &st) == 0;
  if (exists && S_ISDIR(st.st_mode))
    return refuse(s, f, "create", EISDIR);
  // A device or a FIFO (/dev/stdout, a pipe made with mkfifo) has no old
  // bytes to keep, and renaming a file over its name would replace the
  // device itself: the lines go to it as they are written.
  if (exists && !S_ISREG(st.st_mode)) {
    f->out = fopen(path, "w");
    f->direct = 1;
    return f->out ? 0 : refuse(s, f, "open", errno);
  }
  // A test function that calls exit ends the process as surely as a signal.
  static int exit_watched = 0;
  if (!exit_watched)
    exit_watched = atexit(remove_pending) == 0;
  f->final = final_path(path);
  size_t n = strlen(f->final);
  char *temp = (char *)suite_alloc(n + sizeof ".XXXXXX");
  memcpy(temp, f->final, n);
  memcpy(temp + n, ".XXXXXX", sizeof ".XXXXXX");
  watch_signals();
  f->watched = 1;
  int fd = mkstemp(temp);
  if (fd < 0) {
    int errnum = errno;
    free(temp);
    discard(f);
    return refuse(s, f, "create", errnum);
  }
  f->temp = temp;
  hold(temp);
  // mkstemp makes it private (0600); the result is the mode a new file gets.
  mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0 || !(f->out = fdopen(fd, "w"))) {
    int errnum = errno;
    if (!f->out)
      close(fd);
    discard(f);
    return refuse(s, f, "create", errnum);
  }
  return 0;
}

int suite_internal::result_file_commit(const struct cyclekit_suite *s, struct result_file *f) {
  if (f->direct) {
    errno = EIO;  // what a stream error that set no errno is taken for
    int failed = fflush(f->out) != 0 || ferror(f->out);
    int errnum = errno;
    if (fclose(f->out) != 0 && !failed) {
      failed = 1;
      errnum = errno;
    }
    f->out = NULL;
    return failed ? refuse(s, f, "write", errnum) : 0;
  }
  if (!f->temp) {
    int failed = fflush(f->out) != 0 || ferror(f->out);
    if (failed)
      fprintf(stderr, "%s: cannot write the %s: %s\n", s->program, f->noun, strerror(errno));
    f->out = NULL;
    return failed;
  }
  errno = EIO;  // what a stream error that set no errno is taken for
  int ok = fflush(f->out) == 0 && !ferror(f->out) && fsync(fileno(f->out)) == 0;
  int errnum = errno;
  if (fclose(f->out) != 0 && ok) {
    ok = 0;
    errnum = errno;
  }
  f->out = NULL;
  if (ok && rename(f->temp, f->final) != 0) {
    ok = 0;
    errnum = errno;
  }
  if (ok) {
    let_go(f->temp);
    free(f->temp);
    f->temp = NULL;
  }
  discard(f);
  return ok ? 0 : refuse(s, f, "write", errnum);
}

void suite_internal::result_file_abandon(struct result_file *f) {
  if (f->direct && f->out)
    fclose(f->out);
  if (f->temp)
    discard(f);
  f->out = NULL;
}
