// Registering the suite's names: one at a time, a family of one function
// over integer arguments, and what a name is given besides (its own
// settings, its throughput).

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "suite_internal.h"

using namespace suite_internal;

void suite_internal::misuse(const char *what, const char *why, const char *name) {
  fprintf(stderr, "Fatal error.  %s: %s%s%s\n", what, why, name ? ": " : "", name ? name : "");
  exit(1);
}

struct suite_entry *suite_internal::add_entry(struct cyclekit_suite *s, const char *name,
                                              bestof_test_fn f, int arg) {
  if (!s || !name || !f)
    misuse("cyclekit_suite_run", "a null suite, name or function", NULL);
  if (!*name)
    misuse("cyclekit_suite_run", "an empty name", NULL);
  for (int i = 0; i < s->count; i++)
    if (strcmp(s->entries[i].name, name) == 0)
      misuse("cyclekit_suite_run", "a name registered twice", name);
  if (s->count == s->capacity) {
    int capacity = s->capacity ? 2 * s->capacity : 16;
    void *grown = realloc(s->entries, (size_t)capacity * sizeof s->entries[0]);
    if (!grown)
      out_of_memory();
    s->entries = (struct suite_entry *)grown;
    s->capacity = capacity;
  }
  struct suite_entry *e = &s->entries[s->count++];
  memset(e, 0, sizeof *e);
  e->name = copy_string(name);
  e->f = f;
  e->arg = arg;
  e->size = arg;
  e->selected = !s->has_filter || regexec(&s->filter, name, 0, NULL, 0) == 0;
  return e;
}

void cyclekit_suite_run_setup(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg,
                              void (*setup)(const void *context), const void *context) {
  struct suite_entry *e = add_entry(s, name, f, arg);
  e->setup = setup;
  e->context = context;
}

void cyclekit_suite_run(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg) {
  add_entry(s, name, f, arg);
}

void cyclekit_suite_run_each(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg,
                             void (*setup)(const void *context),
                             void (*teardown)(const void *context), const void *context) {
  struct suite_entry *e = add_entry(s, name, f, arg);
  e->run_setup = setup;
  e->run_teardown = teardown;
  e->context = context;
}

// ---- Families: one function over integer arguments -----------------------------

// "name/arg": the name's room is the name's length and an int's digits.
static void add_member(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg,
                       void (*setup)(const void *context), const void *context) {
  if (!s || !name)
    misuse("cyclekit_suite_run", "a null suite, name or function", NULL);
  size_t room = strlen(name) + sizeof "/-2147483648";
  char *member = (char *)suite_alloc(room);
  snprintf(member, room, "%s/%d", name, arg);
  struct suite_entry *e = add_entry(s, member, f, arg);
  e->setup = setup;
  e->context = context;
  free(member);
}

void cyclekit_suite_run_args_setup(struct cyclekit_suite *s, const char *name, bestof_test_fn f,
                                   const int *args, int count, void (*setup)(const void *context),
                                   const void *context) {
  if (count < 0 || (count > 0 && !args))
    misuse("cyclekit_suite_run_args", "a negative count or null arguments", name);
  for (int i = 0; i < count; i++)
    add_member(s, name, f, args[i], setup, context);
}

void cyclekit_suite_run_args(struct cyclekit_suite *s, const char *name, bestof_test_fn f,
                             const int *args, int count) {
  cyclekit_suite_run_args_setup(s, name, f, args, count, NULL, NULL);
}

void cyclekit_suite_run_range_setup(struct cyclekit_suite *s, const char *name, bestof_test_fn f,
                                    int lo, int hi, int multiplier,
                                    void (*setup)(const void *context), const void *context) {
  if (lo < 0 || hi < lo || multiplier < 2)
    misuse("cyclekit_suite_run_range", "not 0 <= lo <= hi with a multiplier of 2 or more", name);
  long long v = lo;
  for (; v < hi; v = v ? v * multiplier : 1)
    add_member(s, name, f, (int)v, setup, context);
  add_member(s, name, f, hi, setup, context);
}

