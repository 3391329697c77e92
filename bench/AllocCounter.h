// AllocCounter.h - heap allocations of a benchmark, as counters.
//
// The benchmark programs link the allocation hooks (support/AllocHooks.h),
// which see every allocation of the program and of the libraries it loads
// (libEn_Validation, the utility library, libstdc++, libprotobuf).  Counting
// is off except inside allochooks::Measure, so the timed loops pay one
// predictable branch per allocation and nothing else; the count of live
// blocks, which the benchmarks do not read, is turned off for the same reason.
#ifndef EN_BENCH_ALLOCCOUNTER_H
#define EN_BENCH_ALLOCCOUNTER_H

#include <benchmark/benchmark.h>

#include "AllocHooks.h"

namespace benchalloc {

inline const bool kLiveBlocksUncounted = (allochooks::CountLiveBlocks(false), true);

// Runs `once` a single time outside the timed loop and reports its
// allocations ("allocs") and peak heap use ("peak_bytes") as counters.
template <class F>
void ReportMemory(benchmark::State& state, F&& once) {
    const allochooks::Usage u = allochooks::Measure(once);
    state.counters["allocs"] = static_cast<double>(u.allocations);
    state.counters["peak_bytes"] = static_cast<double>(u.peakBytes);
}

}  // namespace benchalloc

#endif  // EN_BENCH_ALLOCCOUNTER_H
