// cyclekit-compare's one kind of failure: bad input, a failed option, a
// suite program that failed or hung, or a resource that ran out.  Its
// message names the file and line, or the program; main prints it and
// exits with status 2.
#ifndef CYCLEKIT_COMPARE_ERROR_H
#define CYCLEKIT_COMPARE_ERROR_H

#include <stdexcept>

struct input_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

#endif
