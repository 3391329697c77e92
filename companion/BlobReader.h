// BlobReader.h - the blob reader of the utility library (libEn_Utility.so.1).
//
// A reader walks the entries of an encoded message (docs/blob-format.md)
// one by one.  It is the first code that touches untrusted bytes, so it
// checks each entry when it is popped: after a successful Pop the value
// lies wholly inside the attached buffer, integers have their exact size
// and strings are terminated.  Values are 4-byte aligned.
//
// Life cycle: CreateINVPBlobReader, Attach, Pop until it returns non-zero,
// FreeINVPBlobReader.  A reader is used by one thread at a time.
#ifndef EN_COMPANION_BLOBREADER_H
#define EN_COMPANION_BLOBREADER_H

#include "En_Msg.h"  // x_uint32, the data type codes (Type)

// Results of CBlobReader::Pop other than 0 (an entry was delivered).
enum {
    BLOB_ERR_SHORT_HEADER = -1001,  // bytes are left, but fewer than a header
    BLOB_ERR_VALUE_OVERRUN = -1002, // the value runs past the end of the buffer
    BLOB_ERR_INT_LENGTH = -1003,    // an integer value of the wrong size
    BLOB_ERR_BAD_STRING = -1004,    // a narrow string that is empty or unterminated
    BLOB_ERR_BAD_WSTRING = -1005,   // a wide string of bad size or unterminated
    BLOB_END_OF_DATA = -1006,       // no entry left (not a failure)
    BLOB_ERR_NO_MEMORY = -1007,     // Attach could not copy a misaligned buffer
    BLOB_ERR_NOT_ATTACHED = -1008   // Pop before Attach
};

// One entry as the reader yields it.  m_pData points into memory held by
// the reader and stays valid until the next Pop or the reader's release.
struct CMsgEntry {
    x_uint32 m_nID;
    x_uint32 m_nDataType;
    const void* m_pData;
    x_uint32 m_nDataLength;
};

// Size of an entry header: ID, data type and value length, 4 bytes each.
const x_uint32 BLOB_ENTRY_HEADER_SIZE = 12;

class __attribute__((visibility("default"))) CBlobReader {
public:
    // Slot 1: starts again at the first entry.
    virtual void Rewind() = 0;
    // Slot 2: binds the reader to len bytes at buffer (not copied unless
    // misaligned; the caller keeps them alive and unchanged meanwhile).
    // 0 on success, BLOB_ERR_NO_MEMORY if a needed copy failed.
    virtual int Attach(const void* buffer, x_uint32 len) = 0;
    // Slot 3: bytes not yet consumed by Pop.
    virtual x_uint32 Remaining() const = 0;
    // Slot 4: the next entry.  0 when one was delivered, BLOB_END_OF_DATA
    // when none is left, a BLOB_ERR_... code when the next entry is
    // malformed (the reader then stays at that entry).
    virtual int Pop(x_uint32* pID, x_uint32* pDataType, const void** ppData, x_uint32* pDataLength) = 0;

protected:
    ~CBlobReader() = default;  // destroyed only by FreeINVPBlobReader
};

// A new reader, or null when none can be made; never throws.
__attribute__((visibility("default"))) CBlobReader* CreateINVPBlobReader();
// Releases a reader made by CreateINVPBlobReader; null is ignored.
__attribute__((visibility("default"))) void FreeINVPBlobReader(CBlobReader* pReader);

#endif  // EN_COMPANION_BLOBREADER_H
