// The lock that measurements and setters take turns at: first come, first
// served, so a thread that measures in a loop cannot take it back ahead of
// one that was already waiting.

#ifndef CYCLEKIT_TURNS_H
#define CYCLEKIT_TURNS_H

namespace bestof_internal {

// Waits until every thread that asked before this one has had its turn and
// given it back, then holds it.  Not re-entrant: a thread that holds the
// turn and asks again waits for itself.
void take_turn(void);
// Lets the next thread in line have its turn.
void give_turn(void);
// In the child of fork, which has only the forking thread: the turn is
// free, or held by the forking thread if held_here, and nobody else is in
// line.
void turns_after_fork(int held_here);

}  // namespace bestof_internal

#endif
