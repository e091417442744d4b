// Families over several named arguments: each member's values kept beside
// its entry, and the driver bound to them before each of its answers.

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "params.h"
#include "suite_internal.h"

using namespace suite_internal;

// What a member's answers call: its function, context and values, which
// follow the record in the same block.
struct params_member {
  cyclekit_suite_params_fn f;
  const void *context;
  const int64_t *values;
};

// The member the driver is bound to.  Three loads of their own, none
// waiting for another, before the jump into f: the suite is for one
// thread at a time, as the driver is.
static cyclekit_suite_params_fn bound_f;
static const int64_t *bound_values;
static const void *bound_context;

static void bind_member(const void *member) {
  const struct params_member *m = (const struct params_member *)member;
  bound_f = m->f;
  bound_values = m->values;
  bound_context = m->context;
}

// The driver's function of every member; its argument is unused.
static void call_bound(int) { bound_f(bound_values, bound_context); }

static void add_params_member(struct cyclekit_suite *s, const char *name,
                              cyclekit_suite_params_fn f, const void *context, int nargs,
                              const char *const *arg_names, const int64_t *values) {
  size_t length = cyclekit_params_name(NULL, 0, name, nargs, arg_names, values);
  char *member_name = (char *)suite_alloc(length + 1);
  cyclekit_params_name(member_name, length + 1, name, nargs, arg_names, values);
  struct params_member *m =
      (struct params_member *)suite_alloc(sizeof *m + (size_t)nargs * sizeof values[0]);
  int64_t *kept = (int64_t *)(m + 1);
  memcpy(kept, values, (size_t)nargs * sizeof values[0]);
  *m = {f, context, kept};
  struct suite_entry *e = add_entry(s, member_name, call_bound, 0);
  free(member_name);
  e->size = (double)values[0];
  e->setup = bind_member;
  e->context = m;
  e->owned = m;
}

static void check_family(const char *what, struct cyclekit_suite *s, const char *name,
                         cyclekit_suite_params_fn f, int nargs) {
  if (!s || !name || !f)
    misuse(what, "a null suite, name or function", NULL);
  if (nargs < 1)
    misuse(what, "fewer than one argument", name);
}

extern "C" void cyclekit_suite_run_params(struct cyclekit_suite *s, const char *name,
                                          cyclekit_suite_params_fn f, const void *context,
                                          int nargs, const char *const *arg_names,
                                          const int64_t *values, int count) {
  check_family("cyclekit_suite_run_params", s, name, f, nargs);
  if (count < 0 || (count > 0 && !values))
    misuse("cyclekit_suite_run_params", "a negative count or null values", name);
  for (int i = 0; i < count; i++)
    add_params_member(s, name, f, context, nargs, arg_names, values + (size_t)i * nargs);
}

extern "C" void cyclekit_suite_run_product(struct cyclekit_suite *s, const char *name,
                                           cyclekit_suite_params_fn f, const void *context,
                                           int nargs, const char *const *arg_names,
                                           const int64_t *const *lists, const int *lengths) {
  check_family("cyclekit_suite_run_product", s, name, f, nargs);
  int64_t total = cyclekit_params_product(nargs, lists, lengths, -1, NULL);
  if (total < 0 || total > INT_MAX)
    misuse("cyclekit_suite_run_product", "null or negative lists, or more than INT_MAX members",
           name);
  int64_t *tuple = (int64_t *)suite_alloc((size_t)nargs * sizeof *tuple);
  for (int64_t k = 0; k < total; k++) {
    cyclekit_params_product(nargs, lists, lengths, k, tuple);
    add_params_member(s, name, f, context, nargs, arg_names, tuple);
  }
  free(tuple);
}
