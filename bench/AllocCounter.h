// AllocCounter.h - counts the heap allocations of a benchmark binary.
//
// AllocCounter.cpp replaces malloc, calloc, realloc, free and the aligned
// allocators (forwarding to glibc's __libc_* entry points) as well as the
// global operator new and delete, which allocate through that malloc.  The
// dynamic linker binds every shared library's calls to the program's
// definitions, so allocations inside libEn_Validation, the utility library,
// libstdc++ and libprotobuf are all seen; each one is counted once.
//
// Counting is off except inside Measure, so the timed loops pay one
// predictable branch per allocation and nothing else.
#ifndef EN_BENCH_ALLOCCOUNTER_H
#define EN_BENCH_ALLOCCOUNTER_H

#include <cstddef>

#include <benchmark/benchmark.h>

namespace benchalloc {

struct Usage {
    size_t allocations;  // malloc, calloc, realloc, aligned and operator new calls
    long long peakBytes;  // highest heap use above what was live at the start (usable sizes)
};

void Start();
Usage Stop();

// Runs `once` a single time with counting on.
template <class F>
Usage Measure(F&& once) {
    Start();
    once();
    return Stop();
}

// Runs `once` a single time outside the timed loop and reports its
// allocations ("allocs") and peak heap use ("peak_bytes") as counters.
template <class F>
void ReportMemory(benchmark::State& state, F&& once) {
    const Usage u = Measure(once);
    state.counters["allocs"] = static_cast<double>(u.allocations);
    state.counters["peak_bytes"] = static_cast<double>(u.peakBytes);
}

}  // namespace benchalloc

#endif  // EN_BENCH_ALLOCCOUNTER_H
