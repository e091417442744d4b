// Settings given with one call (bestof_with): checked by the setters' own
// rules, a refused field replaced by its default and said on the verbose
// stream, so that a caller with a wrong value learns of it where it looks.

#include <stddef.h>

#include "internal.h"

namespace bestof_internal {

// Every field of the settings by name, where it lies and its type.
struct field {
  const char *name;
  size_t offset;
  int is_double;
};

#define CYCLEKIT_FIELD(name, is_double) \
  { #name, offsetof(struct bestof_settings, name), is_double }

static const struct field fields[] = {
    CYCLEKIT_FIELD(k, 0),
    CYCLEKIT_FIELD(maxsamples, 0),
    CYCLEKIT_FIELD(epsilon, 1),
    CYCLEKIT_FIELD(compensate, 0),
    CYCLEKIT_FIELD(clear_cache, 0),
    CYCLEKIT_FIELD(cache_size, 0),
    CYCLEKIT_FIELD(cache_block, 0),
    CYCLEKIT_FIELD(fence, 0),
    CYCLEKIT_FIELD(core_cycles, 0),
    CYCLEKIT_FIELD(batch, 0),
    CYCLEKIT_FIELD(verbose, 0),
    CYCLEKIT_FIELD(json, 0),
    CYCLEKIT_FIELD(net, 0),
    CYCLEKIT_FIELD(precise, 0),
    CYCLEKIT_FIELD(compare_pairs, 0),
    CYCLEKIT_FIELD(compare_margin, 1),
    CYCLEKIT_FIELD(cpe_sizes, 0),
    CYCLEKIT_FIELD(compare_net, 0),
};

#undef CYCLEKIT_FIELD

static double value_of(const struct bestof_settings *s, const struct field *f) {
  const char *p = (const char *)s + f->offset;
  return f->is_double ? *(const double *)p : *(const int *)p;
}

static void say_refused(const struct settings *s, const struct field *f, double asked,
                        double used) {
  FILE *out = line_stream(s);
  if (s->s.json) {
    json_begin(out, "refused");
    json_string(out, "setting", f->name);
    json_number(out, "asked", asked);
    json_number(out, "used", used);
    json_end(out);
  } else {
    fprintf(out, "bestof: %s %g refused, the default %g used\n", f->name, asked, used);
  }
}

// A setter that refuses a value keeps the one before it, here the default;
// one that accepts keeps the value asked (a flush block below one word
// becomes 4, never the default).  So a field is refused where the default
// stayed though another value was asked for; NaN differs from every value.
void apply_per_call(struct settings *into, const struct bestof_settings *in) {
  struct bestof_settings d;
  default_settings(&d);
  checked_settings(&into->s, in);
  if (!into->s.verbose)
    return;
  for (size_t i = 0; i < sizeof fields / sizeof fields[0]; i++) {
    const struct field *f = &fields[i];
    double asked = value_of(in, f), used = value_of(&into->s, f);
    if (used == value_of(&d, f) && asked != used)
      say_refused(into, f, asked, used);
  }
}

extern "C" FILE *get_bestof_verbose_stream(void) {
  struct settings s;
  copy_settings(&s);
  return line_stream(&s);
}

}  // namespace bestof_internal
