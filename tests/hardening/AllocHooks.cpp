#include "AllocHooks.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace allochooks {

namespace {

std::atomic<long> g_countdown{0};  // 0: disarmed
std::atomic<bool> g_sticky{false};
std::atomic<bool> g_fired{false};
std::atomic<long> g_live{0};

bool ShouldFail() {
    long n = g_countdown.load(std::memory_order_relaxed);
    if (n == 0) return false;
    if (n == 1) {
        g_fired.store(true, std::memory_order_relaxed);
        if (!g_sticky.load(std::memory_order_relaxed)) g_countdown.store(0, std::memory_order_relaxed);
        return true;
    }
    g_countdown.store(n - 1, std::memory_order_relaxed);
    return false;
}

void* Counted(void* p) {
    if (p != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void* Allocate(size_t n) { return ShouldFail() ? nullptr : Counted(__libc_malloc(n)); }

void* AllocateAligned(size_t alignment, size_t n) {
    return ShouldFail() ? nullptr : Counted(__libc_memalign(alignment, n));
}

void Release(void* p) {
    if (p == nullptr) return;
    g_live.fetch_sub(1, std::memory_order_relaxed);
    __libc_free(p);
}

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

}  // namespace allochooks

using allochooks::Allocate;
using allochooks::AllocateAligned;
using allochooks::Release;

extern "C" {

void* malloc(size_t n) { return Allocate(n); }
void free(void* p) { Release(p); }

void* calloc(size_t count, size_t size) {
    return allochooks::ShouldFail() ? nullptr : allochooks::Counted(__libc_calloc(count, size));
}

void* realloc(void* p, size_t n) {
    if (p == nullptr) return Allocate(n);
    if (n == 0) {
        Release(p);
        return nullptr;
    }
    if (allochooks::ShouldFail()) return nullptr;
    return __libc_realloc(p, n);  // the block stays counted once
}

void* memalign(size_t alignment, size_t n) { return AllocateAligned(alignment, n); }
void* aligned_alloc(size_t alignment, size_t n) { return AllocateAligned(alignment, n); }

int posix_memalign(void** out, size_t alignment, size_t n) {
    void* p = AllocateAligned(alignment, n);
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}

}  // extern "C"

// The global operators new and delete of the C++ library allocate with
// malloc, aligned_alloc and free, so they come here too.
