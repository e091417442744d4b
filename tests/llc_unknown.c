/* Linked with -Wl,--wrap=bestof_llc_bytes: a machine whose last-level
 * cache's size is unknown.  The compensated pair is wrapped to the plain one
 * too, so the demo's last measurement skips its calibration (seconds of
 * busy-polling that this test has no use for). */
void start_counter(void);
double get_counter(void);

int __wrap_bestof_llc_bytes(void);
int __wrap_bestof_llc_bytes(void) { return 0; }

void __wrap_start_comp_counter(void);
void __wrap_start_comp_counter(void) { start_counter(); }
double __wrap_get_comp_counter(void);
double __wrap_get_comp_counter(void) { return get_counter(); }
