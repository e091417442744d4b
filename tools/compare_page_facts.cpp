#include "compare_page_facts.h"

#include <set>
#include <sstream>

using nlohmann::json;

namespace {

picture_row picture_of(const name_data &d, const row &r) {
  picture_row p;
  p.name = r.name;
  p.unit = unit_name(r.in);
  p.verdict = r.verdict;
  p.ratio = r.ratio, p.low = r.low, p.high = r.high;
  p.base = d.base_answers;
  p.fresh = d.new_answers;
  return p;
}

// The warnings without the program's name before each.
std::vector<std::string> lines_of(const std::string &warnings) {
  static const std::string prefix = "cyclekit-compare: ";
  std::vector<std::string> lines;
  std::istringstream in(warnings);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size())
                                                                : line);
  return lines;
}

json settings_of(const side &s) {
  if (!s.context || !s.context->contains("settings"))
    return json::object();
  return (*s.context)["settings"];
}

std::string text_of(const json &v) {
  if (v.is_null())
    return "none";
  return v.is_string() ? v.get<std::string>() : v.dump();
}

// One line a setting: its value, or both where the sides differ.
std::vector<std::pair<std::string, std::string>> settings_rows(const side &base,
                                                               const side &fresh) {
  json a = settings_of(base), b = settings_of(fresh);
  std::set<std::string> keys;
  for (auto it = a.begin(); it != a.end(); ++it)
    keys.insert(it.key());
  for (auto it = b.begin(); it != b.end(); ++it)
    keys.insert(it.key());
  std::vector<std::pair<std::string, std::string>> out{{"base", base.label}, {"new", fresh.label}};
  for (const auto &key : keys) {
    json x = a.value(key, json()), y = b.value(key, json());
    out.push_back({key, x == y ? text_of(x) : "base " + text_of(x) + ", new " + text_of(y)});
  }
  return out;
}

// Quoted only where a shell would split or expand it.
std::string quoted(const std::string &arg) {
  static const char plain[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=:,+%@";
  if (!arg.empty() && arg.find_first_not_of(plain) == std::string::npos)
    return arg;
  std::string out = "'";
  for (char c : arg)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

page_facts facts_of(const std::vector<name_data> &data, const std::vector<row> &rows, double margin,
                    const std::string &warnings, const side &base, const side &fresh) {
  page_facts facts;
  for (size_t i = 0; i < rows.size(); i++)
    facts.rows.push_back(picture_of(data[i], rows[i]));
  facts.margin = margin;
  facts.context = lines_of(warnings);
  facts.settings = settings_rows(base, fresh);
  return facts;
}

std::string command_of(int argc, char **argv) {
  std::string out;
  for (int i = 0; i < argc; i++)
    out += (i ? " " : "") + quoted(argv[i]);
  return out;
}
