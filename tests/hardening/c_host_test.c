/*
 * A host written in C, as Python's ctypes is: no C++ runtime until it loads
 * the libraries with dlopen, so the C library allocates the C++ runtime's
 * per-thread data lazily, and ends the process when it cannot.
 *
 *   en_c_host_test LIBEN_UTILITY LIBEN_VALIDATION LIBEN_MESSAGEJSON BLOB...
 *
 * 1. Checks that no C++ runtime is mapped yet, loads the libraries, and
 *    with every allocation failing (malloc, calloc and realloc below) has
 *    a thread started before the load and one started after it make the
 *    calls of the JSON message library below (making a reader; reading
 *    three texts with a reader each made on the main thread, decoding every
 *    BLOB and telling the fault of one cut short), then validate every BLOB
 *    as every kind (the registration message and every log type from 1500
 *    to 1722): the first calls of the process.  Each record must be the one the main
 *    thread gets afterwards, without failures, or for a JSON call
 *    EN_MSGJSON_ENOMEM.
 * 2. Four threads validate over and over, allocations still failing, while
 *    the main thread forks child after child; each child validates every
 *    BLOB as every kind and must get the same records, within 20 s.
 * 3. With every reader of the utility library taken and no memory for
 *    another, every validation must end with 100 "Unknown error" (104 for
 *    a type without grammar); with the readers given back, as before.
 * 4. Each JSON call again with the n-th of its allocations failing, for n
 *    = 0, 1, ... until it makes no n-th: it must give EN_MSGJSON_ENOMEM or
 *    its record, and the same call without failures its record.
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

#include "En_MessageJson.h"
#include "En_Msg.h"
#include "En_Validation.h"

enum { kFirstLogType = 1500, kLastLogType = 1722, kKinds = kLastLogType - kFirstLogType + 2, kMaxBlobs = 2 };
enum { kForks = 24, kBusyThreads = 4 };

/* ---------------------------------------------------- failing allocations */

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);

static atomic_int g_failing;       /* every allocation fails */
static atomic_long g_failAt = -1;  /* the allocation counted as this one fails */
static atomic_long g_allocs;       /* allocations counted */

static int Fails(void) {
    const long at = atomic_load(&g_failAt);
    return atomic_load(&g_failing) || (at >= 0 && atomic_fetch_add(&g_allocs, 1) == at);
}

void* malloc(size_t size) { return Fails() ? NULL : __libc_malloc(size); }
void* calloc(size_t count, size_t size) { return Fails() ? NULL : __libc_calloc(count, size); }
void* realloc(void* p, size_t size) { return Fails() ? NULL : __libc_realloc(p, size); }

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

/* ----------------------------------------------- the JSON message library */

static __typeof__(En_MsgJson_ReaderCreate)* g_jsonReader;
static __typeof__(En_MsgJson_ReaderDestroy)* g_jsonDestroy;
static __typeof__(En_MsgJson_Read)* g_jsonRead;
static __typeof__(En_MsgJson_Error)* g_jsonError;
static __typeof__(En_MsgJson_EntryPlaces)* g_jsonPlaces;
static __typeof__(En_MsgJson_Decode)* g_jsonDecode;
static __typeof__(En_MsgJson_BlobFault)* g_jsonFault;
static const void* (*g_buffer)(void*);
static x_uint32 (*g_bytesUsed)(void*);

/* A good log naming a node of its grammar, a value out of range, a syntax
 * error and a wide string whose blob outgrows the room made for its text
 * (made in main); read as kReads says: with room for the padding or
 * without, into a message handle or to a sink. */
static char g_wide[2400];
static const char* const kJson[] = {
    "{\"kind\": \"log\", \"msgtype\": 1501, \"entries\": [{\"id\": 11, \"name\": \"MsgType\", \"type\": \"UINT32\", "
    "\"value\": 1501}, {\"id\": 1001, \"type\": \"WSTRING\", \"value\": \"pc-0291\"}]}",
    "{\"kind\": \"log\", \"msgtype\": 1501, \"entries\": [{\"id\": 2021, \"type\": \"INT16\", \"value\": 70000}]}",
    "{\"kind\": \"register\", \"entries\": [}",
    g_wide,
};
static const struct {
    int text, room, sink;
} kReads[] = {{0, 1, 0}, {0, 1, 1}, {1, 0, 0}, {2, 1, 0}, {3, 1, 0}};
enum { kTexts = sizeof kReads / sizeof kReads[0], kMaxCalls = kTexts + 3 * kMaxBlobs };

/* What a call gave: its code (for En_MsgJson_BlobFault the length, or
 * EN_MSGJSON_ENOMEM), the bytes it wrote (the blob, an error text or JSON
 * text) as a count and a hash, and the column of the first entry read. */
