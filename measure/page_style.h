/* The style sheet the suite's page and the compare tool's pages share, so
 * that a suite's report and its comparison read as one product: plain
 * text sizes, a column no wider than reads well, plots that shrink with
 * the window (400 px still works), tables that scroll rather than squeeze.
 * A string literal, for the C library and the C++ tool alike; each page
 * adds the few rules of its own after it. */
#ifndef CYCLEKIT_PAGE_STYLE_H
#define CYCLEKIT_PAGE_STYLE_H

#define CYCLEKIT_PAGE_STYLE                                                          \
  "body{margin:0;font-family:system-ui,sans-serif;line-height:1.4;color:#212121;"    \
  "background:#fff}"                                                                 \
  "main{max-width:60rem;margin:0 auto;padding:0.75rem}"                              \
  "h1{font-size:1.4rem;margin:0.5rem 0}h2{font-size:1.15rem;margin:1.5rem 0 0.5rem}" \
  "h3{font-size:1rem;margin:1rem 0 0.25rem;overflow-wrap:anywhere}"                  \
  "svg{display:block;width:100%;max-width:34rem;height:auto}figure{margin:0}"        \
  ".scroll{overflow-x:auto}"                                                         \
  "table{border-collapse:collapse;font-size:0.9rem}"                                 \
  "th,td{padding:0.25rem 0.5rem;border-bottom:1px solid #e0e0e0;text-align:left;"    \
  "white-space:nowrap}"                                                              \
  "td.number{text-align:right;font-variant-numeric:tabular-nums}"                    \
  "pre{overflow-x:auto;background:#f5f5f5;padding:0.5rem}"

#endif
