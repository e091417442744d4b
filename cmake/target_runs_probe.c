/* Run at configure time to learn whether this host runs the target's
 * programs; an exit status of 42 says it does. */
int main(void) { return 42; }
