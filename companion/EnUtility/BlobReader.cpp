// The blob reader: checks every entry before it hands it out, so that no
// later step can read outside the buffer or past the end of a string.
#include "BlobReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "BlobEntries.h"
#include "my/ThreadCache.h"

namespace {

class CINVPBlobReader final : public CBlobReader {
public:
    CINVPBlobReader() = default;
    CINVPBlobReader(const CINVPBlobReader&) = delete;
    CINVPBlobReader& operator=(const CINVPBlobReader&) = delete;
    ~CINVPBlobReader() { std::free(m_pCopy); }

    void Rewind() override { m_nPos = 0; }

    // Back to the state of a new reader.
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

// Each thread keeps one released reader for the next request, so that a
// thread validating message after message creates a reader only once.  The
// kept reader is detached (its copy of a misaligned blob freed) and is
// destroyed when the thread ends.
class CSpareReader {
public:
    CSpareReader() = default;
    CSpareReader(const CSpareReader&) = delete;
    CSpareReader& operator=(const CSpareReader&) = delete;
    ~CSpareReader() { delete m_pReader; }

    CINVPBlobReader* Take() {
        CINVPBlobReader* reader = m_pReader;
        m_pReader = nullptr;
        return reader;
    }
    // False when a reader is kept already.
    bool Keep(CINVPBlobReader* reader) {
        if (m_pReader != nullptr) return false;
        reader->Detach();
        m_pReader = reader;
        return true;
    }

private:
    CINVPBlobReader* m_pReader = nullptr;
};

typedef my::CThreadCache<CSpareReader> ThreadSpare;

}  // namespace

CBlobReader* CreateINVPBlobReader() {
    CSpareReader* spare = ThreadSpare::Get();
    CINVPBlobReader* reader = spare != nullptr ? spare->Take() : nullptr;
    return reader != nullptr ? reader : new CINVPBlobReader();
}

void FreeINVPBlobReader(CBlobReader* pReader) {
    if (pReader == nullptr) return;
    CINVPBlobReader* reader = static_cast<CINVPBlobReader*>(pReader);
    CSpareReader* spare = ThreadSpare::Get();
    if (spare == nullptr || !spare->Keep(reader)) delete reader;
}