typedef struct {
    long long rc;
    size_t size, at;
    unsigned long long hash;
} Outcome;

static void Hash(Outcome* o, const void* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) o->hash = (o->hash ^ ((const unsigned char*)bytes)[i]) * 0x100000001B3ull;
    o->size += size;
}

static int HashSink(void* o, const void* bytes, size_t size) {
    Hash(o, bytes, size);
    return 0;
}

static int Same(const Outcome* a, const Outcome* b) {
    return a->rc == b->rc && a->size == b->size && a->hash == b->hash && a->at == b->at;
}

/* Call c of the JSON calls (kMaxCalls at most; fewer with fewer BLOBs). */
static void JsonCall(int c, En_MsgJson_Reader* reader, void* handle, Outcome* o) {
    const Outcome none = {0, 0, (size_t)-1, 0xCBF29CE484222325ull};
    *o = none;
    if (c < kTexts) {
        char text[sizeof g_wide + 64];
        const size_t n = strlen(kJson[kReads[c].text]);
        memcpy(text, kJson[kReads[c].text], n);
        o->rc = g_jsonRead(reader, text, n, kReads[c].room ? sizeof text - n : 0, EN_MSGJSON_KIND_UNSET, 0, 1, handle,
                           kReads[c].sink ? HashSink : NULL, o, NULL, NULL);
        if (o->rc == EN_MSGJSON_OK && !kReads[c].sink) Hash(o, g_buffer(handle), g_bytesUsed(handle));
        if (o->rc == EN_MSGJSON_EINPUT) Hash(o, g_jsonError(reader), strlen(g_jsonError(reader)));
        size_t line = 0;
        g_jsonPlaces(reader, text, n, 1, 0, 1, &line, &o->at);
        return;
    }
    void* msg = g_msgs[(c - kTexts) / 3];
    const size_t size = g_bytesUsed(msg), cut = size - 1;
    char fault[256];
    switch ((c - kTexts) % 3) {
        case 0: o->rc = g_jsonDecode(g_buffer(msg), size, EN_MSGJSON_LOG, 1501, HashSink, o); break;
        case 1: o->rc = g_jsonDecode(g_buffer(msg), cut, EN_MSGJSON_REGISTER, 0, HashSink, o); break;
        default: {
            const size_t n = g_jsonFault(g_buffer(msg), cut, 1, fault, sizeof fault);
            o->rc = n == (size_t)-1 ? EN_MSGJSON_ENOMEM : (long long)n;
            if (n != (size_t)-1) Hash(o, fault, strlen(fault));
        }
    }
}

static int JsonCalls(void) { return kTexts + 3 * g_nMsgs; }

static Outcome g_jsonWant[kMaxCalls];

/* The outcomes of got that are neither EN_MSGJSON_ENOMEM nor as wanted. */
static int JsonDifferences(const Outcome* got) {
    int n = 0;
    for (int c = 0; c < JsonCalls(); ++c) n += got[c].rc != EN_MSGJSON_ENOMEM && !Same(&got[c], &g_jsonWant[c]);
    return n;
}

/* -------------------------------------------------------------- threads */

static atomic_int g_go;     /* 1: the first round; 2: the busy round */
static atomic_int g_stop;   /* ends the busy round */
static atomic_int g_wrong;  /* records that differ in the busy round */
/* The first calls of the threads started before and after the load. */
typedef struct {
    En_MsgJson_Reader* reader;
    void* handle;
    Outcome json[kMaxCalls];
    Records records;
} FirstCalls;
static FirstCalls g_first[2];
static Records g_want;
static Records g_busy[kBusyThreads];

static void WaitFor(int phase) {
    while (atomic_load(&g_go) < phase) sched_yield();
}

