#include "trend_main.h"

#include <errno.h>
#include <string.h>

#include <cstdio>
#include <sstream>

#include "compare_error.h"
#include "compare_trend.h"
#include "compare_write.h"
#include "trend_page.h"
#include "trend_report.h"

int trend_command(const trend_options &o) {
  history h = read_history(o.files);
  find_all_changes(h);
  std::ostringstream out;
  if (o.json)
    print_trend_json(out, h);
  else
    print_trend_table(out, h, o.markdown);
  if (o.markdown && !o.html.empty())
    out << "\n[The trend page](" << o.html << ")\n";
  // The page first: a page that cannot be written leaves no report behind
  // that would claim it.
  if (!o.html.empty())
    write_whole({{o.html, trend_page(h)}});
  std::fputs(out.str().c_str(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    throw input_error(std::string("cannot write the trend: ") + strerror(errno));
  return 0;
}
