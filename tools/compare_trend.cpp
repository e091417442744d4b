#include "compare_trend.h"

#include <algorithm>
#include <map>
#include <set>

#include "compare_error.h"
#include "compare_read.h"
#include "stats.h"

namespace {

// A name's answers in every file, still in their own units.
using answers_per_file = std::vector<std::vector<sample>>;

double median_of(const std::vector<sample> &v, double sample::*f) {
  std::vector<double> a;
  a.reserve(v.size());
  for (const auto &x : v)
    a.push_back(x.*f);
  return cyclekit_median(a.data(), a.size());
}

bool share(const std::set<std::string> &a, const std::set<std::string> &b) {
  return std::any_of(a.begin(), a.end(), [&](const std::string &n) { return b.count(n) > 0; });
}

// A file of another suite shares no name with either neighbour; of two
// files that share none, the later one is taken for the stranger, as the
// first file sets the suite.
void check_neighbours(const std::vector<std::set<std::string>> &names,
                      const std::vector<std::string> &paths) {
  for (size_t i = 1; i <= names.size(); i++) {
    size_t at = i % names.size(), j = at == 0 ? 1 : at - 1;
    bool next = at + 1 < names.size() && at > 0 && share(names[at], names[at + 1]);
    if (!next && !share(names[at], names[j]))
      throw input_error(paths[at] + ": no name in common with " + paths[j] +
                        " (a result file of another suite?)");
  }
}

trend_name levels_of(const std::string &name, answers_per_file &files) {
  std::vector<sample> all;
  for (const auto &f : files)
    all.insert(all.end(), f.begin(), f.end());
  std::string why;
  std::optional<unit> u = common_unit(all, {}, why);
  if (!u)
    throw input_error(name + ": its answers cannot be brought to one unit over the files (" +
                      why.substr(why.find("in ") + 3) + ")");
  trend_name t;
  t.name = name;
  t.in = *u;
  for (auto &f : files) {
    trend_point p;
    if (!f.empty()) {
      std::vector<sample> v = in_unit(std::move(f), *u);
      p.level = median_of(v, &sample::answer);
      p.uncertainty = median_of(v, &sample::uncertainty);
      p.count = v.size();
    }
    t.points.push_back(p);
    f = {};
  }
  return t;
}

// The suite's title from a file's context line; empty where it has none.
std::string title_of(const side &s) {
  auto t = s.context ? s.context->find("title") : nlohmann::json::const_iterator();
  return s.context && t != s.context->end() && t->is_string() ? t->get<std::string>() : "";
}

void check_title(const side &s, const std::string &first, const std::string &first_path) {
  std::string title = title_of(s);
  if (!title.empty() && !first.empty() && title != first)
    throw input_error(s.label + ": a result file of another suite (\"" + title + "\", " +
                      first_path + " is of \"" + first + "\")");
}

}  // namespace

history read_history(const std::vector<std::string> &paths) {
  history h;
  h.files = paths;
  std::vector<std::string> order;
  std::map<std::string, answers_per_file> by_name;
  std::vector<std::set<std::string>> names(paths.size());
  std::string first;
  for (size_t i = 0; i < paths.size(); i++) {
    side s = read_file(paths[i]);
    if (i == 0)
      first = title_of(s);
    check_title(s, first, paths[0]);
    if (s.order.empty())
      throw input_error(paths[i] + ": no result lines, nothing to follow");
    for (auto &name : s.order) {
      auto &files = by_name[name];
      if (files.empty()) {
        order.push_back(name);
        files.resize(paths.size());
      }
      files[i] = std::move(s.answers[name]);
      names[i].insert(name);
    }
  }
  check_neighbours(names, paths);
  for (const auto &name : order)
    h.names.push_back(levels_of(name, by_name[name]));
  return h;
}

void find_all_changes(history &h) {
  h.family = 0;
  for (const auto &t : h.names)
    h.family += std::count_if(t.points.begin(), t.points.end(),
                              [](const trend_point &p) { return p.count > 0; }) >= 2;
  size_t splits = h.files.size() > 1 ? h.files.size() - 1 : 1;
  h.confidence = 1 - kTrendLevel / static_cast<double>(std::max<size_t>(h.family, 1) * splits);
  for (auto &t : h.names)
    t.changes = find_changes(t.points, h.confidence);
}
