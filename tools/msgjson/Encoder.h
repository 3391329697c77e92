// Encoder.h - one entry of the JSON message form into its encoded bytes,
// from the JSON values the reader found (internal to the message form).
#ifndef EN_TOOLS_MSGJSON_ENCODER_H
#define EN_TOOLS_MSGJSON_ENCODER_H

#include <cstdint>
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

// A place in the message, written out only for an error: a key of the
// message object ("msgtype"), or entries[index] with its key, if any
// ("entries[3].value").
struct Place {
    std::string_view key;
    size_t index = kMessage;
    static constexpr size_t kMessage = ~size_t(0);

    std::string Text() const;
};

[[noreturn]] void Fail(const std::string& where, const std::string& why);
[[noreturn]] void Fail(const Place& where, const std::string& why);

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
    size_t size;  // of the entry in the blob: header, value and padding
};

// Appends one entry, entries[index], to the handle: its header, value and
// padding ("name" is left to the caller), the value converted straight into
// the handle's buffer.
EntryHead EncodeEntry(const EntryFields& e, size_t index, Handle& out);

}  // namespace msgjson::detail

#endif  // EN_TOOLS_MSGJSON_ENCODER_H