void cyclekit_suite_run_range(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int lo,
                              int hi, int multiplier) {
  cyclekit_suite_run_range_setup(s, name, f, lo, hi, multiplier, NULL, NULL);
}

// ---- What a name is given besides ------------------------------------------------

// name itself, or a name of its family: name, "/", an argument.
static int in_family(const char *entry, const char *name) {
  size_t n = strlen(name);
  return strncmp(entry, name, n) == 0 && (entry[n] == '\0' || entry[n] == '/');
}

// Calls give(entry, data) for name and its family; fatal when none is
// registered, since a misspelt name would otherwise quietly keep the
// suite's settings.
static void for_family(struct cyclekit_suite *s, const char *what, const char *name,
                       void (*give)(struct suite_entry *e, const void *data), const void *data) {
  if (!s || !name)
    misuse(what, "a null suite or name", NULL);
  int found = 0;
  for (int i = 0; i < s->count; i++)
    if (in_family(s->entries[i].name, name)) {
      give(&s->entries[i], data);
      found = 1;
    }
  if (!found)
    misuse(what, "no name registered as", name);
}

static void give_settings(struct suite_entry *e, const void *data) {
  e->has_settings = data != NULL;
  if (data)
    e->settings = *(const struct bestof_settings *)data;
}

void cyclekit_suite_set(struct cyclekit_suite *s, const char *name,
                        const struct bestof_settings *settings) {
  for_family(s, "cyclekit_suite_set", name, give_settings, settings);
}

// Per call, or per call and unit of the argument.
struct throughput {
  double bytes, items;
  int per_arg;
};

static void give_throughput(struct suite_entry *e, const void *data) {
  const struct throughput *t = (const struct throughput *)data;
  e->bytes = t->per_arg ? t->bytes * e->size : t->bytes;
  e->items = t->per_arg ? t->items * e->size : t->items;
}

static void set_throughput(struct cyclekit_suite *s, const char *what, const char *name,
                           const struct throughput *t) {
  // Also false for NaN.
  if (!(t->bytes >= 0 && t->items >= 0 && t->bytes < HUGE_VAL && t->items < HUGE_VAL))
    misuse(what, "bytes and items must be finite and not negative", name);
  for_family(s, what, name, give_throughput, t);
}

struct counter {
  const char *label;
  double per_call;
};

// A label given again replaces its figure.
static void give_counter(struct suite_entry *e, const void *data) {
  const struct counter *c = (const struct counter *)data;
  int i = 0;
  while (i < e->n_counters && strcmp(e->counters[i].label, c->label) != 0)
    i++;
  if (i == SUITE_COUNTERS)
    misuse("cyclekit_suite_counter", "more than 4 counters for", e->name);
  if (i == e->n_counters)
    e->counters[e->n_counters++].label = copy_string(c->label);
  e->counters[i].per_call = c->per_call;
}

void cyclekit_suite_counter(struct cyclekit_suite *s, const char *name, const char *label,
                            double per_call) {
  if (!label || !*label)
    misuse("cyclekit_suite_counter", "a null or empty label for", name);
  if (!(per_call >= 0 && per_call < HUGE_VAL))
    misuse("cyclekit_suite_counter", "a count must be finite and not negative", name);
  struct counter c = {label, per_call};
  for_family(s, "cyclekit_suite_counter", name, give_counter, &c);
}

void cyclekit_suite_throughput(struct cyclekit_suite *s, const char *name, double bytes,
                               double items) {
  struct throughput t = {bytes, items, 0};
  set_throughput(s, "cyclekit_suite_throughput", name, &t);
}

void cyclekit_suite_throughput_per_arg(struct cyclekit_suite *s, const char *name, double bytes,
                                       double items) {
  struct throughput t = {bytes, items, 1};
  set_throughput(s, "cyclekit_suite_throughput_per_arg", name, &t);
}
