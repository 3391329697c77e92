// Replaced allocation functions of the benchmark programs (glibc only):
// malloc and its relatives forward to glibc's own entry points, operator
// new and delete go through them, and while counting is on every
// allocation is counted and its usable size added to the heap in use.
#include "AllocCounter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <new>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<size_t> g_allocations{0};
std::atomic<long long> g_live{0};  // change of the heap in use since Start
std::atomic<long long> g_peak{0};

long long UsableSize(void* p) { return static_cast<long long>(malloc_usable_size(p)); }

void Grow(long long bytes) {
    const long long live = g_live.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    long long peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

inline void* Allocated(void* p) {
    if (p != nullptr && g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
        Grow(UsableSize(p));
    }
    return p;
}

inline void Released(void* p) {
    if (p != nullptr && g_counting.load(std::memory_order_relaxed))
        g_live.fetch_sub(UsableSize(p), std::memory_order_relaxed);
}

void* NewOrNull(size_t size) { return malloc(size == 0 ? 1 : size); }

void* AlignedNewOrNull(size_t size, std::align_val_t alignment) {
    return aligned_alloc(static_cast<size_t>(alignment), size == 0 ? 1 : size);
}

}  // namespace

namespace benchalloc {

void Start() {
    g_allocations.store(0);
    g_live.store(0);
    g_peak.store(0);
    g_counting.store(true);
}

Usage Stop() {
    g_counting.store(false);
    return Usage{g_allocations.load(), g_peak.load()};
}

}  // namespace benchalloc

extern "C" {

void* malloc(size_t size) noexcept { return Allocated(__libc_malloc(size)); }

void* calloc(size_t count, size_t size) noexcept { return Allocated(__libc_calloc(count, size)); }

void* realloc(void* p, size_t size) noexcept {
    const long long before = (p != nullptr && g_counting.load(std::memory_order_relaxed)) ? UsableSize(p) : 0;
    void* q = __libc_realloc(p, size);
    if (g_counting.load(std::memory_order_relaxed)) {
        if (q != nullptr) {
            g_allocations.fetch_add(1, std::memory_order_relaxed);
            Grow(UsableSize(q) - before);
        } else if (size == 0) {  // realloc(p, 0) freed p
            g_live.fetch_sub(before, std::memory_order_relaxed);
        }
    }
    return q;
}

void free(void* p) noexcept {
    Released(p);
    __libc_free(p);
}

void* memalign(size_t alignment, size_t size) noexcept { return Allocated(__libc_memalign(alignment, size)); }

void* aligned_alloc(size_t alignment, size_t size) noexcept { return Allocated(__libc_memalign(alignment, size)); }

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = Allocated(__libc_memalign(alignment, size));
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}

void* valloc(size_t size) noexcept { return Allocated(__libc_memalign(4096, size)); }

}  // extern "C"

void* operator new(size_t size) {
    if (void* p = NewOrNull(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return NewOrNull(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return NewOrNull(size); }
void* operator new(size_t size, std::align_val_t alignment) {
    if (void* p = AlignedNewOrNull(size, alignment)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AlignedNewOrNull(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AlignedNewOrNull(size, alignment);
}
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete(void* p, std::align_val_t) noexcept { free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { free(p); }
