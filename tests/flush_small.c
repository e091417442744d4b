/* Linked with -Wl,--wrap=bestof_flush_bytes: a machine whose last-level
 * cache is 4 MiB.  Some virtual machines' kernels list one of hundreds of
 * MiB, and the example tables flush twice the cache before every flushed
 * run: minutes natively and far longer under an emulator, for a test of the
 * tables' form.  The flush size itself is tested on its own. */
int __wrap_bestof_flush_bytes(void);
int __wrap_bestof_flush_bytes(void) { return 8 << 20; }
