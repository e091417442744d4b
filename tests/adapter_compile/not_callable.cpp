// Compiled, never run: each NOT_CALLABLE case must stop the build with the
// adapter's own static_assert message.
#include <cyclekit/bestof.hpp>

void takes_an_int(int) {}

double measure() {
#if NOT_CALLABLE == 1
  int not_a_function = 0;
  return cyclekit::bestof(not_a_function);
#elif NOT_CALLABLE == 2
  return cyclekit::bestof([](int n) { (void)n; });
#elif NOT_CALLABLE == 3
  return cyclekit::bestof(takes_an_int);
#else
  return cyclekit::bestof([] {});  // the control: this one compiles
#endif
}
