// The entries of the JSON message form encoded: type names, typed values
// and raw bytes.
#include "Encoder.h"

#include <cstring>
#include <limits>
#include <new>

#include "Utf8.h"

namespace msgjson {

namespace {

struct NamedType {
    const char* name;
    uint32_t code;
};

const NamedType kTypeNames[] = {
    {"STRING", DT_STRING}, {"WSTRING", DT_WSTRING}, {"BYTES", DT_BYTES},
    {"INT16", DT_INT16},   {"UINT16", DT_UINT16},   {"INT32", DT_INT32},
    {"UINT32", DT_UINT32}, {"GROUP", DT_GROUP},     {"END_OF_GROUP", DT_END_OF_GROUP},
};

}  // namespace

const char* TypeName(uint32_t code) {
    for (const NamedType& t : kTypeNames)
        if (t.code == code) return t.name;
    return nullptr;
}

namespace detail {

namespace {

void FromHex(const Value& v, const Place& where, std::vector<unsigned char>& out) {
    if (v.type != Value::String) Fail(where(), "expected a hex string, found " + Describe(v));
    const std::string_view s = v.text;
    if (s.size() % 2 != 0) Fail(where(), "hex string has an odd number of digits");
    out.resize(s.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) Fail(where(), "'" + std::string(1, c) + "' at position " + std::to_string(i) + " is not a hex digit");
        out[i / 2] = static_cast<unsigned char>(i % 2 == 0 ? d << 4 : out[i / 2] | d);
    }
}

template <class T>
void AppendBytes(std::vector<unsigned char>& out, T v) {
    unsigned char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    out.insert(out.end(), bytes, bytes + sizeof v);
}

// The bytes of a typed value into out.
void TypedValue(uint32_t type, const Value& v, const Place& where, std::vector<unsigned char>& out) {
    out.clear();
    switch (type) {
        case DT_STRING:
            if (v.type != Value::String) Fail(where(), "expected a string, found " + Describe(v));
            out.assign(v.text.begin(), v.text.end());
            out.push_back(0);
            return;
        case DT_WSTRING:
            if (v.type != Value::String) Fail(where(), "expected a string, found " + Describe(v));
            if (v.text.size() < out.max_size() / 4 - 1) out.reserve(4 * v.text.size() + 4);
            AppendCodePoints(v.text, out);
            AppendBytes<uint32_t>(out, 0);
            return;
        case DT_BYTES: return FromHex(v, where, out);
        case DT_INT16: return AppendBytes(out, static_cast<int16_t>(IntegerIn(v, -32768, 32767, where)));
        case DT_UINT16: return AppendBytes(out, static_cast<uint16_t>(IntegerIn(v, 0, 65535, where)));
        case DT_INT32:
            return AppendBytes(out, static_cast<int32_t>(IntegerIn(v, std::numeric_limits<int32_t>::min(),
                                                                   std::numeric_limits<int32_t>::max(), where)));
        case DT_UINT32: return AppendBytes(out, static_cast<uint32_t>(IntegerIn(v, 0, 0xFFFFFFFFLL, where)));
        default: Fail(where(), "a value is allowed only for types 1 to 7 (use \"raw\")");
    }
}

// The data type code of a "type" name, with or without prefix DT_.
uint32_t ParseTypeName(std::string_view name, const Place& where) {
    const std::string_view n = name.substr(0, 3) == "DT_" ? name.substr(3) : name;
    for (const NamedType& t : kTypeNames)
        if (n == t.name) return t.code;
    Fail(where(), "unknown type name \"" + std::string(name) + "\"");
}

}  // namespace

[[noreturn]] void Fail(const std::string& where, const std::string& why) { throw InputError(where + ": " + why); }

std::string Describe(const Value& v) {
    switch (v.type) {
        case Value::Null: return "null";
        case Value::Boolean: return "a boolean";
        case Value::String: return "a string";
        case Value::Array: return "an array";
        case Value::Object: return "an object";
        case Value::Float: return "a non-integer number";
        default: return "a number";
    }
}

long long IntegerIn(const Value& v, long long lo, long long hi, const Place& where) {
    auto outOfRange = [&](const std::string& value) {
        Fail(where(), "value " + value + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    };
    long long x = 0;
    if (v.type == Value::BigInteger) outOfRange(std::string(v.text));
    if (v.type == Value::Unsigned) {
        if (v.u > static_cast<uint64_t>(hi)) outOfRange(std::to_string(v.u));
        x = static_cast<long long>(v.u);
    } else if (v.type == Value::Signed) {
        x = v.i;
    } else {
        Fail(where(), "expected an integer, found " + Describe(v));
    }
    if (x < lo || x > hi) outOfRange(std::to_string(x));
    return x;
}

EntryHead EncodeEntry(const EntryFields& e, size_t index, Handle& scratch, std::vector<unsigned char>& bytes) {
    auto place = [index](const char* key) -> Place {
        return [index, key] { return "entries[" + std::to_string(index) + "]" + key; };
    };
    const Place where = place(""), atValue = place(".value");
    if (!e.id) Fail(where(), "missing \"id\"");
    const uint32_t nID = static_cast<uint32_t>(IntegerIn(*e.id, 0, 0xFFFFFFFFLL, place(".id")));
    if (!e.type) Fail(where(), "missing \"type\"");
    const uint32_t nType = e.type->type == Value::String
                               ? ParseTypeName(e.type->text, place(".type"))
                               : static_cast<uint32_t>(IntegerIn(*e.type, 0, 0xFFFFFFFFLL, place(".type")));
    const bool typed = nType >= DT_STRING && nType <= DT_UINT32;
    if (e.value && e.raw) Fail(where(), "give either \"value\" or \"raw\", not both");
    bytes.clear();
    if (e.raw) {
        FromHex(*e.raw, place(".raw"), bytes);
    } else if (e.value) {
        if (!typed) Fail(atValue(), "type " + std::to_string(nType) + " takes no value (use \"raw\")");
        TypedValue(nType, *e.value, atValue, bytes);
    } else if (typed) {
        Fail(where(), "missing \"value\" for type " + std::to_string(nType));
    }
    if (bytes.size() > 0xFFFFFFFFu) Fail(where(), "value too large");
    En_Msg_Clear(scratch.get());
    const int rc = En_Msg_AppendEntry(scratch.get(), nID, nType, bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (rc == EN_MSG_ENOMEM) throw std::bad_alloc();
    if (rc != EN_MSG_OK) Fail(where(), "the message would exceed 4 GiB");
    return {nID, nType};
}

}  // namespace detail

}  // namespace msgjson
