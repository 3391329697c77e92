// AllocHooks.h - allocation failure injection for a test program.
//
// Linking AllocHooks.cpp into a program replaces malloc, calloc, realloc,
// the aligned allocators and free (for the libraries it loads too, and so
// for every global operator new and delete).  They count the blocks alive and, when
// armed, make one allocation fail: the n-th one from arming on, or (bSticky)
// that one and every later one.  Not for sanitizer or valgrind runs, which
// replace the allocator themselves.
#ifndef EN_HARDENING_ALLOCHOOKS_H
#define EN_HARDENING_ALLOCHOOKS_H

namespace allochooks {

// Fails the n-th allocation from now on (n >= 1).
void Arm(long n, bool bSticky = false);
// Stops failing; true if a failure was injected since Arm.
bool Disarm();
// Blocks allocated and not yet freed.
long Live();

}  // namespace allochooks

#endif  // EN_HARDENING_ALLOCHOOKS_H
