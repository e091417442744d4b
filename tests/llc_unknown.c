/* Linked with -Wl,--wrap=bestof_llc_bytes: a machine whose last-level
 * cache's size is unknown. */
int __wrap_bestof_llc_bytes(void);
int __wrap_bestof_llc_bytes(void) { return 0; }