static void* FirstRound(void* calls) {
    FirstCalls* f = calls;
    WaitFor(1);
    g_jsonDestroy(g_jsonReader());  /* null, or a reader */
    for (int c = 0; c < JsonCalls(); ++c) JsonCall(c, f->reader, f->handle, &f->json[c]);
    ValidateAll(&f->records);
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
    if (argc < 5 || argc - 4 > kMaxBlobs) {
        fprintf(stderr, "usage: %s LIBEN_UTILITY LIBEN_VALIDATION LIBEN_MESSAGEJSON BLOB...\n", argv[0]);
        return 2;
    }
    if (CxxRuntimeMapped()) Fail("the C++ runtime is mapped before the libraries are loaded", NULL);
    /* 2,000 characters: a blob of 8 KB, past the 4 KB made for a short text. */
    const int head = sprintf(g_wide, "{\"kind\": \"log\", \"msgtype\": 1501, \"entries\": [{\"id\": 1001, \"type\": 1, \"value\": \"");
    memset(g_wide + head, 'w', 2000);
    strcpy(g_wide + head + 2000, "\"}]}");

    pthread_t early, late, busy[kBusyThreads];
    Start(&early, FirstRound, &g_first[0]);

    void* utility = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (utility == NULL) Fail("dlopen", dlerror());
    void* validation = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
    if (validation == NULL) Fail("dlopen", dlerror());
    void* json = dlopen(argv[3], RTLD_NOW | RTLD_LOCAL);
    if (json == NULL) Fail("dlopen", dlerror());
    void* (*create)(void);
    void (*destroy)(void*);
    int (*load)(void*, const void*, size_t);
    LOOKUP(create, utility, "En_Msg_Create");
    LOOKUP(destroy, utility, "En_Msg_Destroy");
    LOOKUP(load, utility, "En_Msg_Load");
    LOOKUP(g_log, validation, "En_Validate_Log");
    LOOKUP(g_reg, validation, "En_Validate_RegisterData");
    LOOKUP(g_buffer, utility, "En_Msg_GetBuffer");
    LOOKUP(g_bytesUsed, utility, "En_Msg_BytesUsed");
    LOOKUP(g_jsonReader, json, "En_MsgJson_ReaderCreate");
    LOOKUP(g_jsonDestroy, json, "En_MsgJson_ReaderDestroy");
    LOOKUP(g_jsonRead, json, "En_MsgJson_Read");
    LOOKUP(g_jsonError, json, "En_MsgJson_Error");
    LOOKUP(g_jsonPlaces, json, "En_MsgJson_EntryPlaces");
    LOOKUP(g_jsonDecode, json, "En_MsgJson_Decode");
    LOOKUP(g_jsonFault, json, "En_MsgJson_BlobFault");
    for (int i = 4; i < argc; ++i) {
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
    for (int t = 0; t < 2; ++t)
        if ((g_first[t].reader = g_jsonReader()) == NULL || (g_first[t].handle = create()) == NULL)
            Fail("cannot make a JSON reader and a message handle", NULL);
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
    for (int c = 0; c < JsonCalls(); ++c) JsonCall(c, g_first[0].reader, g_first[0].handle, &g_jsonWant[c]);
    int problems = 0, grammars = 0;
    for (int k = 0; k < kKinds; ++k) grammars += g_want.r[0][k].nCode != EN_VALIDATE_UNKNOWN_MSGTYPE;
    if (grammars != 14) {
        fprintf(stderr, "%d kinds with a grammar, want 14\n", grammars);
        ++problems;
    }
    if (g_jsonWant[0].rc != EN_MSGJSON_OK || g_jsonWant[1].rc != EN_MSGJSON_OK || g_jsonWant[2].rc != EN_MSGJSON_EINPUT ||
        g_jsonWant[3].rc != EN_MSGJSON_EINPUT) {
        fprintf(stderr, "the JSON texts read as %lld, %lld, %lld and %lld\n", g_jsonWant[0].rc, g_jsonWant[1].rc,
                g_jsonWant[2].rc, g_jsonWant[3].rc);
        ++problems;
    }
    for (int t = 0; t < 2; ++t) {
        const int n = Differences(&g_first[t].records, &g_want) + JsonDifferences(g_first[t].json);
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

    /* 4. Each JSON call with its n-th allocation failing, and again without,
     * with a new reader whose buffers have yet to grow. */
    int failures = 0, wrongJson = 0;
    for (int c = 0; c < JsonCalls(); ++c)
        for (long n = 0;; ++n, ++failures) {
            Outcome got, again;
            En_MsgJson_Reader* reader = g_jsonReader();
            void* handle = create();
            if (reader == NULL || handle == NULL) Fail("cannot make a JSON reader and a message handle", NULL);
            atomic_store(&g_allocs, 0);
            atomic_store(&g_failAt, n);
            JsonCall(c, reader, handle, &got);
            atomic_store(&g_failAt, -1);
            const int hit = atomic_load(&g_allocs) > n;
            JsonCall(c, reader, handle, &again);
            g_jsonDestroy(reader);
            destroy(handle);
            if ((got.rc != EN_MSGJSON_ENOMEM || !hit) && !Same(&got, &g_jsonWant[c])) {
                fprintf(stderr, "JSON call %d, allocation %ld failing: %lld\n", c, n, got.rc);
                ++wrongJson;
            }
            if (!Same(&again, &g_jsonWant[c])) {
                fprintf(stderr, "JSON call %d after allocation %ld failed: %lld\n", c, n, again.rc);
                ++wrongJson;
            }
            if (!hit) break;
        }
    problems += wrongJson != 0;

    printf("%d messages as %d kinds, every allocation failing: first calls on 2 threads, %d forked children; "
           "no reader: 100; %d JSON calls, %d allocations failing in turn; %d problems\n", g_nMsgs, kKinds, kForks,
           JsonCalls(), failures, problems);
    return problems == 0 ? 0 : 1;
}
