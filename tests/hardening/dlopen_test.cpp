// A host may load the libraries with dlopen, validate on any thread while
// memory is exhausted, and dlclose them while threads that validated still
// run.  Per-thread data that the C library allocates lazily, and cannot
// fail to allocate gracefully, would end the process under exhaustion
// (glibc aborts when it cannot allocate a dlopen'ed library's dynamic
// thread-local storage); per-thread memory whose destructor lies in an
// unmapped library would crash it when the thread ends.
//
//   en_dlopen_test BLOB LIBEN_UTILITY LIBEN_VALIDATION
//
// 1. Loads both libraries and validates once on the main thread.
// 2. On a thread started before the load and on one started after it,
//    validates BLOB as every kind (src/MessageKindList.h) and as a log type
//    without grammar with every allocation failing: the thread's first
//    call, and each kind's first call (its grammar is built then).  Each
//    call must leave 100 "Unknown error" or the correct record, the one the
//    main thread gets afterwards.
// 3. Four threads validate every kind and wait; both libraries are
//    dlclosed; then the threads end, running the destructors of their
//    per-thread memory (the libraries stay mapped: -z nodelete).
//
// Sanitizers replace the allocator, so their builds have no failing one
// (EN_FAILING_ALLOCATOR unset): there step 2 runs with allocations
// succeeding and must give the correct records.  Exit code 0 on success.
#include <dlfcn.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "En_Msg.h"
#include "En_Validation.h"
#include "MessageKindList.h"
#ifdef EN_FAILING_ALLOCATOR
#include "AllocHooks.h"
constexpr bool kFailing = true;
#else
constexpr bool kFailing = false;
#endif

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "en_dlopen_test: %s\n", what.c_str());
    std::exit(2);
}

template <class Fn>
Fn Symbol(void* lib, const char* name) {
    void* p = dlsym(lib, name);
    if (p == nullptr) Fail(std::string("no symbol ") + name);
    return reinterpret_cast<Fn>(p);
}

void* Open(const char* path) {
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) Fail(std::string("dlopen: ") + dlerror());
    return lib;
}

struct Library {
    void (*log)(void*, x_int32, EN_VALIDATE_RESULT*) = nullptr;
    void (*reg)(void*, EN_VALIDATE_RESULT*) = nullptr;
    void* h = nullptr;  // the message
    std::vector<std::pair<bool, x_int32>> kinds;  // every kind, then a log type without grammar

    // The message validated as every kind, into records of kinds.size().
    void ValidateAll(EN_VALIDATE_RESULT* records) const {
        for (size_t i = 0; i < kinds.size(); ++i) {
            if (kinds[i].first) log(h, kinds[i].second, &records[i]);
            else reg(h, &records[i]);
        }
    }
    std::vector<EN_VALIDATE_RESULT> ValidateAll() const {
        std::vector<EN_VALIDATE_RESULT> records(kinds.size());
        ValidateAll(records.data());
        return records;
    }
};

// One thread's calls, with every allocation failing.
struct Round {
    const char* szThread;
    std::vector<EN_VALIDATE_RESULT> records;
    bool bFailed = false;  // an allocation was made to fail

    void Run(const Library& lib) {
        records.resize(lib.kinds.size());
#ifdef EN_FAILING_ALLOCATOR
        allochooks::Arm(1, true);
#endif
        lib.ValidateAll(records.data());
#ifdef EN_FAILING_ALLOCATOR
        bFailed = allochooks::Disarm();
#endif
    }
};

bool Same(const EN_VALIDATE_RESULT& a, const EN_VALIDATE_RESULT& b) {
    return a.nCode == b.nCode && std::strcmp(a.szMessage, b.szMessage) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s BLOB LIBEN_UTILITY LIBEN_VALIDATION\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string blob((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    Round rounds[] = {{"a thread started before the load", {}}, {"a thread started after the load", {}}};
    Library lib;
    std::mutex mutex;
    std::condition_variable changed;
    bool bLoaded = false;
    std::thread early([&] {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return bLoaded; });
        lock.unlock();
        rounds[0].Run(lib);
    });

    void* utility = Open(argv[2]);
    void* validation = Open(argv[3]);
    lib.h = Symbol<void* (*)()>(utility, "En_Msg_Create")();
    if (lib.h == nullptr ||
        Symbol<int (*)(void*, const void*, size_t)>(utility, "En_Msg_Load")(lib.h, blob.data(), blob.size()) != EN_MSG_OK)
        Fail("cannot load the message");
    for (const grammar::MessageKind& kind : grammar::kMessageKinds) lib.kinds.emplace_back(kind.bLog, kind.MsgType());
    lib.kinds.emplace_back(true, 1502);
    lib.log = Symbol<decltype(lib.log)>(validation, "En_Validate_Log");
    lib.reg = Symbol<decltype(lib.reg)>(validation, "En_Validate_RegisterData");
    EN_VALIDATE_RESULT r;
    lib.reg(lib.h, &r);

    std::thread([&] { rounds[1].Run(lib); }).join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        bLoaded = true;
    }
    changed.notify_all();
    early.join();

    int problems = 0, unknown = 0;
    const std::vector<EN_VALIDATE_RESULT> want = lib.ValidateAll();
    size_t grammars = 0;
    for (const EN_VALIDATE_RESULT& w : want) grammars += w.nCode != EN_VALIDATE_UNKNOWN_MSGTYPE;
    if (grammars != grammar::kMessageKindCount) {
        std::fprintf(stderr, "%zu kinds with a grammar, want %zu\n", grammars, grammar::kMessageKindCount);
        ++problems;
    }
    for (const Round& round : rounds) {
        if (kFailing && !round.bFailed) {
            std::fprintf(stderr, "no allocation failed on %s\n", round.szThread);
            ++problems;
        }
        for (size_t i = 0; i < want.size(); ++i) {
            const EN_VALIDATE_RESULT& got = round.records[i];
            const bool bUnknown = got.nCode == EN_VALIDATE_UNKNOWN_ERROR && std::strcmp(got.szMessage, "Unknown error") == 0;
            unknown += bUnknown;
            if ((kFailing && bUnknown) || Same(got, want[i])) continue;
            std::fprintf(stderr, "%s, kind %zu: got %d '%s', want %d '%s'\n", round.szThread, i, got.nCode,
                         got.szMessage, want[i].nCode, want[i].szMessage);
            ++problems;
        }
    }

    // Unload while threads that validated still run.
    int validated = 0;
    bool bClosed = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            const std::vector<EN_VALIDATE_RESULT> got = lib.ValidateAll();
            const bool bSame = std::equal(got.begin(), got.end(), want.begin(), Same);
            std::unique_lock<std::mutex> lock(mutex);
            problems += !bSame;
            ++validated;
            changed.notify_all();
            changed.wait(lock, [&] { return bClosed; });
        });  // the thread's memory is released here, after dlclose
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return validated == 4; });
    }
    Symbol<void (*)(void*)>(utility, "En_Msg_Destroy")(lib.h);
    if (dlclose(validation) != 0 || dlclose(utility) != 0) Fail(std::string("dlclose: ") + dlerror());
    {
        std::lock_guard<std::mutex> lock(mutex);
        bClosed = true;
    }
    changed.notify_all();
    for (std::thread& t : threads) t.join();

    std::printf("%zu message types on 2 threads%s: %d calls gave 100 \"Unknown error\"; unloaded under 4 threads; "
                "%d problems\n", want.size(), kFailing ? ", every allocation failing" : "", unknown, problems);
    return problems == 0 ? 0 : 1;
}
