// Files written whole or not at all: a reader (a browser, a CI job's
// upload) never sees half a page, and a failed run leaves what was there.
#ifndef CYCLEKIT_COMPARE_WRITE_H
#define CYCLEKIT_COMPARE_WRITE_H

#include <string>
#include <utility>
#include <vector>

#include "compare_error.h"

// Writes each (path, text).  A regular file or a new one is written to a
// temporary file beside it, renamed over it once every file has been
// written; anything else (a device, a FIFO) is written straight to.  On
// any failure the temporary files are removed, no file is replaced, and
// input_error names the path and the cause.
void write_whole(const std::vector<std::pair<std::string, std::string>> &files);

#endif
