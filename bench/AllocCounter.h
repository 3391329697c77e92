// AllocCounter.h - counts the heap allocations of a benchmark binary.
//
// AllocCounter.cpp replaces the global operator new and delete of the
// program, so allocations inside the shared libraries are counted too.
// Only allocations through operator new are seen, not malloc.
#ifndef EN_BENCH_ALLOCCOUNTER_H
#define EN_BENCH_ALLOCCOUNTER_H

#include <cstddef>
#include <functional>

#include <benchmark/benchmark.h>

namespace benchalloc {

size_t Allocations();   // operator new calls so far
size_t LiveBytes();     // bytes currently held
size_t PeakBytes();     // highest LiveBytes since the last ResetPeak
void ResetPeak();

// Runs `once` a single time outside the timed loop and reports its
// allocations and the peak of its heap use above what was live before.
inline void ReportMemory(benchmark::State& state, const std::function<void()>& once) {
    ResetPeak();
    const size_t allocations = Allocations();
    const size_t live = LiveBytes();
    once();
    state.counters["allocs"] = static_cast<double>(Allocations() - allocations);
    state.counters["peak_bytes"] = static_cast<double>(PeakBytes() - live);
}

}  // namespace benchalloc

#endif  // EN_BENCH_ALLOCCOUNTER_H
