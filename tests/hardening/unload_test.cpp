// A host may dlopen the library, validate on its threads, and dlclose it
// while those threads still run.  Each thread keeps memory whose destructor
// is in the library, run when the thread ends; the library stays mapped
// (-z nodelete), so the threads end normally.  Exit code 0 on success.
#include <dlfcn.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "En_Msg.h"
#include "En_Validation.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LIBEN_VALIDATION\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    typedef void (*Validate)(void*, EN_VALIDATE_RESULT*);
    const Validate validate = reinterpret_cast<Validate>(dlsym(lib, "En_Validate_RegisterData"));
    if (validate == nullptr) return 2;

    std::mutex mutex;
    std::condition_variable changed;
    int validated = 0;
    bool closed = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            void* msg = En_Msg_Create();
            En_Msg_BeginGroup(msg, 7);
            EN_VALIDATE_RESULT result;
            validate(msg, &result);
            En_Msg_Destroy(msg);
            std::unique_lock<std::mutex> lock(mutex);
            ++validated;
            changed.notify_all();
            changed.wait(lock, [&] { return closed; });
        });  // the thread's memory is released here, after dlclose
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return validated == 4; });
    }
    const int rc = dlclose(lib);
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    changed.notify_all();
    for (std::thread& t : threads) t.join();
    return rc == 0 ? 0 : 1;
}
