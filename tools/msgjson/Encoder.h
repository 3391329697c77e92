// Encoder.h - one entry of the JSON message form into its encoded bytes,
// from the JSON values the reader found (internal to the message form).
#ifndef EN_TOOLS_MSGJSON_ENCODER_H
#define EN_TOOLS_MSGJSON_ENCODER_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MessageJson.h"

namespace msgjson::detail {

// One JSON value of an entry or of the message object as the parser
// reports it.  Objects and arrays are only noted: no key of the message
// form takes one.
struct Value {
    enum Type { Null, Boolean, Signed, Unsigned, Float, BigInteger, String, Array, Object } type = Null;
    int64_t i = 0;
    uint64_t u = 0;
    std::string_view text;  // a string, or the digits of a BigInteger (in the parser's buffers)
};

// "a string", "an array", ...: what a value is, for an error.
std::string Describe(const Value& v);

// A place in the message, written out only for an error.
using Place = std::function<std::string()>;

[[noreturn]] void Fail(const std::string& where, const std::string& why);

// An integer JSON value within [lo, hi].
long long IntegerIn(const Value& v, long long lo, long long hi, const Place& where);

// The keys of one entry object as read so far.
struct EntryFields {
    std::optional<Value> id, name, type, value, raw;

    std::optional<Value>* Find(std::string_view key) {
        return key == "id"      ? &id
               : key == "name"  ? &name
               : key == "type"  ? &type
               : key == "value" ? &value
               : key == "raw"   ? &raw
                                : nullptr;
    }
};

struct EntryHead {
    uint32_t id;
    uint32_t type;
};

// Encodes one entry, entries[index], with the handle as scratch space: its
// header, value and padding ("name" is left to the caller).  bytes: room
// for the value.
EntryHead EncodeEntry(const EntryFields& e, size_t index, Handle& scratch, std::vector<unsigned char>& bytes);

}  // namespace msgjson::detail

#endif  // EN_TOOLS_MSGJSON_ENCODER_H
