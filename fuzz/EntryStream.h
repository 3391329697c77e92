// EntryStream.h - a compact byte stream that decodes into a message.
//
// The structure-aware fuzz target reads its input as this stream, so that
// most mutations still yield entries the grammars know (their own node IDs
// with their own data types, groups that open and close, boundary integers,
// good and bad times) and validation gets past the reader into groups and
// constraints.
//
//   stream := kind:u8 op*          kind % 14 selects the grammar (src/MessageKindList.h)
//   op     := code:u8 ...          code & 7 is the operation, code >> 3 its mode
//
//   0-2  row:u8        the grammar's node row (row % rows): an item with a
//                      value made by the mode, or the begin of a group
//   3                  end of the innermost group the stream opened (ID 0,
//                      the root, when none is open)
//   4    row:u8        the row's ID with an odd data type picked by the mode
//   5    id:u32 type:u32 len:u16 value[len]   one entry exactly as given
//   6                  every required item of the root, in table order
//   7                  the previous entry once more (mode % 3 + 1 times)
//
// Integers are little-endian.  A stream that ends early ends the message;
// missing bytes read as zero.  Decoding stops after kMaxEntries entries.
#ifndef EN_FUZZ_ENTRYSTREAM_H
#define EN_FUZZ_ENTRYSTREAM_H

#include <cstddef>
#include <cstdint>

namespace enfuzz {

constexpr size_t kMaxEntries = 4096;

// Appends the decoded entries to the En_Msg handle h and returns the kind
// index (0..13) the stream selects.
size_t DecodeStream(const uint8_t* data, size_t size, void* h);

}  // namespace enfuzz

#endif  // EN_FUZZ_ENTRYSTREAM_H
