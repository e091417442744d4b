#include "compare_svg.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "compare_axis.h"
#include "compare_picture_text.h"

namespace {

constexpr double kWidth = 400, kRowHeight = 36, kTop = 48, kNameCharacters = 30;
const char kInk[] = "#212121", kBand[] = "#bbdefb";
const char *const kVerdicts[] = {"slower", "faster", "not distinguishable", "not resolved"};

std::string number(double x) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", x);
  return text;
}

bool drawable(double x) { return std::isfinite(x) && x > 0; }

std::string svg_open(double height, const std::string &title) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + number(kWidth) + " " +
         number(height) + "\" width=\"100%\" role=\"img\" font-family=\"system-ui, sans-serif\" " +
         "font-size=\"12\"><title>" + escaped(title) + "</title>" +
         // Its own white, for viewers with a dark background.
         "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>";
}

std::string text(double x, double y, const std::string &content, const char *anchor = "start") {
  return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\" text-anchor=\"" + anchor +
         "\" fill=\"" + kInk + "\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\">" +
         escaped(content) + "</text>";
}

std::string line(double x1, double y1, double x2, double y2, const std::string &style) {
  return "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
         "\" y2=\"" + number(y2) + "\" " + style + "/>";
}

std::string rect(double x, double y, double w, double h, const std::string &fill) {
  return "<rect x=\"" + number(x) + "\" y=\"" + number(y) + "\" width=\"" + number(w) +
         "\" height=\"" + number(h) + "\" fill=\"" + fill + "\"/>";
}

std::string circle(double x, double y, double r, const std::string &style) {
  return "<circle cx=\"" + number(x) + "\" cy=\"" + number(y) + "\" r=\"" + number(r) + "\" " +
         style + "/>";
}

// From the lowest to the highest ratio or end of an interval, the margin
// band and 1, a little wider so that no point sits on the edge.
log_axis ratio_axis(const std::vector<picture_row> &rows, double margin) {
  double low = 1 / (1 + margin), high = 1 + margin;
  for (const auto &r : rows)
    for (double v : {r.ratio, r.low, r.high})
      if (drawable(v)) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
  double pad = high > low ? std::pow(high / low, 0.06) : 1.01;
  return {low / pad, high * pad, 16, kWidth - 16};
}

std::string legend(double margin) {
  std::string out;
  double x = 10;
  for (const char *verdict : kVerdicts) {
    out += rect(x, 6, 10, 10, verdict_colour(verdict)) + text(x + 14, 15, verdict);
    x += 26 + 6.3 * std::string(verdict).size();
  }
  if (margin > 0) {
    char words[64];
    snprintf(words, sizeof words, "shaded: within the margin of %g %%", margin * 100);
    out += rect(10, 24, 10, 10, kBand) + text(24, 33, words);
  }
  return out;
}

std::string forest_row(const picture_row &r, const log_axis &axis, double y) {
  std::string colour = verdict_colour(r.verdict);
  std::string figures = ratio_text(r.ratio) + " " + interval_text(r.low, r.high);
  std::string out = "<g class=\"row\" data-verdict=\"" + escaped(r.verdict) + "\" fill=\"" +
                    colour + "\" stroke=\"" + colour + "\"><title>" +
                    escaped(r.name + ": " + figures + ", " + r.verdict) + "</title>";
  out += rect(10, y + 6, 8, 8, colour) + text(22, y + 14, shortened(r.name, kNameCharacters));
  out += text(kWidth - 10, y + 14, figures, "end");
  double mid = y + 26;
  if (drawable(r.low) && drawable(r.high))
    out += line(axis.x(r.low), mid, axis.x(r.high), mid, "stroke-width=\"3\"");
  if (drawable(r.ratio))
    out += circle(axis.x(r.ratio), mid, 4.5, "stroke=\"#ffffff\" stroke-width=\"1\"");
  return out + "</g>";
}

