// BlobEntries.h - the one walk over the entry headers of an encoded blob
// (docs/blob-format.md), shared by the blob reader (CBlobReader::Pop) and
// by anything else that takes a blob apart (the tool's decoder, test and
// fuzz support).  Header-only; reads every integer with memcpy and never
// reads outside [blob, blob + size).
//
// Contract:
//   ReadEntryHeader(blob, size, pos, e) looks at the entry that begins at
//   byte offset pos (0 <= pos <= size) and returns
//     0                       the header is complete and the value lies
//                             wholly inside the blob: e.nID, e.nDataType,
//                             e.nDataLength, e.pValue are set, and e.nNext
//                             is the offset of the next entry (after the
//                             value and its padding to 4 bytes; the padding
//                             of the last entry may be missing);
//     BLOB_END_OF_DATA        pos == size: no entry left;
//     BLOB_ERR_SHORT_HEADER   fewer than BLOB_ENTRY_HEADER_SIZE bytes left;
//     BLOB_ERR_VALUE_OVERRUN  the value runs past the end of the blob.
//   The value itself is not judged: CheckEntryValue tells whether it is
//   well formed for its type (0) or which BLOB_ERR_... code it earns.  So a
//   walk can go on past a malformed value (a decoder shows it as raw bytes)
//   or stop at it (the reader's Pop does).  Only a non-zero result of
//   ReadEntryHeader ends every walk.
#ifndef EN_COMPANION_BLOBENTRIES_H
#define EN_COMPANION_BLOBENTRIES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "BlobReader.h"

// One entry header as the walk finds it.
struct CBlobEntryHeader {
    x_uint32 nID;
    x_uint32 nDataType;
    x_uint32 nDataLength;
    const unsigned char* pValue;  // nDataLength bytes inside the blob
    size_t nNext;                 // offset of the next entry
};

inline int ReadEntryHeader(const unsigned char* blob, size_t size, size_t pos, CBlobEntryHeader& e) {
    const size_t left = size - pos;
    if (left == 0) return BLOB_END_OF_DATA;
    if (left < BLOB_ENTRY_HEADER_SIZE) return BLOB_ERR_SHORT_HEADER;
    const unsigned char* p = blob + pos;
    std::memcpy(&e.nID, p, 4);
    std::memcpy(&e.nDataType, p + 4, 4);
    std::memcpy(&e.nDataLength, p + 8, 4);
    if (e.nDataLength > left - BLOB_ENTRY_HEADER_SIZE) return BLOB_ERR_VALUE_OVERRUN;
    e.pValue = p + BLOB_ENTRY_HEADER_SIZE;
    const std::uint64_t padded =
        std::uint64_t{BLOB_ENTRY_HEADER_SIZE} + e.nDataLength + ((0u - e.nDataLength) & 3u);
    e.nNext = pos + (padded < left ? static_cast<size_t>(padded) : left);
    return 0;
}

// 0 when the value is well formed for its type: integers of their exact
// size, narrow strings non-empty and zero-terminated, wide strings a
// multiple of 4 bytes ending in a 4-byte zero.  Bytes, group markers and
// unknown type codes take any length.
inline int CheckEntryValue(x_uint32 nDataType, const unsigned char* value, x_uint32 len) {
    switch (nDataType) {
        case DT_INT16:
        case DT_UINT16:
            return len == 2 ? 0 : BLOB_ERR_INT_LENGTH;
        case DT_INT32:
        case DT_UINT32:
            return len == 4 ? 0 : BLOB_ERR_INT_LENGTH;
        case DT_STRING:
            return len != 0 && value[len - 1] == 0 ? 0 : BLOB_ERR_BAD_STRING;
        case DT_WSTRING: {
            if (len == 0 || len % 4 != 0) return BLOB_ERR_BAD_WSTRING;
            x_uint32 last;
            std::memcpy(&last, value + len - 4, 4);
            return last == 0 ? 0 : BLOB_ERR_BAD_WSTRING;
        }
        default:
            return 0;
    }
}

#endif  // EN_COMPANION_BLOBENTRIES_H
