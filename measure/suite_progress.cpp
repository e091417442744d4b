// The one line of progress on standard error: only on a terminal, and only
// once the run has taken a second, so that a quick suite, or one whose
// standard error is a file or a pipe, shows nothing of it.  Drawn between
// answers, never inside one.

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "suite_internal.h"

using namespace suite_internal;

// Longer names are cut, so that the line fits a narrow terminal.
enum { PROGRESS_NAME = 60 };
static const double progress_after = 1;  // seconds

void suite_internal::progress_begin(struct suite_progress *p, int on) {
  p->on = on && isatty(STDERR_FILENO);
  p->start = seconds_now();
  p->width = 0;
}

// "[3/12] name", over the line before it: what it leaves uncovered is
// blanked.
void suite_internal::progress_show(struct suite_progress *p, int done, int total,
                                   const char *name) {
  if (!p->on || seconds_now() - p->start < progress_after)
    return;
  char line[PROGRESS_NAME + 32];
  int width = snprintf(line, sizeof line, "[%d/%d] %.*s", done, total, PROGRESS_NAME, name);
  fprintf(stderr, "\r%s%*s", line, p->width > width ? p->width - width : 0, "");
  if (width > p->width)
    p->width = width;
  fflush(stderr);
}

void suite_internal::progress_end(struct suite_progress *p) {
  if (p->width > 0) {
    fprintf(stderr, "\r%*s\r", p->width, "");
    fflush(stderr);
  }
  p->width = 0;
}