// The band, the line at 1 and the grid behind the rows; the ticks below.
std::string ratio_scale(const log_axis &axis, double margin, double bottom) {
  std::string out;
  if (margin > 0) {
    double left = axis.x(1 / (1 + margin)), right = axis.x(1 + margin);
    out += rect(left, kTop, right - left, bottom - kTop, kBand);
  }
  for (double tick : axis.ticks(40)) {
    char label[32];
    snprintf(label, sizeof label, "%g", tick);
    double x = axis.x(tick);
    out += line(x, kTop, x, bottom + 4,
                tick == 1 ? "stroke=\"#424242\" stroke-width=\"1.5\""
                          : "stroke=\"#e0e0e0\" stroke-width=\"1\"");
    out += text(x, bottom + 17, label, "middle");
  }
  out += line(axis.x0, bottom, axis.x1, bottom, "stroke=\"#9e9e9e\" stroke-width=\"1\"");
  return out +
         text(kWidth / 2, bottom + 33, "new / base, log scale: right of 1 is slower", "middle");
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::vector<double> finite(const std::vector<double> &v) {
  std::vector<double> out;
  std::copy_if(v.begin(), v.end(), std::back_inserter(out),
               [](double x) { return std::isfinite(x); });
  return out;
}

std::string lane(const std::vector<double> &answers, const linear_axis &axis, double y,
                 const char *colour) {
  std::string out, style = "fill=\"" + std::string(colour) + "\" fill-opacity=\"0.55\"";
  for (size_t i = 0; i < answers.size(); i++) {
    // A hash of the answer's place: no pattern that an order of the answers
    // could line up with, and the same answers always land in the same place.
    uint64_t h = (i + 1) * 0x9E3779B97F4A7C15u;
    h = (h ^ (h >> 31)) * 0xBF58476D1CE4E5B9u;
    double jitter = static_cast<double>((h ^ (h >> 29)) >> 11) / 9007199254740992.0 - 0.5;
    out += circle(axis.x(answers[i]), y + 14 * jitter, 2.5, style);
  }
  if (!answers.empty()) {
    double x = axis.x(median(answers));
    out += line(x, y - 10, x, y + 10, "stroke=\"" + std::string(kInk) + "\" stroke-width=\"2\"");
  }
  return out;
}

}  // namespace

const char *verdict_colour(const std::string &verdict) {
  static const char *const colours[] = {"#c62828", "#2e7d32", "#757575", "#bdbdbd"};
  for (size_t i = 0; i < 4; i++)
    if (verdict == kVerdicts[i])
      return colours[i];
  return "#37474f";
}

std::vector<size_t> forest_order(const std::vector<picture_row> &rows) {
  std::vector<size_t> order(rows.size());
  for (size_t i = 0; i < order.size(); i++)
    order[i] = i;
  auto rank = [&](size_t i) {
    const picture_row &r = rows[i];
    return std::make_pair(r.verdict == "slower" ? 0 : 1, std::isnan(r.ratio) ? INFINITY : -r.ratio);
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return rank(a) < rank(b); });
  return order;
}

std::string forest_svg(const std::vector<picture_row> &rows, double margin) {
  if (rows.empty())
    return svg_open(40, "Forest plot") + text(10, 24, "Nothing was compared.") + "</svg>";
  if (!(margin > 0 && std::isfinite(margin)))
    margin = 0;  // no band, rather than one drawn inside out
  log_axis axis = ratio_axis(rows, margin);
  double bottom = kTop + kRowHeight * rows.size() + 4;
  // Every other row shaded, under the band and the grid.
  std::string shading, body;
  std::vector<size_t> order = forest_order(rows);
  for (size_t k = 0; k < order.size(); k++) {
    if (k % 2 == 1)
      shading += rect(0, kTop + kRowHeight * k, kWidth, kRowHeight, "#f5f5f5");
    body += forest_row(rows[order[k]], axis, kTop + kRowHeight * k);
  }
  return svg_open(bottom + 42,
                  "Forest plot: the ratio new/base of each name and its 95 % interval") +
         legend(margin) + shading + ratio_scale(axis, margin, bottom) + body + "</svg>";
}

std::string strip_svg(const picture_row &row) {
  std::vector<double> base = finite(row.base), fresh = finite(row.fresh), both = base;
  both.insert(both.end(), fresh.begin(), fresh.end());
  std::string title = row.name + ": the answers of base and new";
  if (both.empty())
    return svg_open(30, title) + text(10, 20, "No answers.") + "</svg>";
  auto [least, most] = std::minmax_element(both.begin(), both.end());
  double pad = *most > *least ? (*most - *least) * 0.05 : std::max(1.0, std::fabs(*least) * 0.01);
  linear_axis axis{*least - pad, *most + pad, 52, kWidth - 14};
  std::string out = svg_open(104, title) + text(10, 26, "base") + text(10, 54, "new");
  out += lane(base, axis, 22, "#546e7a") + lane(fresh, axis, 50, "#1e88e5");
  out += line(axis.x0, 68, axis.x1, 68, "stroke=\"#9e9e9e\" stroke-width=\"1\"");
  double step;
  for (double tick : axis.ticks(5, step))
    out += line(axis.x(tick), 68, axis.x(tick), 72, "stroke=\"#9e9e9e\"") +
           text(axis.x(tick), 84, tick_label(tick, step), "middle");
  return out + text((axis.x0 + axis.x1) / 2, 99, row.unit, "middle") + "</svg>";
}
