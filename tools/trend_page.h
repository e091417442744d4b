// The trend page: one small plot per name (its level in every file, the
// uncertainty as a bar, each change point a vertical line with its ratio),
// the whole page one file with no script, font or image fetched.
#ifndef CYCLEKIT_TREND_PAGE_H
#define CYCLEKIT_TREND_PAGE_H

#include <string>

#include "compare_trend.h"

// One name's plot, a <svg> element that fills the width of what holds it.
std::string trend_svg(const history &h, const trend_name &t);

// <!DOCTYPE html> to </html>.
std::string trend_page(const history &h);

#endif
