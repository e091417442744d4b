// Running a suite program for cyclekit-compare --run: its standard output
// whole, the end of its standard error, its wait status.
#ifndef CYCLEKIT_COMPARE_RUN_H
#define CYCLEKIT_COMPARE_RUN_H

#include <string>
#include <vector>

#include "compare_error.h"

struct finished {
  std::string out;
  std::string err_tail;  // a bounded tail of the program's standard error
  int status;
};

struct run_limits {
  double timeout_seconds;
};

// Throws input_error naming the program when it cannot be run, and naming
// it as `label` (the program if empty) when it runs out of time or writes
// too much; its whole process group is ended before it returns or throws.
finished run_program(const std::string &program, const std::vector<std::string> &args,
                     const run_limits &limits, const std::string &label = "");

// "exited with status 2", "was killed by signal 6 (Aborted)".
std::string describe_status(int status);

// The last `lines` lines of text.
std::string tail(const std::string &text, int lines);

// Called once from main: a signal that ends compare ends its children too.
void end_children_on_signals();

#endif
