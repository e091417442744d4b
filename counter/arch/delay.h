// step_delay, the same on every platform: `spins` empty iterations between
// two of counter_step's reads, which the compiler may not remove.  Each
// platform's header includes it; a test build's header defines its own.
#ifndef CYCLEKIT_ARCH_DELAY_H
#define CYCLEKIT_ARCH_DELAY_H

static inline void step_delay(int spins) {
  for (int k = 0; k < spins; k++)
    __asm__ volatile("");
}

#endif
