// The blob reader: checks every entry before it hands it out, so that no
// later step can read outside the buffer or past the end of a string.
#include "BlobReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <new>  // placement only

#include "BlobEntries.h"

namespace {

class CINVPBlobReader final : public CBlobReader {
public:
    CINVPBlobReader() = default;
    CINVPBlobReader(const CINVPBlobReader&) = delete;
    CINVPBlobReader& operator=(const CINVPBlobReader&) = delete;
    ~CINVPBlobReader() { std::free(m_pCopy); }

    void Rewind() override { m_nPos = 0; }

    void Detach() {
        if (m_pCopy != nullptr) std::free(m_pCopy);
        m_pCopy = nullptr;
        m_nPos = 0;
        m_nLen = 0;
        m_pBuf = nullptr;
        m_bAttached = false;
    }

    int Attach(const void* buffer, x_uint32 len) override {
        Detach();
        if (buffer == nullptr) len = 0;
        // Values are read in place; they are aligned only if the buffer is.
        if (len != 0 && reinterpret_cast<uintptr_t>(buffer) % alignof(x_uint32) != 0) {
            m_pCopy = static_cast<unsigned char*>(std::malloc(len));
            if (m_pCopy == nullptr) return BLOB_ERR_NO_MEMORY;
            std::memcpy(m_pCopy, buffer, len);
            buffer = m_pCopy;
        }
        m_pBuf = static_cast<const unsigned char*>(buffer);
        m_nLen = len;
        m_bAttached = true;
        return 0;
    }

    x_uint32 Remaining() const override { return m_nLen - m_nPos; }

    int Pop(x_uint32* pID, x_uint32* pDataType, const void** ppData, x_uint32* pDataLength) override {
        if (!m_bAttached) return BLOB_ERR_NOT_ATTACHED;
        CBlobEntryHeader e;
        int rc = ReadEntryHeader(m_pBuf, m_nLen, m_nPos, e);
        if (rc == 0) rc = CheckEntryValue(e.nDataType, e.pValue, e.nDataLength);
        if (rc != 0) return rc;  // the reader stays at this entry
        m_nPos = static_cast<x_uint32>(e.nNext);
        *pID = e.nID;
        *pDataType = e.nDataType;
        *ppData = e.pValue;
        *pDataLength = e.nDataLength;
        return 0;
    }

private:
    const unsigned char* m_pBuf = nullptr;
    unsigned char* m_pCopy = nullptr;  // owned copy of a misaligned buffer
    x_uint32 m_nLen = 0;
    x_uint32 m_nPos = 0;
    bool m_bAttached = false;
};

// Readers are placed in a fixed pool of slots, each taken and given back
// with one atomic flag, so that creating a reader allocates nothing, needs
// no lock (a forked child may create readers whatever its parent's threads
// were doing) and nothing per thread.  When every slot is taken, a reader
// is placed in memory from malloc; null when there is none.
struct alignas(64) CReaderSlot {  // a cache line each: threads do not share one
    std::atomic<bool> bTaken;
    alignas(CINVPBlobReader) unsigned char storage[sizeof(CINVPBlobReader)];
};
constexpr size_t kPooledReaders = 64;
CReaderSlot g_Pool[kPooledReaders];

}  // namespace

CBlobReader* CreateINVPBlobReader() {
    for (CReaderSlot& slot : g_Pool)
        if (!slot.bTaken.load(std::memory_order_relaxed) && !slot.bTaken.exchange(true, std::memory_order_acquire))
            return new (slot.storage) CINVPBlobReader();
    void* p = std::malloc(sizeof(CINVPBlobReader));
    return p != nullptr ? new (p) CINVPBlobReader() : nullptr;
}

void FreeINVPBlobReader(CBlobReader* pReader) {
    if (pReader == nullptr) return;
    CINVPBlobReader* reader = static_cast<CINVPBlobReader*>(pReader);
    reader->~CINVPBlobReader();
    const uintptr_t p = reinterpret_cast<uintptr_t>(pReader);
    const uintptr_t pool = reinterpret_cast<uintptr_t>(g_Pool);
    if (p >= pool && p < pool + sizeof g_Pool)
        g_Pool[(p - pool) / sizeof(CReaderSlot)].bTaken.store(false, std::memory_order_release);
    else
        std::free(pReader);
}
