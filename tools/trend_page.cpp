#include "trend_page.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "compare_axis.h"
#include "compare_error.h"
#include "compare_picture_text.h"

namespace {

constexpr double kWidth = 400, kHeight = 150, kLeft = 56, kRight = 392, kTop = 22, kBottom = 124;
const char kInk[] = "#212121", kPoint[] = "#1565c0", kChange[] = "#c62828";

std::string number(double x) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", x);
  return text;
}

std::string text(double x, double y, const std::string &content, const char *anchor,
                 const char *colour = kInk) {
  return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\" text-anchor=\"" + anchor +
         "\" fill=\"" + colour + "\">" + escaped(content) + "</text>";
}

std::string line(double x1, double y1, double x2, double y2, const std::string &style) {
  return "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
         "\" y2=\"" + number(y2) + "\" " + style + "/>";
}

// The levels' range with their bars, a little wider, never empty.
linear_axis level_axis(const trend_name &t) {
  double low = INFINITY, high = -INFINITY;
  for (const auto &p : t.points)
    if (p.count > 0 && std::isfinite(p.level)) {
      double u = std::isfinite(p.uncertainty) ? p.uncertainty : 0;
      low = std::min(low, p.level - u), high = std::max(high, p.level + u);
    }
  if (!(low <= high))
    low = 0, high = 1;
  double pad = std::max((high - low) * 0.08, std::max(std::fabs(high) * 1e-3, 1e-9));
  return {low - pad, high + pad, kBottom, kTop};
}

std::string y_ticks(const linear_axis &y) {
  std::string out;
  double step;
  for (double v : y.ticks(4, step))
    out += line(kLeft, y.x(v), kRight, y.x(v), "stroke=\"#e0e0e0\"") +
           text(kLeft - 4, y.x(v) + 4, tick_label(v, step), "end");
  return out;
}

std::string points(const trend_name &t, const linear_axis &x, const linear_axis &y) {
  std::string out;
  for (size_t i = 0; i < t.points.size(); i++) {
    const trend_point &p = t.points[i];
    if (p.count == 0 || !std::isfinite(p.level))
      continue;
    double u = std::isfinite(p.uncertainty) ? p.uncertainty : 0, at = x.x(i + 1.0);
    out += line(at, y.x(p.level - u), at, y.x(p.level + u), "stroke=\"#90caf9\"") +
           "<circle cx=\"" + number(at) + "\" cy=\"" + number(y.x(p.level)) +
           "\" r=\"2.5\" fill=\"" + kPoint + "\"><title>file " + std::to_string(i + 1) + ": " +
           escaped(number(p.level)) + "</title></circle>";
  }
  return out;
}

std::string changes(const trend_name &t, const linear_axis &x) {
  std::string out;
  for (const auto &c : t.changes) {
    // Between the last file before and the first one after.
    double at = x.x(c.file + 0.5);
    out += "<g class=\"change\">" +
           line(at, kTop, at, kBottom,
                std::string("stroke=\"") + kChange + "\" stroke-dasharray=\"4 3\"") +
           text(at + 3, kTop - 6, ratio_text(c.ratio) + " (" + change_text(c.ratio) + ")",
                at > kWidth / 2 ? "end" : "start", kChange) +
           "</g>";
  }
  return out;
}

std::string table_row(const history &h, const trend_name &t) {
  std::string cells;
  for (const auto &c : t.changes)
    cells += "<li>file " + std::to_string(c.file + 1) + " (" + escaped(h.files[c.file]) +
             "): " + ratio_text(c.ratio) + " " + interval_text(c.low, c.high) + "</li>";
  return cells.empty() ? "<p>No change point.</p>" : "<ul>" + cells + "</ul>";
}

const char kStyle[] =
    "body{font-family:system-ui,sans-serif;color:#212121;margin:0}"
    "main{max-width:60rem;margin:0 auto;padding:0.75rem}"
    "svg{display:block;width:100%;max-width:34rem;height:auto}figure{margin:0 0 1.5rem}"
    "h2{font-size:1.05rem;overflow-wrap:anywhere}li,p{overflow-wrap:anywhere}";

}  // namespace

std::string trend_svg(const history &h, const trend_name &t) {
  linear_axis x{0.5, h.files.size() + 0.5, kLeft, kRight};
  linear_axis y = level_axis(t);
  double step;
  std::string xt;
  for (double v : linear_axis{1, static_cast<double>(h.files.size()), kLeft, kRight}.ticks(6, step))
    if (v >= 1 && v == std::floor(v))
      xt += text(x.x(v), kBottom + 14, tick_label(v, step), "middle");
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + number(kWidth) + " " +
         number(kHeight) + "\" width=\"100%\" role=\"img\" font-family=\"system-ui, " +
         "sans-serif\" font-size=\"11\"><title>" + escaped(t.name) + "</title>" +
         "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>" + y_ticks(y) +
         line(kLeft, kBottom, kRight, kBottom, "stroke=\"#757575\"") + xt +
         text((kLeft + kRight) / 2, kHeight - 2, "file, oldest first", "middle") +
         text(4, 12, unit_name(t.in), "start") + points(t, x, y) + changes(t, x) + "</svg>";
}

std::string trend_page(const history &h) {
  size_t changed = 0;
  for (const auto &t : h.names)
    changed += !t.changes.empty();
  std::string title = std::to_string(changed) + " of " + std::to_string(h.names.size()) +
                      " names changed over " + std::to_string(h.files.size()) + " files";
  std::string body;
  for (const auto &t : h.names)
    body += "<figure class=\"name\"><h2>" + escaped(t.name) + "</h2>" + trend_svg(h, t) +
            table_row(h, t) + "</figure>";
  return "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
         "content=\"width=device-width, initial-scale=1\"><title>" +
         escaped(title) + "</title><style>" + kStyle + "</style></head><body><main><h1>" +
         escaped(title) + "</h1><p>From " + escaped(h.files.front()) + " to " +
         escaped(h.files.back()) + ". A dashed line marks a change point, with the ratio " +
         "after/before.</p>" + body + "</main></body></html>\n";
}
