// Decoder.h - blobs into the JSON message form, and the faults of a blob's
// structure (internal to libEn_MessageJson.so.1; En_MessageJson.h says what
// each does for the C interface).
#ifndef EN_TOOLS_MSGJSON_DECODER_H
#define EN_TOOLS_MSGJSON_DECODER_H

#include <cstddef>
#include <cstdint>

#include "Fault.h"
#include "MessageForm.h"

namespace msgjson::detail {

// What is wrong with the structure of a blob, appended to text; false when
// nothing is (text then stays as it was).  See En_MsgJson_BlobFault.
bool BlobFault(const unsigned char* blob, size_t size, bool checkValues, Text& text);

// The JSON message form of a blob, written to sink piece by piece: one
// entry a line (see MessageJson.h's DecodeBlob).  An EN_MSGJSON_ code:
// EINPUT for a blob whose structure is broken (nothing is written) or a
// value too long to write as hex.
int DecodeBlob(const unsigned char* blob, size_t size, Kind kind, int32_t msgType, const Sink& sink);

// The value of a root entry MsgType (ID 11, UINT32) into msgType; false
// when there is none.
bool MsgTypeEntry(const unsigned char* blob, size_t size, int32_t& msgType);

}  // namespace msgjson::detail

#endif  // EN_TOOLS_MSGJSON_DECODER_H
