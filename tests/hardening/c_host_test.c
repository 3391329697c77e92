/*
 * A host written in C, as Python's ctypes is: no C++ runtime until it loads
 * the libraries with dlopen, so the C library allocates the C++ runtime's
 * per-thread data lazily, and ends the process when it cannot.
 *
 *   en_c_host_test LIBEN_UTILITY LIBEN_VALIDATION BLOB...
 *
 * 1. Checks that no C++ runtime is mapped yet, loads both libraries, and
 *    with every allocation failing (malloc, calloc and realloc below) has
 *    a thread started before the load and one started after it validate
 *    every BLOB as every kind (the registration message and every log type
 *    from 1500 to 1722): the first calls of the process.  Each record must
 *    be the one the main thread gets afterwards, without failures.
 * 2. Four threads validate over and over, allocations still failing, while
 *    the main thread forks child after child; each child validates every
 *    BLOB as every kind and must get the same records, within 20 s.
 * 3. With every reader of the utility library taken and no memory for
 *    another, every validation must end with 100 "Unknown error" (104 for
 *    a type without grammar); with the readers given back, as before.
 * Before them, En_Msg_Load refuses a null handle, a null blob and a blob
 * past the size limit, and not one of exactly that size.
 * Exit code 0 on success; an abort of the process is the fault it catches.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "En_Msg.h"
#include "En_Validation.h"

enum { kFirstLogType = 1500, kLastLogType = 1722, kKinds = kLastLogType - kFirstLogType + 2, kMaxBlobs = 2 };
enum { kForks = 24, kBusyThreads = 4 };

/* ---------------------------------------------------- failing allocations */

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);

static atomic_int g_failing;

void* malloc(size_t size) { return atomic_load(&g_failing) ? NULL : __libc_malloc(size); }
void* calloc(size_t count, size_t size) { return atomic_load(&g_failing) ? NULL : __libc_calloc(count, size); }
void* realloc(void* p, size_t size) { return atomic_load(&g_failing) ? NULL : __libc_realloc(p, size); }

/* ------------------------------------------------------------ the library */

static void (*g_log)(void*, x_int32, EN_VALIDATE_RESULT*);
static void (*g_reg)(void*, EN_VALIDATE_RESULT*);
static void* g_msgs[kMaxBlobs];
static int g_nMsgs;

typedef struct {
    EN_VALIDATE_RESULT r[kMaxBlobs][kKinds];
} Records;

static void ValidateAll(Records* out) {
    for (int m = 0; m < g_nMsgs; ++m) {
        g_reg(g_msgs[m], &out->r[m][0]);
        for (int k = 1; k < kKinds; ++k) g_log(g_msgs[m], kFirstLogType + k - 1, &out->r[m][k]);
    }
}

/* The number of records of got that differ from want. */
static int Differences(const Records* got, const Records* want) {
    int n = 0;
    for (int m = 0; m < g_nMsgs; ++m)
        for (int k = 0; k < kKinds; ++k)
            n += got->r[m][k].nCode != want->r[m][k].nCode ||
                 strcmp(got->r[m][k].szMessage, want->r[m][k].szMessage) != 0;
    return n;
}

