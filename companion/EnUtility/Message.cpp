// Message handles: a growing, 4-byte aligned buffer of encoded entries.
// No C++ exception leaves these functions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "BlobReader.h"
#include "En_Msg.h"

namespace {

struct CMessage {
    unsigned char* pData;  // malloc'ed, so suitably aligned for wchar_t
    size_t nUsed;
    size_t nCapacity;
};

const size_t kMaxBytes = 0xFFFFFFFFu;

CMessage* AsMessage(void* h) { return static_cast<CMessage*>(h); }

x_uint32 Padding(x_uint32 len) { return (4u - (len & 3u)) & 3u; }

// The offset of p inside the buffer of m, or -1 when it points elsewhere:
// a source inside the buffer is found again after the buffer has moved.
std::ptrdiff_t OffsetIn(const CMessage* m, const void* p) {
    const auto at = reinterpret_cast<std::uintptr_t>(p), base = reinterpret_cast<std::uintptr_t>(m->pData);
    return m->pData != nullptr && at >= base && at - base < m->nCapacity ? static_cast<std::ptrdiff_t>(at - base) : -1;
}

// Makes room for nMore further bytes; EN_MSG_OK or an error code.
int Reserve(CMessage* m, size_t nMore) {
    if (nMore > kMaxBytes - m->nUsed) return EN_MSG_ETOOBIG;
    size_t need = m->nUsed + nMore;
    if (need <= m->nCapacity) return EN_MSG_OK;
    size_t cap = m->nCapacity ? m->nCapacity : 256;
    while (cap < need) cap = cap > kMaxBytes / 2 ? kMaxBytes : cap * 2;
    void* p = std::realloc(m->pData, cap);
    if (p == nullptr) return EN_MSG_ENOMEM;
    m->pData = static_cast<unsigned char*>(p);
    m->nCapacity = cap;
    return EN_MSG_OK;
}

void PutU32(unsigned char* p, x_uint32 v) { std::memcpy(p, &v, sizeof v); }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* En_Msg_Create(void) {
    void* p = std::calloc(1, sizeof(CMessage));
    return p;
}

__attribute__((visibility("default"))) void En_Msg_Destroy(void* h) {
    if (h == nullptr) return;
    std::free(AsMessage(h)->pData);
    std::free(h);
}

__attribute__((visibility("default"))) void En_Msg_Clear(void* h) {
    if (h != nullptr) AsMessage(h)->nUsed = 0;
}

__attribute__((visibility("default"))) const void* En_Msg_GetBuffer(void* h) {
    if (h == nullptr) return nullptr;
    CMessage* m = AsMessage(h);
    // An empty handle still answers a valid pointer.
    static const x_uint32 kEmpty = 0;
    return m->pData ? static_cast<const void*>(m->pData) : static_cast<const void*>(&kEmpty);
}

__attribute__((visibility("default"))) x_uint32 En_Msg_BytesUsed(void* h) {
    return h == nullptr ? 0 : static_cast<x_uint32>(AsMessage(h)->nUsed);
}

__attribute__((visibility("default"))) int En_Msg_Load(void* h, const void* blob, size_t len) {
    if (h == nullptr || (blob == nullptr && len != 0)) return EN_MSG_EINVAL;
    if (len > kMaxBytes) return EN_MSG_ETOOBIG;
    CMessage* m = AsMessage(h);
    const std::ptrdiff_t inside = OffsetIn(m, blob);
    size_t used = m->nUsed;
    m->nUsed = 0;
    int rc = Reserve(m, len);
    if (rc != EN_MSG_OK) {
        m->nUsed = used;
        return rc;
    }
    if (inside >= 0) blob = m->pData + inside;
    if (len) std::memmove(m->pData, blob, len);
    m->nUsed = len;
    return EN_MSG_OK;
}

__attribute__((visibility("default"))) void* En_Msg_Resize(void* h, size_t len) {
    if (h == nullptr || len > kMaxBytes) return nullptr;
    CMessage* m = AsMessage(h);
    const size_t used = m->nUsed;
    m->nUsed = 0;
    if (Reserve(m, len != 0 ? len : 1) != EN_MSG_OK) {  // a pointer also for no bytes
        m->nUsed = used;
        return nullptr;
    }
    m->nUsed = len;
    return m->pData;
}

__attribute__((visibility("default"))) int En_Msg_AppendEntry(void* h, x_uint32 id, x_uint32 type,
                                                              const void* data, x_uint32 len) {
    if (h == nullptr || (data == nullptr && len != 0)) return EN_MSG_EINVAL;
    CMessage* m = AsMessage(h);
    const size_t extra = size_t(BLOB_ENTRY_HEADER_SIZE) + Padding(len);
    if (len > kMaxBytes - extra) return EN_MSG_ETOOBIG;
    const size_t total = extra + len;
    const std::ptrdiff_t inside = OffsetIn(m, data);
    int rc = Reserve(m, total);
    if (rc != EN_MSG_OK) return rc;
    if (inside >= 0) data = m->pData + inside;  // the buffer may have moved
    unsigned char* p = m->pData + m->nUsed;
    if (len) std::memmove(p + BLOB_ENTRY_HEADER_SIZE, data, len);
    PutU32(p, id);
    PutU32(p + 4, type);
    PutU32(p + 8, len);
    std::memset(p + BLOB_ENTRY_HEADER_SIZE + len, 0, Padding(len));
    m->nUsed += total;
    return EN_MSG_OK;
}

__attribute__((visibility("default"))) int En_Msg_AppendString(void* h, x_uint32 id, const char* s) {
    if (s == nullptr) return EN_MSG_EINVAL;
    size_t n = std::strlen(s) + 1;
    if (n > kMaxBytes) return EN_MSG_ETOOBIG;
    return En_Msg_AppendEntry(h, id, DT_STRING, s, static_cast<x_uint32>(n));
}

__attribute__((visibility("default"))) int En_Msg_AppendWString(void* h, x_uint32 id, const wchar_t* s) {
    static_assert(sizeof(wchar_t) == 4, "wide strings travel as 4-byte characters");
    if (s == nullptr) return EN_MSG_EINVAL;
    const size_t chars = std::wcslen(s) + 1;
    if (chars > kMaxBytes / sizeof(wchar_t)) return EN_MSG_ETOOBIG;
    const size_t n = chars * sizeof(wchar_t);
    return En_Msg_AppendEntry(h, id, DT_WSTRING, s, static_cast<x_uint32>(n));
}

__attribute__((visibility("default"))) int En_Msg_AppendBytes(void* h, x_uint32 id, const void* data, x_uint32 len) {
    return En_Msg_AppendEntry(h, id, DT_BYTES, data, len);
}

__attribute__((visibility("default"))) int En_Msg_AppendInt16(void* h, x_uint32 id, short v) {
    return En_Msg_AppendEntry(h, id, DT_INT16, &v, sizeof v);
}

__attribute__((visibility("default"))) int En_Msg_AppendUInt16(void* h, x_uint32 id, unsigned short v) {
    return En_Msg_AppendEntry(h, id, DT_UINT16, &v, sizeof v);
}

__attribute__((visibility("default"))) int En_Msg_AppendInt32(void* h, x_uint32 id, x_int32 v) {
    return En_Msg_AppendEntry(h, id, DT_INT32, &v, sizeof v);
}

__attribute__((visibility("default"))) int En_Msg_AppendUInt32(void* h, x_uint32 id, x_uint32 v) {
    return En_Msg_AppendEntry(h, id, DT_UINT32, &v, sizeof v);
}

__attribute__((visibility("default"))) int En_Msg_BeginGroup(void* h, x_uint32 id) {
    return En_Msg_AppendEntry(h, id, DT_GROUP, nullptr, 0);
}

__attribute__((visibility("default"))) int En_Msg_EndGroup(void* h, x_uint32 id) {
    return En_Msg_AppendEntry(h, id, DT_END_OF_GROUP, nullptr, 0);
}

}  // extern "C"
