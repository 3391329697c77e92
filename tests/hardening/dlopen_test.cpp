// A host may load the libraries with dlopen and validate on any thread
// while memory is exhausted: every call then leaves 100 "Unknown error" or
// the correct record, and the process goes on.  Per-thread data that the C
// library allocates lazily, and cannot fail to allocate gracefully, would
// end the process here (glibc aborts when it cannot allocate the dynamic
// thread-local storage of a dlopen'ed library).
//
//   en_dlopen_test BLOB LIBEN_UTILITY LIBEN_VALIDATION
//
// Loads both libraries, validates once on the main thread, then on a
// thread started after the load and on one started before it validates the
// message in BLOB as every kind (src/MessageKindList.h) and as a log type
// without grammar, with every allocation failing: the thread's first call,
// and each kind's first call (its grammar is built then).  The correct record is the one the main
// thread gets afterwards, without failures.  Exit code 0 on success.
//
// Sanitizers replace the allocator, so their builds have no failing one
// (EN_FAILING_ALLOCATOR unset): there the same calls run with allocations
// succeeding and must give the correct record, without a sanitizer report.
#include <dlfcn.h>

#include <condition_variable>
#include <cstdint>
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
#endif

namespace {

#ifdef EN_FAILING_ALLOCATOR
constexpr bool kFailing = true;
#else
constexpr bool kFailing = false;
#endif

typedef void* (*CreateFn)();
typedef void (*DestroyFn)(void*);
typedef int (*LoadFn)(void*, const void*, size_t);
typedef void (*LogFn)(void*, x_int32, EN_VALIDATE_RESULT*);
typedef void (*RegisterFn)(void*, EN_VALIDATE_RESULT*);

struct Message {
    bool bLog;
    x_int32 nMsgType;
    void* h;
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "en_dlopen_test: %s\n", what.c_str());
    std::exit(2);
}

void* Symbol(void* lib, const char* name) {
    void* p = dlsym(lib, name);
    if (p == nullptr) Fail(std::string("no symbol ") + name);
    return p;
}

void* Open(const char* path) {
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) Fail(std::string("dlopen: ") + dlerror());
    return lib;
}

struct Library {
    LogFn log;
    RegisterFn reg;

    void Validate(const Message& m, EN_VALIDATE_RESULT& r) const {
        if (m.bLog) log(m.h, m.nMsgType, &r);
        else reg(m.h, &r);
    }
};

// The blob in a handle, as every kind and as a log type without grammar.
std::vector<Message> EveryKind(const std::string& blob, CreateFn create, LoadFn load) {
    void* h = create();
    if (h == nullptr || load(h, blob.data(), blob.size()) != EN_MSG_OK) Fail("cannot load the message");
    std::vector<Message> out;
    for (const grammar::MessageKind& kind : grammar::kMessageKinds) out.push_back({kind.bLog, kind.MsgType(), h});
    out.push_back({true, 1502, h});
    return out;
}

// One thread's calls, with every allocation failing.
struct Round {
    explicit Round(const char* sz) : szThread(sz) {}

    const char* szThread;
    std::vector<EN_VALIDATE_RESULT> records;
    bool bFailed = false;  // an allocation was made to fail

    void Run(const Library& lib, const std::vector<Message>& messages) {
        records.resize(messages.size());
#ifdef EN_FAILING_ALLOCATOR
        allochooks::Arm(1, true);
#endif
        for (size_t i = 0; i < messages.size(); ++i) lib.Validate(messages[i], records[i]);
#ifdef EN_FAILING_ALLOCATOR
        bFailed = allochooks::Disarm();
#endif
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s BLOB LIBEN_UTILITY LIBEN_VALIDATION\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string blob((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    Round rounds[] = {Round("a thread started before the load"), Round("a thread started after the load")};
    Library lib = {nullptr, nullptr};
    std::vector<Message> messages;
    std::mutex mutex;
    std::condition_variable loaded;
    bool bLoaded = false;
    std::thread early([&] {
        std::unique_lock<std::mutex> lock(mutex);
        loaded.wait(lock, [&] { return bLoaded; });
        lock.unlock();
        rounds[0].Run(lib, messages);
    });

    void* utility = Open(argv[2]);
    void* validation = Open(argv[3]);
    messages = EveryKind(blob, reinterpret_cast<CreateFn>(Symbol(utility, "En_Msg_Create")),
                               reinterpret_cast<LoadFn>(Symbol(utility, "En_Msg_Load")));
    lib.log = reinterpret_cast<LogFn>(Symbol(validation, "En_Validate_Log"));
    lib.reg = reinterpret_cast<RegisterFn>(Symbol(validation, "En_Validate_RegisterData"));
    EN_VALIDATE_RESULT r;
    lib.Validate(messages[0], r);

    std::thread([&] { rounds[1].Run(lib, messages); }).join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        bLoaded = true;
    }
    loaded.notify_all();
    early.join();

    int problems = 0, unknown = 0, grammars = 0;
    for (const Round& round : rounds) {
        if (kFailing && !round.bFailed) {
            std::fprintf(stderr, "no allocation failed on %s\n", round.szThread);
            ++problems;
        }
        for (size_t i = 0; i < messages.size(); ++i) {
            lib.Validate(messages[i], r);
            grammars += &round == rounds && r.nCode != EN_VALIDATE_UNKNOWN_MSGTYPE;
            const EN_VALIDATE_RESULT& got = round.records[i];
            const bool bUnknown = got.nCode == EN_VALIDATE_UNKNOWN_ERROR && std::strcmp(got.szMessage, "Unknown error") == 0;
            unknown += bUnknown;
            if ((kFailing && bUnknown) || (got.nCode == r.nCode && std::strcmp(got.szMessage, r.szMessage) == 0)) continue;
            std::fprintf(stderr, "%s, %s %d: got %d '%s', want %d '%s'\n", round.szThread,
                         messages[i].bLog ? "log" : "registration", messages[i].nMsgType, got.nCode, got.szMessage,
                         r.nCode, r.szMessage);
            ++problems;
        }
    }
    if (grammars != static_cast<int>(grammar::kMessageKindCount)) {
        std::fprintf(stderr, "%d kinds with a grammar, want %zu\n", grammars, grammar::kMessageKindCount);
        ++problems;
    }
    reinterpret_cast<DestroyFn>(Symbol(utility, "En_Msg_Destroy"))(messages[0].h);
    std::printf("%zu message types on 2 threads%s: %d calls gave 100 \"Unknown error\", %d problems\n", messages.size(),
                kFailing ? ", every allocation failing" : "", unknown, problems);
    return problems == 0 ? 0 : 1;
}
