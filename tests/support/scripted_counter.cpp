// The counter functions by name, for code that calls the counter from
// outside its module.  A new counter function is one more pair of lines.

#include "scripted.h"

extern "C" {

void start_counter(void) { scripted::note('S'); }
double get_counter(void) {
  scripted::note('R');
  return scripted::next_count();
}

void start_comp_counter(void) { scripted::note('s'); }
double get_comp_counter(void) {
  scripted::note('r');
  return scripted::next_count();
}

}  // extern "C"
