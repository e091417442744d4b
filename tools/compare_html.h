// A comparison as one page that needs nothing else: its verdict in words,
// the forest plot, each name's answers, the table, what differs between
// the two sides' machines, the settings and the command.
#ifndef CYCLEKIT_COMPARE_HTML_H
#define CYCLEKIT_COMPARE_HTML_H

#include <string>
#include <utility>
#include <vector>

#include "compare_svg.h"

struct page_facts {
  std::vector<picture_row> rows;
  double margin = 0;
  std::vector<std::string> context;  // how the two sides' contexts differ, a line each
  std::vector<std::pair<std::string, std::string>> settings;  // name, value
  std::string command;
};

// The verdict in words, e.g. "1 of 8 names slower: imul chain (+4.9 %)."
// with the names in the order of the forest plot.
std::string verdict_words(const std::vector<picture_row> &rows);

// The whole page, <!DOCTYPE html> to </html>, its style inline; with no
// rows, a page that says that nothing was compared.
std::string compare_page(const page_facts &facts);

#endif
