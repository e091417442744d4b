/* The parent project's own `clock` library, unrelated to cyclekit's. */
int parent_clock_ticks(void) { return 42; }