static void Fail(const char* what, const char* detail) {
    fprintf(stderr, "en_c_host_test: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    exit(2);
}

/* Sets the function pointer fn to the symbol name of lib. */
#define LOOKUP(fn, lib, name)                       \
    do {                                            \
        void* p_ = dlsym(lib, name);                \
        if (p_ == NULL) Fail("no symbol", name);    \
        memcpy(&(fn), &p_, sizeof(fn));             \
    } while (0)

/* -------------------------------------------------------------- threads */

static atomic_int g_go;     /* 1: the first round; 2: the busy round */
static atomic_int g_stop;   /* ends the busy round */
static atomic_int g_wrong;  /* records that differ in the busy round */
static Records g_first[2];  /* of the threads started before and after the load */
static Records g_want;
static Records g_busy[kBusyThreads];

static void WaitFor(int phase) {
    while (atomic_load(&g_go) < phase) sched_yield();
}

static void* FirstRound(void* records) {
    WaitFor(1);
    ValidateAll(records);
    return NULL;
}

static void* BusyRound(void* records) {
    WaitFor(2);
    while (!atomic_load(&g_stop)) {
        ValidateAll(records);
        atomic_fetch_add(&g_wrong, Differences(records, &g_want));
    }
    return NULL;
}

static void Start(pthread_t* t, void* (*fn)(void*), void* arg) {
    if (pthread_create(t, NULL, fn, arg) != 0) Fail("cannot start a thread", NULL);
}

static int CxxRuntimeMapped(void) {
    char line[512];
    int found = 0;
    FILE* maps = fopen("/proc/self/maps", "r");
    if (maps == NULL) Fail("cannot read /proc/self/maps", NULL);
    while (fgets(line, sizeof line, maps) != NULL) found |= strstr(line, "libstdc++") != NULL;
    fclose(maps);
    return found;
}

int main(int argc, char** argv) {
    if (argc < 4 || argc - 3 > kMaxBlobs) {
        fprintf(stderr, "usage: %s LIBEN_UTILITY LIBEN_VALIDATION BLOB...\n", argv[0]);
        return 2;
    }
    if (CxxRuntimeMapped()) Fail("the C++ runtime is mapped before the libraries are loaded", NULL);

    pthread_t early, late, busy[kBusyThreads];
    Start(&early, FirstRound, &g_first[0]);

    void* utility = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (utility == NULL) Fail("dlopen", dlerror());
    void* validation = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
    if (validation == NULL) Fail("dlopen", dlerror());
    void* (*create)(void);
    int (*load)(void*, const void*, size_t);
    LOOKUP(create, utility, "En_Msg_Create");
    LOOKUP(load, utility, "En_Msg_Load");
    LOOKUP(g_log, validation, "En_Validate_Log");
    LOOKUP(g_reg, validation, "En_Validate_RegisterData");
    for (int i = 3; i < argc; ++i) {
        static char blob[1 << 16];
        FILE* in = fopen(argv[i], "rb");
        if (in == NULL) Fail("cannot open", argv[i]);
        const size_t n = fread(blob, 1, sizeof blob, in);
        fclose(in);
        void* h = create();
        if (h == NULL || load(h, blob, n) != EN_MSG_OK) Fail("cannot load", argv[i]);
        g_msgs[g_nMsgs++] = h;
    }
    /* The loader's refusals: a null handle, a null blob with a length; a
     * blob of exactly the size limit is not too big (without memory it is
     * not loaded either), one byte more is. */
    static const char kOne[1];
    void* refusing = create();
    if (refusing == NULL || load(NULL, kOne, 1) != EN_MSG_EINVAL || load(refusing, NULL, 1) != EN_MSG_EINVAL)
        Fail("a null handle or blob was not refused", NULL);
    atomic_store(&g_failing, 1);
    const int atLimit = load(refusing, kOne, 0xFFFFFFFFu);
    atomic_store(&g_failing, 0);
    if (atLimit != EN_MSG_ENOMEM) Fail("a blob of the size limit was not refused for memory", NULL);
    if (sizeof(size_t) > 4 && load(refusing, kOne, (size_t)0xFFFFFFFFu + 1) != EN_MSG_ETOOBIG)
        Fail("a blob past the size limit was not refused as too big", NULL);
    Start(&late, FirstRound, &g_first[1]);
    for (int t = 0; t < kBusyThreads; ++t) Start(&busy[t], BusyRound, &g_busy[t]);

    /* 1. First calls, every allocation failing. */
    atomic_store(&g_failing, 1);
    void* probe = malloc(1);
    atomic_store(&g_go, 1);
    pthread_join(early, NULL);
    pthread_join(late, NULL);
    atomic_store(&g_failing, 0);
    if (probe != NULL) Fail("allocations do not fail", NULL);
    ValidateAll(&g_want);
    int problems = 0, grammars = 0;
    for (int k = 0; k < kKinds; ++k) grammars += g_want.r[0][k].nCode != EN_VALIDATE_UNKNOWN_MSGTYPE;
    if (grammars != 14) {
        fprintf(stderr, "%d kinds with a grammar, want 14\n", grammars);
        ++problems;
    }
    for (int t = 0; t < 2; ++t) {
        const int n = Differences(&g_first[t], &g_want);
        if (n != 0) {
            fprintf(stderr, "first calls on the thread started %s the load: %d records differ\n",
                    t == 0 ? "before" : "after", n);
            ++problems;
        }
    }

    /* 2. Forks while threads validate. */
    atomic_store(&g_failing, 1);
    atomic_store(&g_go, 2);
    int hung = 0, wrong = 0;
    for (int f = 0; f < kForks; ++f) {
        const pid_t child = fork();
        if (child == 0) {
            static Records got;
            alarm(20);
            ValidateAll(&got);
            _exit(Differences(&got, &g_want) == 0 ? 0 : 1);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child) {
            ++wrong;
            continue;
        }
        hung += WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
        wrong += !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    atomic_store(&g_stop, 1);
    for (int t = 0; t < kBusyThreads; ++t) pthread_join(busy[t], NULL);
    if (wrong != 0) {
        fprintf(stderr, "%d of %d children failed, %d of them hung\n", wrong, kForks, hung);
        ++problems;
    }
    if (atomic_load(&g_wrong) != 0) {
        fprintf(stderr, "%d records differ on the validating threads\n", atomic_load(&g_wrong));
        ++problems;
    }

    /* 3. No reader to be had. */
    void* (*createReader)(void);
    void (*freeReader)(void*);
    LOOKUP(createReader, utility, "_Z20CreateINVPBlobReaderv");
    LOOKUP(freeReader, utility, "_Z18FreeINVPBlobReaderP11CBlobReader");
    static void* held[1024];
    int nHeld = 0;
    while (nHeld < 1024 && (held[nHeld] = createReader()) != NULL) ++nHeld;
    ValidateAll(&g_busy[0]);
    while (nHeld > 0) freeReader(held[--nHeld]);
    ValidateAll(&g_busy[1]);
    atomic_store(&g_failing, 0);
    int unknown = 0;
    for (int m = 0; m < g_nMsgs; ++m)
        for (int k = 0; k < kKinds; ++k) {
            const EN_VALIDATE_RESULT* r = &g_busy[0].r[m][k];
            const int want = g_want.r[m][k].nCode == EN_VALIDATE_UNKNOWN_MSGTYPE ? EN_VALIDATE_UNKNOWN_MSGTYPE
                                                                                : EN_VALIDATE_UNKNOWN_ERROR;
            unknown += r->nCode == want && (want != EN_VALIDATE_UNKNOWN_ERROR || strcmp(r->szMessage, "Unknown error") == 0);
        }
    if (unknown != g_nMsgs * kKinds || Differences(&g_busy[1], &g_want) != 0) {
        fprintf(stderr, "without readers, %d of %d records as expected; afterwards %d differ\n", unknown,
                g_nMsgs * kKinds, Differences(&g_busy[1], &g_want));
        ++problems;
    }

    printf("%d messages as %d kinds, every allocation failing: first calls on 2 threads, %d forked children; "
           "no reader: 100; %d problems\n", g_nMsgs, kKinds, kForks, problems);
    return problems == 0 ? 0 : 1;
}
