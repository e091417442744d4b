// cyclekit-compare: is a new build of a suite slower than the old one?
//
// Reads the result files of two suite programs (or runs the two programs in
// alternate pairs) and, for every name, estimates the ratio new/base with a
// distribution-free 95 % interval and gives a verdict.  Every failure of the
// input ends the program with status 2 before anything is written to
// standard output.

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char **environ;

using nlohmann::json;

namespace {

// What the suite library writes as the context line's "format".
constexpr int kFormat = 1;

// A failure of the input: its message names the file and line, or the
// program and its exit status.
struct input_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- Reading result lines -----------------------------------------------------

struct sample {
  double answer;
  double uncertainty;
  std::string unit;
};

// One side of the comparison: the answers by name, in their first order.
struct side {
  std::string label;
  std::optional<json> context;
  std::vector<std::string> order;
  std::map<std::string, std::vector<sample>> answers;
};

double number_or_nan(const json &j) { return j.is_number() ? j.get<double>() : NAN; }

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

void read_result(side &s, const json &line, const std::string &where,
                 std::map<std::string, std::vector<sample>> &run) {
  std::string name = field(line, "name", where, true).get<std::string>();
  sample x{number_or_nan(field(line, "answer", where, false)),
           number_or_nan(field(line, "uncertainty", where, false)),
           field(line, "unit", where, true).get<std::string>()};
  if (!s.answers.count(name) && !run.count(name))
    s.order.push_back(name);
  run[name].push_back(x);
}

// The lines of one run of a suite (a file, or one program's output); the
// answers by name go to `run`.  A file may hold several runs one after the
// other, each from its context line on.
void read_lines(side &s, std::istream &in, const std::string &label,
                std::map<std::string, std::vector<sample>> &run) {
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

void merge(side &s, std::map<std::string, std::vector<sample>> &run) {
  for (auto &[name, v] : run)
    s.answers[name].insert(s.answers[name].end(), v.begin(), v.end());
}

side read_file(const std::string &path) {
  side s;
  s.label = path;
  std::ifstream in(path);
  if (!in)
    throw input_error(path + ": cannot open: " + strerror(errno));
  std::map<std::string, std::vector<sample>> run;
  read_lines(s, in, path, run);
  merge(s, run);
  return s;
}

// ---- Running suite programs -------------------------------------------------------

struct finished {
  std::string out, err;
  int status;
};

std::string describe_status(int status) {
  if (WIFEXITED(status))
    return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "ended with wait status " + std::to_string(status);
}

std::string read_all(int fd) {
  std::string text;
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0)
      text.append(buffer, size_t(n));
  return text;
}

// Runs program with args, its standard output in a pipe and its standard
// error (the table, or a crash's message) in a temporary file.
finished run_program(const std::string &program, const std::vector<std::string> &args) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(program.c_str()));
  for (const auto &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  int out[2];
  FILE *err = tmpfile();
  if (pipe(out) != 0 || !err)
    throw input_error(std::string("cannot make a pipe or a temporary file: ") + strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid;
  int failed = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (failed) {
    close(out[0]);
    fclose(err);
    throw input_error(program + ": cannot be run: " + strerror(failed));
  }
  finished f;
  f.out = read_all(out[0]);
  close(out[0]);
  while (waitpid(pid, &f.status, 0) < 0 && errno == EINTR) {
  }
  rewind(err);
  f.err = read_all(fileno(err));
  fclose(err);
  return f;
}

// The last few lines of a program's standard error, to show with its failure.
std::string tail(const std::string &text, int lines) {
  size_t at = text.size();
  if (at > 0 && text[at - 1] == '\n')
    at--;
  while (lines-- > 0) {
    size_t newline = at > 0 ? text.rfind('\n', at - 1) : std::string::npos;
    if (newline == std::string::npos)
      return text;
    at = newline;
  }
  return text.substr(at + 1);
}

// One run of one program; its answers by name (the median of its
// repetitions each) go to `pair`.
void run_once(side &s, const std::string &program, const std::vector<std::string> &args, int pair,
              std::map<std::string, double> &medians) {
  std::vector<std::string> all{"--json", "-"};
  all.insert(all.end(), args.begin(), args.end());
  finished f = run_program(program, all);
  std::string label = program + " (pair " + std::to_string(pair + 1) + ")";
  if (!WIFEXITED(f.status) || WEXITSTATUS(f.status) != 0) {
    std::string why = label + " " + describe_status(f.status);
    if (!f.err.empty())
      why += "; its standard error ends:\n" + tail(f.err, 5);
    throw input_error(why);
  }
  if (f.out.find_first_not_of(" \t\r\n") == std::string::npos)
    throw input_error(label + " printed no JSON lines (" + describe_status(f.status) + ")");
  std::istringstream in(f.out);
  std::map<std::string, std::vector<sample>> run;
  read_lines(s, in, label + " output line", run);
  for (auto &[name, v] : run) {
    std::vector<double> a;
    for (const auto &x : v)
      a.push_back(x.answer);
    std::sort(a.begin(), a.end());
    size_t n = a.size();
    medians[name] = n % 2 ? a[n / 2] : (a[n / 2 - 1] + a[n / 2]) / 2;
  }
  merge(s, run);
}

// ---- Statistics --------------------------------------------------------------------

double median_of(std::vector<double> v) {
  if (v.empty())
    return NAN;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The number k of the least (and of the greatest) values of a sorted list of
// `count` estimates that lie outside a two-sided 95 % interval: the largest
// k with P(statistic < k) <= 0.025 under the null hypothesis, whose
// distribution `cdf(u)` = P(statistic <= u) gives.  0: no such interval.
template <class Cdf>
long outside(long count, Cdf cdf) {
  long k = 0;
  while (k < count / 2 && cdf(k) <= 0.025)
    k++;
  return k;
}

double normal_cdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// P(U <= u) for the Mann-Whitney U of samples of m and n: exact (the
// coefficients of the Gaussian binomial) while the counts stay small enough
// for doubles, else the normal approximation with a continuity correction.
std::vector<double> mann_whitney_cdf(long m, long n) {
  std::vector<double> cdf(size_t(m * n) + 1);
  if (m + n <= 60) {
    std::vector<double> c(size_t(m * n + m) + 1, 0.0);
    c[0] = 1;
    long degree = 0;
    for (long i = 1; i <= m; i++) {  // times (1 - q^(n+i)) / (1 - q^i)
      degree += n + i;
      for (long u = degree; u >= n + i; u--)
        c[size_t(u)] -= c[size_t(u - n - i)];
      for (long u = i; u <= degree; u++)
        c[size_t(u)] += c[size_t(u - i)];
      degree -= i;
    }
    double total = 0, sum = 0;
    for (long u = 0; u <= m * n; u++)
      total += c[size_t(u)];
    for (long u = 0; u <= m * n; u++)
      cdf[size_t(u)] = (sum += c[size_t(u)]) / total;
  } else {
    double mean = m * n / 2.0, sd = std::sqrt(m * n * (m + n + 1) / 12.0);
    for (long u = 0; u <= m * n; u++)
      cdf[size_t(u)] = normal_cdf((u + 0.5 - mean) / sd);
  }
  return cdf;
}

// P(T <= t) for Wilcoxon's signed-rank statistic of n differences, exact.
std::vector<double> signed_rank_cdf(long n) {
  long top = n * (n + 1) / 2;
  std::vector<double> c(size_t(top) + 1, 0.0);
  c[0] = 1;
  for (long i = 1; i <= n; i++)
    for (long t = top; t >= i; t--)
      c[size_t(t)] += c[size_t(t - i)];
  std::vector<double> cdf(size_t(top) + 1);
  double sum = 0, total = std::ldexp(1.0, int(n));
  for (long t = 0; t <= top; t++)
    cdf[size_t(t)] = (sum += c[size_t(t)]) / total;
  return cdf;
}

struct estimate {
  double shift = NAN, low = NAN, high = NAN;  // of log answers
  bool interval = false;
};

// Hodges-Lehmann: the median of the estimates (all differences, or the
// pairs' Walsh averages), and the interval between the k-th least and the
// k-th greatest of them.
estimate from_estimates(std::vector<double> e, const std::vector<double> &cdf) {
  estimate r;
  if (e.empty())
    return r;
  std::sort(e.begin(), e.end());
  r.shift = median_of(e);
  long k = outside(long(e.size()), [&](long u) { return cdf[size_t(u)]; });
  if (k > 0) {
    r.low = e[size_t(k - 1)];
    r.high = e[e.size() - size_t(k)];
    r.interval = true;
  }
  return r;
}

estimate two_samples(const std::vector<double> &x, const std::vector<double> &y) {
  std::vector<double> d;
  for (double b : x)
    for (double a : y)
      d.push_back(a - b);
  return from_estimates(d, mann_whitney_cdf(long(x.size()), long(y.size())));
}

estimate paired(const std::vector<double> &d) {
  std::vector<double> walsh;
  for (size_t i = 0; i < d.size(); i++)
    for (size_t j = i; j < d.size(); j++)
      walsh.push_back((d[i] + d[j]) / 2);
  return from_estimates(walsh, signed_rank_cdf(long(d.size())));
}

// ---- Verdicts ------------------------------------------------------------------------

struct row {
  std::string name, verdict, note;
  double base = NAN, fresh = NAN, ratio = NAN, low = NAN, high = NAN, resolution = NAN;
  size_t base_n = 0, new_n = 0;
};

std::vector<double> logs_of(const std::vector<sample> &v) {
  std::vector<double> l;
  for (const auto &x : v)
    if (x.answer > 0 && std::isfinite(x.answer))
      l.push_back(std::log(x.answer));
  return l;
}

double median_field(const std::vector<sample> &v, double sample::*f) {
  std::vector<double> a;
  for (const auto &x : v)
    if (std::isfinite(x.*f))
      a.push_back(x.*f);
  return median_of(a);
}

row judge(const std::string &name, const std::vector<sample> &b, const std::vector<sample> &n,
          const std::optional<std::vector<double>> &pair_logs, double margin) {
  row r;
  r.name = name;
  r.base = median_field(b, &sample::answer);
  r.fresh = median_field(n, &sample::answer);
  r.base_n = b.size();
  r.new_n = n.size();
  // The counter cannot tell apart answers closer than the larger of the two
  // sides' uncertainties (one counter step for a K-best answer).
  r.resolution =
      std::max(median_field(b, &sample::uncertainty), median_field(n, &sample::uncertainty));
  estimate e = pair_logs ? paired(*pair_logs) : two_samples(logs_of(b), logs_of(n));
  r.ratio = std::exp(e.shift);
  if (e.interval) {
    r.low = std::exp(e.low);
    r.high = std::exp(e.high);
  }
  if (std::fabs(r.fresh - r.base) <= r.resolution) {
    r.verdict = "not resolved";
  } else if (!e.interval) {
    r.verdict = "not distinguishable";
    r.note = pair_logs ? "too few pairs for a 95 % interval: 6 needed"
                       : "too few repetitions for a 95 % interval: 4 a side needed";
  } else if (r.low > 1 + margin) {
    r.verdict = "slower";
  } else if (r.high < 1 / (1 + margin)) {
    r.verdict = "faster";
  } else {
    r.verdict = "not distinguishable";
  }
  return r;
}

// ---- Context ------------------------------------------------------------------------

// Warns, naming the field, where the two sides ran on different machines or
// with different settings.  Measured rates vary a little from run to run.
void compare_contexts(const json &a, const json &b, std::ostream &warn) {
  static const char *const exact[] = {"counter",   "cpu",       "clocksource", "hypervisor",
                                      "invariant", "llc_bytes", "step"};
  static const std::pair<const char *, double> near[] = {{"mhz", 0.02}, {"core_per_tick", 0.05}};
  auto say = [&](const std::string &key, const json &x, const json &y) {
    warn << "cyclekit-compare: warning: the context lines differ in \"" << key << "\": base "
         << x.dump() << ", new " << y.dump() << "\n";
  };
  for (const char *key : exact)
    if (a.value(key, json()) != b.value(key, json()))
      say(key, a.value(key, json()), b.value(key, json()));
  for (const auto &[key, tolerance] : near) {
    double x = number_or_nan(a.value(key, json())), y = number_or_nan(b.value(key, json()));
    if (!(std::fabs(x - y) <= tolerance * std::max(std::fabs(x), std::fabs(y))))
      say(key, a.value(key, json()), b.value(key, json()));
  }
  // A core clock that differs from run to run moves counts in ticks with it.
  json core = a.value("settings", json::object()).value("core_cycles", json());
  if (core == 0 && !(std::fabs(number_or_nan(a.value("core_per_tick", json())) -
                               number_or_nan(b.value("core_per_tick", json()))) <=
                     0.05 * number_or_nan(a.value("core_per_tick", json()))))
    warn << "cyclekit-compare: the answers are counter ticks, which follow the core's clock; "
            "--core-cycles counts core cycles\n";
  json sa = a.value("settings", json::object()), sb = b.value("settings", json::object());
  for (auto it = sa.begin(); it != sa.end(); ++it)
    if (sb.value(it.key(), json()) != it.value())
      say("settings." + it.key(), it.value(), sb.value(it.key(), json()));
  for (auto it = sb.begin(); it != sb.end(); ++it)
    if (!sa.contains(it.key()))
      say("settings." + it.key(), json(), it.value());
}

// ---- Output --------------------------------------------------------------------------

std::string fixed(double v, int digits) {
  if (!std::isfinite(v))
    return "-";
  char text[64];
  snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

json nullable(double v) { return std::isfinite(v) ? json(v) : json(); }

void print_json(std::ostream &out, const std::vector<row> &rows,
                const std::vector<std::pair<std::string, std::string>> &missing, bool pairs) {
  for (const auto &r : rows) {
    nlohmann::ordered_json j = {{"type", "comparison"},
                                {"name", r.name},
                                {"base", nullable(r.base)},
                                {"new", nullable(r.fresh)},
                                {"ratio", nullable(r.ratio)},
                                {"low", nullable(r.low)},
                                {"high", nullable(r.high)},
                                {"verdict", r.verdict},
                                {"base_answers", r.base_n},
                                {"new_answers", r.new_n},
                                {"paired", pairs},
                                {"resolution", nullable(r.resolution)}};
    if (!r.note.empty())
      j["note"] = r.note;
    out << j.dump() << "\n";
  }
  for (const auto &[name, where] : missing)
    out << nlohmann::ordered_json{{"type", "missing"}, {"name", name}, {"missing_in", where}}.dump()
        << "\n";
}

void print_table(std::ostream &out, const std::vector<row> &rows, bool markdown) {
  std::vector<std::vector<std::string>> cells{
      {"name", "base", "new", "ratio", "95% interval", "verdict"}};
  for (const auto &r : rows)
    cells.push_back({r.name, fixed(r.base, 1), fixed(r.fresh, 1), fixed(r.ratio, 4),
                     std::isfinite(r.low) ? fixed(r.low, 4) + " to " + fixed(r.high, 4) : "-",
                     r.verdict + (r.note.empty() ? "" : " (" + r.note + ")")});
  const bool left[] = {true, false, false, false, false, true};
  std::vector<size_t> width(6, 0);
  for (const auto &line : cells)
    for (size_t c = 0; c < 6; c++)
      width[c] = std::max(width[c], line[c].size());
  for (size_t l = 0; l < cells.size(); l++) {
    for (size_t c = 0; c < 6; c++) {
      std::string pad(width[c] - cells[l][c].size(), ' ');
      std::string cell = left[c] ? cells[l][c] + (c < 5 || markdown ? pad : "") : pad + cells[l][c];
      out << (markdown ? "| " : c ? "  " : "") << cell << (markdown ? " " : "");
    }
    out << (markdown ? "|\n" : "\n");
    if (markdown && l == 0) {
      for (size_t c = 0; c < 6; c++)
        out << "|" << (left[c] ? ":" : "-") << std::string(width[c], '-') << (left[c] ? "-" : ":");
      out << "|\n";
    }
  }
}

// ---- The two modes -------------------------------------------------------------------

struct options {
  std::vector<std::string> inputs, args;
  bool run = false, json_out = false, markdown = false;
  int pairs = 11;
  double margin = 0;
  std::string fail_on;
};

struct comparison {
  side base, fresh;
  std::map<std::string, std::vector<double>> pair_logs;  // --run: log(new/old) per pair
  bool paired = false;
  std::string heading;
};

comparison compare_files(const options &o) {
  comparison c;
  c.base = read_file(o.inputs[0]);
  c.fresh = read_file(o.inputs[1]);
  c.heading = "base " + o.inputs[0] + ", new " + o.inputs[1];
  return c;
}

comparison compare_runs(const options &o) {
  comparison c;
  c.base.label = o.inputs[0];
  c.fresh.label = o.inputs[1];
  c.paired = true;
  for (int p = 0; p < o.pairs; p++) {
    std::map<std::string, double> old_answers, new_answers;
    // Which build goes first alternates, so that neither always runs on a
    // machine the other has just warmed (or heated).
    if (p % 2 == 0) {
      run_once(c.base, o.inputs[0], o.args, p, old_answers);
      run_once(c.fresh, o.inputs[1], o.args, p, new_answers);
    } else {
      run_once(c.fresh, o.inputs[1], o.args, p, new_answers);
      run_once(c.base, o.inputs[0], o.args, p, old_answers);
    }
    for (const auto &[name, a] : old_answers) {
      auto b = new_answers.find(name);
      if (b != new_answers.end() && a > 0 && b->second > 0)
        c.pair_logs[name].push_back(std::log(b->second / a));
    }
  }
  c.heading = std::to_string(o.pairs) + " pairs, base " + o.inputs[0] + ", new " + o.inputs[1] +
              ", each first in turn";
  return c;
}

int report(const options &o, const comparison &c) {
  std::ostringstream out, warn;
  if (c.base.context && c.fresh.context)
    compare_contexts(*c.base.context, *c.fresh.context, warn);
  std::vector<row> rows;
  std::vector<std::pair<std::string, std::string>> missing;
  for (const auto &name : c.base.order) {
    auto n = c.fresh.answers.find(name);
    if (n == c.fresh.answers.end()) {
      missing.push_back({name, "new"});
      continue;
    }
    std::optional<std::vector<double>> logs;
    if (c.paired) {
      auto it = c.pair_logs.find(name);
      logs = it == c.pair_logs.end() ? std::vector<double>() : it->second;
    }
    rows.push_back(judge(name, c.base.answers.at(name), n->second, logs, o.margin));
  }
  for (const auto &name : c.fresh.order)
    if (!c.base.answers.count(name))
      missing.push_back({name, "base"});

  if (o.json_out) {
    print_json(out, rows, missing, c.paired);
  } else {
    out << c.heading << (o.margin > 0 ? ", margin " + fixed(100 * o.margin, 1) + " %" : "") << "\n";
    print_table(out, rows, o.markdown);
    for (const auto &[name, where] : missing)
      out << "missing in " << where << ": " << name << "\n";
  }
  std::fputs(warn.str().c_str(), stderr);
  std::fputs(out.str().c_str(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "cyclekit-compare: cannot write the report: %s\n", strerror(errno));
    return 2;
  }
  bool regressed =
      std::any_of(rows.begin(), rows.end(), [](const row &r) { return r.verdict == "slower"; });
  return o.fail_on == "slower" && regressed ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  options o;
  // Everything after "--" goes to the suite programs.
  int ours = argc;
  for (int i = 1; i < argc; i++)
    if (strcmp(argv[i], "--") == 0) {
      ours = i;
      break;
    }
  for (int i = ours + 1; i < argc; i++)
    o.args.push_back(argv[i]);

  CLI::App app{
      "Compares two suites' answers, name by name: the ratio new/base, its 95 % "
      "interval and a verdict.",
      "cyclekit-compare"};
  app.add_option("inputs", o.inputs,
                 "the two result files, or with --run the old and the new suite program")
      ->required()
      ->expected(2);
  app.add_flag("--run", o.run, "run the two programs alternately instead of reading files");
  app.add_option("--pairs", o.pairs, "runs of each program with --run (default 11)")
      ->check(CLI::Range(1, 1000));
  app.add_option("--margin", o.margin,
                 "a change must exceed this fraction to count (default 0; 0.03 is 3 %)")
      ->check(CLI::Range(0.0, 10.0));
  app.add_option("--fail-on", o.fail_on, "exit with status 1 on any such verdict")
      ->check(CLI::IsMember({"slower"}));
  app.add_flag("--json", o.json_out, "print JSON lines instead of a table");
  app.add_flag("--markdown", o.markdown, "print the table as Markdown");
  try {
    app.parse(ours, argv);
    if (!o.args.empty() && !o.run)
      throw CLI::ValidationError("arguments after -- are for the programs of --run");
  } catch (const CLI::ParseError &e) {
    int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }

  try {
    comparison c = o.run ? compare_runs(o) : compare_files(o);
    return report(o, c);
  } catch (const input_error &e) {
    std::fprintf(stderr, "cyclekit-compare: %s\n", e.what());
    return 2;
  }
}
