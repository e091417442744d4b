// Pictures of a comparison as SVG written here, with no script, font or
// file fetched when they are shown: the forest plot of all names (a
// comparison read in one look) and one name's answers on both sides.
#ifndef CYCLEKIT_COMPARE_SVG_H
#define CYCLEKIT_COMPARE_SVG_H

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

// One name as the pictures need it; plain values, so that any way of
// judging can feed them.
struct picture_row {
  std::string name, unit;  // unit: how the answers are counted, e.g. "ticks"
  // verdict: "slower", "faster", "not distinguishable" or "not resolved"
  std::string verdict;
  double ratio = NAN, low = NAN, high = NAN;  // new/base, its 95 % interval (NaN: none)
  std::vector<double> base, fresh;            // each side's answers
};

// The order of the forest plot: the slower names first, then by ratio from
// the highest; a name without a ratio last.  Indices into rows.
std::vector<size_t> forest_order(const std::vector<picture_row> &rows);

// The forest plot: a <svg> element (no XML declaration, so that it can sit
// inside a page as it is) with one <g class="row"> per name in
// forest_order, the ratios on a log axis, the band [1/(1+margin), 1+margin]
// shaded.  It fills the width of what holds it.
std::string forest_svg(const std::vector<picture_row> &rows, double margin);

// One name's answers, base and new in a lane each, as points.
std::string strip_svg(const picture_row &row);

// The colour of a verdict, as "#rrggbb"; a verdict not known here is dark.
const char *verdict_colour(const std::string &verdict);

#endif
