// AllocHooks.h - the allocation hooks of the test and benchmark programs.
//
// Linking AllocHooks.cpp into a program replaces malloc, calloc, realloc,
// free and the aligned allocators (forwarding to glibc's __libc_* entry
// points; glibc only), for the libraries it loads too, and so every global
// operator new and delete of the C++ library.  The hooks
//   - count the blocks alive (Live);
//   - count allocations and the peak heap use while counting is on
//     (StartCounting / StopCounting: the benchmarks' "allocs" and
//     "peak_bytes"); off, an allocation pays one predictable branch more;
//   - when armed, make one allocation fail: the n-th one from arming on,
//     or (bSticky) that one and every later one (allocation failure tests).
// Not for sanitizer or valgrind runs, which replace the allocator themselves.
#ifndef EN_SUPPORT_ALLOCHOOKS_H
#define EN_SUPPORT_ALLOCHOOKS_H

#include <cstddef>

namespace allochooks {

// Fails the n-th allocation from now on (n >= 1).
void Arm(long n, bool bSticky = false);
// Stops failing; true if a failure was injected since Arm.
bool Disarm();
// Blocks allocated and not yet freed (counted from the start, and while
// CountLiveBlocks has not turned counting off).
long Live();
void CountLiveBlocks(bool bOn);

struct Usage {
    size_t allocations;   // malloc, calloc, realloc and aligned calls (operator new included)
    long long peakBytes;  // highest heap use above what was live at the start (usable sizes)
};
void StartCounting();
Usage StopCounting();

// Runs `once` a single time with counting on.
template <class F>
Usage Measure(F&& once) {
    StartCounting();
    once();
    return StopCounting();
}

}  // namespace allochooks

#endif  // EN_SUPPORT_ALLOCHOOKS_H
