// What cyclekit-compare's page and forest plot are drawn from: the judged
// names with both sides' answers, the context lines' differences as the
// warnings say them, both sides' settings and the command as it was given.
#ifndef CYCLEKIT_COMPARE_PAGE_FACTS_H
#define CYCLEKIT_COMPARE_PAGE_FACTS_H

#include <string>
#include <vector>

#include "compare_html.h"
#include "compare_read.h"
#include "compare_verdict.h"

// data and rows in the same order, as pair_up and judge give them;
// warnings: the text compare_contexts wrote, a line each.
page_facts facts_of(const std::vector<name_data> &data, const std::vector<row> &rows, double margin,
                    const std::string &warnings, const side &base, const side &fresh);

// The command line, each argument quoted for a POSIX shell where it needs it.
std::string command_of(int argc, char **argv);

#endif
