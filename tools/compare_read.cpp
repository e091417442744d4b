#include "compare_read.h"

#include <errno.h>
#include <string.h>

#include <cmath>
#include <fstream>

using nlohmann::json;

namespace {

// What the suite library writes as the context line's "format".
constexpr int kFormat = 1;

const json &field(const json &line, const char *key, const std::string &where, bool string) {
  auto it = line.find(key);
  bool ok = it != line.end() && (string ? it->is_string() : it->is_number() || it->is_null());
  if (!ok)
    throw input_error(where + ": result line without a valid \"" + key + "\"");
  return *it;
}

void read_context(side &s, const json &line, const std::string &where) {
  auto library = line.find("library");
  if (library == line.end() || *library != "cyclekit")
    throw input_error(where + ": not a cyclekit result file (its context line names no cyclekit)");
  auto format = line.find("format");
  if (format == line.end() || !format->is_number_integer() || *format != kFormat)
    throw input_error(where + ": result format " + (format == line.end() ? "?" : format->dump()) +
                      " is not the one this program reads (" + std::to_string(kFormat) + ")");
  if (!s.context)
    s.context = line;
}

void read_result(side &s, const json &line, const std::string &where, answers_by_name &run) {
  std::string name = field(line, "name", where, true).get<std::string>();
  sample x{number_or_nan(field(line, "answer", where, false)),
           number_or_nan(field(line, "uncertainty", where, false)),
           field(line, "unit", where, true).get<std::string>()};
  if (!s.answers.count(name) && !run.count(name))
    s.order.push_back(name);
  run[name].push_back(x);
}

}  // namespace

double number_or_nan(const json &j) { return j.is_number() ? j.get<double>() : NAN; }

void read_lines(side &s, std::istream &in, const std::string &label, answers_by_name &run) {
  std::string text;
  int number = 0;
  bool any = false;
  while (std::getline(in, text)) {
    number++;
    if (text.find_first_not_of(" \t\r") == std::string::npos)
      continue;
    std::string where = label + ":" + std::to_string(number);
    json line;
    try {
      line = json::parse(text);
    } catch (const json::parse_error &e) {
      throw input_error(where + ": malformed JSON line (" + e.what() + ")");
    }
    if (!line.is_object() || !line.contains("type") || !line["type"].is_string())
      throw input_error(where + ": not a cyclekit result line (no \"type\")");
    std::string type = line["type"].get<std::string>();
    if (!any && type != "context")
      throw input_error(where + ": the context line is missing (the first line must be one)");
    any = true;
    if (type == "context")
      read_context(s, line, where);
    else if (type == "result")
      read_result(s, line, where, run);
    // Other types are left for later formats to add.
  }
  if (!any)
    throw input_error(label + ": empty, no result lines");
}

void merge(side &s, answers_by_name &run) {
  for (auto &[name, v] : run)
    s.answers[name].insert(s.answers[name].end(), v.begin(), v.end());
}

side read_file(const std::string &path) {
  side s;
  s.label = path;
  std::ifstream in(path);
  if (!in)
    throw input_error(path + ": cannot open: " + strerror(errno));
  answers_by_name run;
  read_lines(s, in, path, run);
  merge(s, run);
  return s;
}
