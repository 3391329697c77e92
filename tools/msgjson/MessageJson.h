// MessageJson.h - the JSON message form, to and from encoded messages.
//
// A message object:
//   {"kind": "log" | "register", "msgtype": <int32, for logs>,
//    "entries": [{"id": <uint32>, "name": <node name, optional>,
//                 "type": <uint32 or name>,
//                 "value": <typed value> | "raw": "<hex>"}, ...]}
// Other keys of the message object are ignored; an entry has no others.
// A "name" must be the name of the grammar's node for that ID in the
// group open at the entry (GrammarTree.h), so the grammar must be known
// when the entry is read: from the overrides, or from "kind" and "msgtype"
// before "entries".
// Type names: STRING, WSTRING, BYTES, INT16,
// UINT16, INT32, UINT32, GROUP, END_OF_GROUP, each also with prefix DT_.
// Values: STRING and WSTRING take JSON strings (UTF-8, resp. one 4-byte
// wchar_t per code point), BYTES a hex string, the integer types a JSON
// integer in range.  "raw" gives the exact value bytes for any type.
//
// Decoding goes the other way: every well-formed value comes out in its
// typed form, every malformed one (an integer of the wrong size, an
// unterminated string, text that is not valid Unicode) as "raw", so that
// encoding the result gives back the same bytes.
//
// The implementation is the library libEn_MessageJson.so.1, whose only
// exports are its C interface (En_MessageJson.h) and in which nothing
// throws; the tool and the tests reach it through Client.cpp, which
// implements everything here over that interface and turns the codes it
// returns into the exceptions promised here (GrammarTree.h is compiled into
// both; Handle into the tool only).
#ifndef EN_TOOLS_MESSAGEJSON_H
#define EN_TOOLS_MESSAGEJSON_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "En_Msg.h"
#include "MessageForm.h"

namespace msgjson {

// Bad input; what() says why and where: "line L, column C: why" for text
// that is not JSON, else a place in the message such as entries[3].value.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Handle;

// What a message is besides its entries, which a read puts into a Handle
// or hands to an EntrySink (encoded as docs/blob-format.md says).
struct Message {
    Kind kind = Kind::Log;
    int32_t msgType = 0;  // meaningful for Kind::Log
};

// Receives the encoded entries one at a time, in order.
using EntrySink = std::function<void(const unsigned char* bytes, size_t size)>;

// Reads message objects from JSON text with a JSON parser whose buffers are
// kept from one text to the next; one for each thread.  The parser's value
// walk runs the fastest of simdjson's kernels (haswell, westmere, fallback)
// that the processor has, chosen at run time.
class Reader {
public:
    Reader();
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Reads the message object of text, value after value: no document tree
    // is built, each entry is encoded as soon as it has been read, values of
    // other keys are only checked.  The entries are written into the handle,
    // which is cleared first: each value is converted straight into the
    // handle's buffer, and once the buffers have grown, reading allocates
    // nothing.  text gets kPadding bytes of capacity past its end (and they
    // are set).  Lines of errors count from firstLine.  Throws InputError:
    // "line L, column C: why" for text that is not JSON, else a place in the
    // message such as entries[3].value.
    Message Read(std::string& text, Handle& into, const Overrides& overrides = {}, size_t firstLine = 1);

    // The same, with the entries handed to sink one at a time (--encode).
    Message Read(std::string& text, const EntrySink& sink, const Overrides& overrides = {}, size_t firstLine = 1);

    // The line and column (1-based, bytes) in text, the message text read
    // last, its lines counted from firstLine, where entries number first,
    // first + 1, ... (0-based) begin, and past the last, of the closing
    // bracket of "entries" (the end of the message): at most count of them,
    // into lines[] and columns[] (En_MsgJson_EntryPlaces).  Returns how
    // many places there are; 0 when the last read failed.
    size_t EntryPlaces(std::string_view text, size_t firstLine, size_t first, size_t count, size_t* lines,
                       size_t* columns) const;

private:
    struct Walk;
    std::unique_ptr<Walk> m_walk;
};

// The name of a data type code without prefix ("WSTRING"), or null for a
// code without name.
const char* TypeName(uint32_t code);

// What is wrong with the structure of a blob, or "" when nothing is:
// "byte offset P: entry N (id I, type T): why" for the first entry whose
// header is cut short or whose value runs past the end, and with
// checkValues also for the first value that is malformed for its type
// (what the blob reader refuses).
std::string BlobFault(const unsigned char* blob, size_t size, bool checkValues);

// Receives text as it is made.
using TextSink = std::function<void(std::string_view text)>;

// The JSON message form of a blob taken for a message of the given kind
// and type, written piece by piece: its kind and type, then one entry a
// line, indented by the groups open around it, with the keys "id", "name"
// (the node of the message's grammar, when the entry names one), "type" (a
// name where the code has one) and "value" or "raw".  A blob whose
// structure is broken writes nothing and throws InputError (BlobFault's
// text).
void DecodeBlob(const unsigned char* blob, size_t size, Kind kind, int32_t msgType, const TextSink& write);

// The log message type of a decoded blob: the value of a root entry MsgType
// (ID 11, UINT32), if there is one.
std::optional<int32_t> MsgTypeEntry(const unsigned char* blob, size_t size);

// Owns an En_Msg handle.
class Handle {
public:
    Handle();
    // Of a handle that stays its owner's: not destroyed with this.
    explicit Handle(void* borrowed) : m_h(borrowed), m_own(false) {}
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void* get() const { return m_h; }

    const unsigned char* data() const { return static_cast<const unsigned char*>(En_Msg_GetBuffer(m_h)); }
    size_t size() const { return En_Msg_BytesUsed(m_h); }
    void Clear() { En_Msg_Clear(m_h); }

private:
    void* m_h;
    bool m_own = true;
};

}  // namespace msgjson

#endif  // EN_TOOLS_MESSAGEJSON_H
