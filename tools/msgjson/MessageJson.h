// MessageJson.h - the JSON message form, to and from encoded messages.
//
// A message object:
//   {"kind": "log" | "register", "msgtype": <int32, for logs>,
//    "entries": [{"id": <uint32>, "type": <uint32 or name>,
//                 "value": <typed value> | "raw": "<hex>"}, ...]}
// Other keys of the message object are ignored; an entry has no others.
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
#ifndef EN_TOOLS_MESSAGEJSON_H
#define EN_TOOLS_MESSAGEJSON_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "En_Msg.h"

namespace msgjson {

// Bad input; what() says why and where (a JSON path such as entries[3].value).
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Kind { Log, Register };

struct Message {
    Kind kind = Kind::Log;
    int32_t msgType = 0;               // meaningful for Kind::Log
    std::vector<unsigned char> blob;   // encoded entries (docs/blob-format.md)
};

// What the command line may supply or override.
struct Overrides {
    std::optional<Kind> kind;
    std::optional<int32_t> msgType;
};

// Converts a parsed message object; throws InputError.
Message FromJson(const nlohmann::json& object, const Overrides& overrides = {});

// Encodes the entries array alone; throws InputError.
std::vector<unsigned char> EncodeEntries(const nlohmann::json& entries);

// The data type code of a "type" value (integer or name); throws InputError.
uint32_t ParseTypeName(const std::string& name);

// The name of a data type code without prefix ("WSTRING"), or null for a
// code without name.
const char* TypeName(uint32_t code);

// Decodes a blob into the entries array of the JSON message form: objects
// with the keys "id", "type" (a name where the code has one) and "value" or
// "raw" in that order.  A blob whose structure is broken (fewer than 12
// bytes for a header, a value running past the end) throws InputError
// naming the byte offset of the entry.
nlohmann::ordered_json DecodeEntries(const unsigned char* blob, size_t size);

// The whole message object: "kind", "msgtype" (for logs) and "entries".
nlohmann::ordered_json ToJson(const Message& message);

// Owns an En_Msg handle.
class Handle {
public:
    Handle();
    explicit Handle(const std::vector<unsigned char>& blob);
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void* get() const { return m_h; }

private:
    void* m_h;
};

}  // namespace msgjson

#endif  // EN_TOOLS_MESSAGEJSON_H
