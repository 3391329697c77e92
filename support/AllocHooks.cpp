// Replaced allocation functions (AllocHooks.h).
#include "AllocHooks.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace allochooks {

namespace {

std::atomic<long> g_countdown{0};  // 0: disarmed
std::atomic<bool> g_sticky{false};
std::atomic<bool> g_fired{false};
std::atomic<long> g_live{0};
std::atomic<bool> g_liveOn{true};

std::atomic<bool> g_counting{false};
std::atomic<size_t> g_allocations{0};
std::atomic<long long> g_bytes{0};  // change of the heap in use since StartCounting
std::atomic<long long> g_peak{0};

bool ShouldFail() {
    const long n = g_countdown.load(std::memory_order_relaxed);
    if (n == 0) return false;
    if (n == 1) {
        g_fired.store(true, std::memory_order_relaxed);
        if (!g_sticky.load(std::memory_order_relaxed)) g_countdown.store(0, std::memory_order_relaxed);
        return true;
    }
    g_countdown.store(n - 1, std::memory_order_relaxed);
    return false;
}

long long UsableSize(void* p) { return static_cast<long long>(malloc_usable_size(p)); }

void Grow(long long bytes) {
    const long long now = g_bytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    long long peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

// A new block (or null).
void* Allocated(void* p) {
    if (p == nullptr) return p;
    if (g_liveOn.load(std::memory_order_relaxed)) g_live.fetch_add(1, std::memory_order_relaxed);
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
        Grow(UsableSize(p));
    }
    return p;
}

void Release(void* p) {
    if (p == nullptr) return;
    if (g_liveOn.load(std::memory_order_relaxed)) g_live.fetch_sub(1, std::memory_order_relaxed);
    if (g_counting.load(std::memory_order_relaxed)) g_bytes.fetch_sub(UsableSize(p), std::memory_order_relaxed);
    __libc_free(p);
}

void* Aligned(size_t alignment, size_t n) { return ShouldFail() ? nullptr : Allocated(__libc_memalign(alignment, n)); }

}  // namespace

void Arm(long n, bool bSticky) {
    g_fired.store(false);
    g_sticky.store(bSticky);
    g_countdown.store(n < 1 ? 1 : n);
}

bool Disarm() {
    g_countdown.store(0);
    return g_fired.exchange(false);
}

long Live() { return g_live.load(); }

void CountLiveBlocks(bool bOn) { g_liveOn.store(bOn); }

void StartCounting() {
    g_allocations.store(0);
    g_bytes.store(0);
    g_peak.store(0);
    g_counting.store(true);
}

Usage StopCounting() {
    g_counting.store(false);
    return Usage{g_allocations.load(), g_peak.load()};
}

}  // namespace allochooks

using namespace allochooks;

extern "C" {

void* malloc(size_t n) { return ShouldFail() ? nullptr : Allocated(__libc_malloc(n)); }

void* calloc(size_t count, size_t size) { return ShouldFail() ? nullptr : Allocated(__libc_calloc(count, size)); }

void free(void* p) { Release(p); }

// The block stays counted once.
void* realloc(void* p, size_t n) {
    if (p == nullptr) return malloc(n);
    if (n == 0) {
        Release(p);
        return nullptr;
    }
    if (ShouldFail()) return nullptr;
    const bool counting = g_counting.load(std::memory_order_relaxed);
    const long long before = counting ? UsableSize(p) : 0;
    void* q = __libc_realloc(p, n);
    if (q != nullptr && counting) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
        Grow(UsableSize(q) - before);
    }
    return q;
}

void* memalign(size_t alignment, size_t n) { return Aligned(alignment, n); }
void* aligned_alloc(size_t alignment, size_t n) { return Aligned(alignment, n); }
void* valloc(size_t n) { return Aligned(4096, n); }

int posix_memalign(void** out, size_t alignment, size_t n) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = Aligned(alignment, n);
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}

}  // extern "C"

// The global operators new and delete of the C++ library allocate with
// malloc, aligned_alloc and free, so they come here too.
