#include "compare_read.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <new>

#include "compare_line.h"
#include "result_format.h"

using nlohmann::json;

namespace {

// What one run's context line says that its result lines need.
struct run_context {
  int format = 0;
  int run = 0;
  double core_per_tick = NAN, mhz = NAN;
  bool core_cycles = false;  // the settings' core_cycles
};

bool number_or_null(const json &j) { return j.is_number() || j.is_null(); }

void check_context_types(const json &line, const std::string &where) {
  for (const char *key : {"mhz", "core_per_tick", "step"})
    if (line.contains(key) && !number_or_null(line[key]))
      throw input_error(where + ": the context line's \"" + key + "\" is not a number");
  if (line.contains("settings") && !line["settings"].is_object())
    throw input_error(where + ": the context line's \"settings\" is not an object");
  if (line.contains("settings") && line["settings"].contains("core_cycles") &&
      !number_or_null(line["settings"]["core_cycles"]))
    throw input_error(where + ": the context line's \"settings.core_cycles\" is not a number");
}

run_context read_context(side &s, const json &line, const std::string &where) {
  auto library = line.find("library");
  if (library == line.end() || *library != "cyclekit")
    throw input_error(where + ": not a cyclekit result file (its context line names no cyclekit)");
  auto format = line.find("format");
  if (format == line.end() || !format->is_number_integer() ||
      *format < CYCLEKIT_RESULT_FORMAT_OLDEST || *format > CYCLEKIT_RESULT_FORMAT)
    throw input_error(where + ": result format " + (format == line.end() ? "?" : format->dump()) +
                      " is not one this program reads (" +
                      std::to_string(CYCLEKIT_RESULT_FORMAT_OLDEST) + " to " +
                      std::to_string(CYCLEKIT_RESULT_FORMAT) + ")");
  check_context_types(line, where);
  run_context c;
  c.format = format->get<int>();
  c.core_per_tick = number_or_nan(line.value("core_per_tick", json()));
  c.mhz = number_or_nan(line.value("mhz", json()));
  double core = number_or_nan(line.value("settings", json::object()).value("core_cycles", json()));
  c.core_cycles = !std::isnan(core) && core != 0;
  if (!s.context)
    s.context = line;
  return c;
}

const json &field(const line_top &line, const char *key, const std::string &where, bool string) {
  auto it = line.fields.find(key);
  bool ok =
      it != line.fields.end() && (string ? it->second.is_string() : number_or_null(it->second));
  if (!ok)
    throw input_error(where + ": result line without a valid \"" + key + "\"");
  return it->second;
}

unit unit_of(const line_top &line, const run_context &c, const std::string &where) {
  std::string text = field(line, "unit", where, true).get<std::string>();
  if (text == CYCLEKIT_UNIT_CORE_CYCLES)
    return unit::core_cycles;
  if (c.format >= 2 && text == CYCLEKIT_UNIT_TICKS)
    return unit::ticks;
  if (c.format >= 2 && text == CYCLEKIT_UNIT_NS)
    return unit::ns;
  if (c.format == 1 && text == CYCLEKIT_UNIT_FORMAT1_TICKS) {
    // Format 1 wrote "cycles" for ticks; core cycles only where it was told.
    auto own = line.fields.find("core_cycles");
    bool core =
        own != line.fields.end() && own->second.is_number() ? own->second != 0 : c.core_cycles;
    return core ? unit::core_cycles : unit::ticks;
  }
  throw input_error(where + ": unknown unit \"" + text + "\" for result format " +
                    std::to_string(c.format));
}

void read_result(side &s, const line_top &line, const run_context &c, const std::string &where) {
  std::string name = field(line, "name", where, true).get<std::string>();
  sample x{number_or_nan(field(line, "answer", where, false)),
           number_or_nan(field(line, "uncertainty", where, false)),
           unit_of(line, c, where),
           c.run,
           c.core_per_tick,
           c.mhz};
  auto &v = s.answers[name];
  if (v.empty())
    s.order.push_back(name);
  v.push_back(x);
  s.results++;
}

bool blank(const std::string &text) { return text.find_first_not_of(" \t\r") == std::string::npos; }

}  // namespace

double number_or_nan(const json &j) { return j.is_number() ? j.get<double>() : NAN; }

int read_lines(side &s, std::istream &in, const std::string &label, int run) {
  std::string text, where;
  int number = 0, runs = 0;
  run_context c;
  // A line too long for memory is a bad_alloc, not a stream that just fails.
  in.exceptions(std::ios::badbit);
  try {
    // number counts the line being read, so that a line too long for
    // memory is named too.
    while (++number, std::getline(in, text)) {
      if (blank(text))
        continue;
      where = label + ":" + std::to_string(number);
      line_top line = read_line_top(text, where);
      auto type = line.fields.find("type");
      if (!line.object || type == line.fields.end() || !type->second.is_string())
        throw input_error(where + ": not a cyclekit result line (no \"type\")");
      if (runs == 0 && type->second != "context")
        throw input_error(where + ": the context line is missing (the first line must be one)");
      if (type->second == "context") {
        c = read_context(s, read_line_tree(text, where), where);
        c.run = run + runs++;
      } else if (type->second == "result") {
        read_result(s, line, c, where);
      }
      // Other types are left for later formats to add.
    }
  } catch (const std::bad_alloc &) {
    throw input_error(label + ":" + std::to_string(number) + ": out of memory");
  } catch (const std::ios::failure &) {
    throw input_error(label + ":" + std::to_string(number) + ": cannot be read");
  }
  if (runs == 0)
    throw input_error(label + ": empty, no result lines");
  return runs;
}

side read_file(const std::string &path) {
  side s;
  s.label = path;
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw input_error(path + ": is a directory, not a result file");
  std::ifstream in(path);
  if (!in)
    throw input_error(path + ": cannot open: " + strerror(errno));
  read_lines(s, in, path, 0);
  return s;
}
