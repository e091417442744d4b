// What cyclekit-compare --trend prints: per name its first and last level
// and its change points, as a table (plain or Markdown) or as JSON lines
// that also hold every file's level.
#ifndef CYCLEKIT_TREND_REPORT_H
#define CYCLEKIT_TREND_REPORT_H

#include <ostream>

#include "compare_trend.h"

void print_trend_table(std::ostream &out, const history &h, bool markdown);
void print_trend_json(std::ostream &out, const history &h);

#endif
