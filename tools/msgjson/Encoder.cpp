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

int HexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// An entry appended to out, with len bytes of room for the value at the
// returned place; size is set to the entry's size.
unsigned char* Append(Handle& out, uint32_t id, uint32_t type, uint64_t len, const Place& entry, size_t& size) {
    if (len > 0xFFFFFFFFu) Fail(entry, "value too large");
    unsigned char* value = nullptr;
    const int rc = out.Append(id, type, static_cast<uint32_t>(len), value);
    if (rc == EN_MSG_ENOMEM) throw std::bad_alloc();
    if (rc != EN_MSG_OK) Fail(entry, "the message would exceed 4 GiB");
    size = 12 + static_cast<size_t>(len) + ((4 - (len & 3)) & 3);
    return value;
}

void CheckHex(const Value& v, const Place& where) {
    if (v.type != Value::String) Fail(where, "expected a hex string, found " + Describe(v));
    if (v.text.size() % 2 != 0) Fail(where, "hex string has an odd number of digits");
}

// The bytes of a hex string (CheckHex) into out.
void PutHex(std::string_view s, const Place& where, unsigned char* out) {
    for (size_t i = 0; i < s.size(); i += 2) {
        const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
        if (hi < 0 || lo < 0) {
            const size_t at = hi < 0 ? i : i + 1;
            Fail(where, "'" + std::string(1, s[at]) + "' at position " + std::to_string(at) + " is not a hex digit");
        }
        out[i / 2] = static_cast<unsigned char>(hi << 4 | lo);
    }
}

template <class T>
void AppendNumber(Handle& out, uint32_t id, uint32_t type, T v, const Place& entry, size_t& size) {
    std::memcpy(Append(out, id, type, sizeof v, entry, size), &v, sizeof v);
}

// A typed value appended as an entry.
void TypedValue(Handle& out, uint32_t id, uint32_t type, const Value& v, const Place& where, const Place& entry,
                size_t& size) {
    switch (type) {
        case DT_STRING: {
            if (v.type != Value::String) Fail(where, "expected a string, found " + Describe(v));
            unsigned char* p = Append(out, id, type, uint64_t(v.text.size()) + 1, entry, size);
            std::memcpy(p, v.text.data(), v.text.size());
            p[v.text.size()] = 0;
            return;
        }
        case DT_WSTRING: {
            if (v.type != Value::String) Fail(where, "expected a string, found " + Describe(v));
            const uint64_t n = CodePointCount(v.text);
            unsigned char* p = Append(out, id, type, 4 * (n + 1), entry, size);
            PutCodePoints(v.text, p);
            std::memset(p + 4 * n, 0, 4);
            return;
        }
        case DT_BYTES:
            CheckHex(v, where);
            return PutHex(v.text, where, Append(out, id, type, v.text.size() / 2, entry, size));
        case DT_INT16: return AppendNumber(out, id, type, static_cast<int16_t>(IntegerIn(v, -32768, 32767, where)), entry, size);
        case DT_UINT16: return AppendNumber(out, id, type, static_cast<uint16_t>(IntegerIn(v, 0, 65535, where)), entry, size);
        case DT_INT32:
            return AppendNumber(out, id, type,
                                static_cast<int32_t>(IntegerIn(v, std::numeric_limits<int32_t>::min(),
                                                               std::numeric_limits<int32_t>::max(), where)),
                                entry, size);
        case DT_UINT32:
            return AppendNumber(out, id, type, static_cast<uint32_t>(IntegerIn(v, 0, 0xFFFFFFFFLL, where)), entry, size);
        default: Fail(where, "a value is allowed only for types 1 to 7 (use \"raw\")");
    }
}

// IntegerIn(v, 0, 0xFFFFFFFF, where), the common case first.
inline long long UInt32(const Value& v, const Place& where) {
    return v.type == Value::Signed && v.i >= 0 && v.i <= 0xFFFFFFFFLL ? v.i : IntegerIn(v, 0, 0xFFFFFFFFLL, where);
}

// The data type code of a "type" name, with or without prefix DT_.
uint32_t ParseTypeName(std::string_view name, const Place& where) {
    const std::string_view n = name.substr(0, 3) == "DT_" ? name.substr(3) : name;
    for (const NamedType& t : kTypeNames)
        if (n == t.name) return t.code;
    Fail(where, "unknown type name \"" + std::string(name) + "\"");
}

}  // namespace

std::string Place::Text() const {
    if (index == kMessage) return std::string(key);
    std::string text = "entries[" + std::to_string(index) + "]";
    if (!key.empty()) text.append(".").append(key);
    return text;
}

[[noreturn]] void Fail(const std::string& where, const std::string& why) { throw InputError(where + ": " + why); }

[[noreturn]] void Fail(const Place& where, const std::string& why) { Fail(where.Text(), why); }

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
        Fail(where, "value " + value + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    };
    long long x = 0;
    if (v.type == Value::BigInteger) outOfRange(std::string(v.text));
    if (v.type == Value::Unsigned) {
        if (v.u > static_cast<uint64_t>(hi)) outOfRange(std::to_string(v.u));
        x = static_cast<long long>(v.u);
    } else if (v.type == Value::Signed) {
        x = v.i;
    } else {
        Fail(where, "expected an integer, found " + Describe(v));
    }
    if (x < lo || x > hi) outOfRange(std::to_string(x));
    return x;
}

EntryHead EncodeEntry(const EntryFields& e, size_t index, Handle& out) {
    const Place where{{}, index};
    if (!e.id) Fail(where, "missing \"id\"");
    const uint32_t nID = static_cast<uint32_t>(UInt32(*e.id, Place{"id", index}));
    if (!e.type) Fail(where, "missing \"type\"");
    const Place atType{"type", index};
    const uint32_t nType = e.type->type == Value::String ? ParseTypeName(e.type->text, atType)
                                                         : static_cast<uint32_t>(UInt32(*e.type, atType));
    const bool typed = nType >= DT_STRING && nType <= DT_UINT32;
    size_t size = 0;
    if (e.value && e.raw) Fail(where, "give either \"value\" or \"raw\", not both");
    if (e.raw) {
        const Place atRaw{"raw", index};
        CheckHex(*e.raw, atRaw);
        PutHex(e.raw->text, atRaw, Append(out, nID, nType, e.raw->text.size() / 2, where, size));
    } else if (e.value) {
        const Place atValue{"value", index};
        if (!typed) Fail(atValue, "type " + std::to_string(nType) + " takes no value (use \"raw\")");
        TypedValue(out, nID, nType, *e.value, atValue, where, size);
    } else if (typed) {
        Fail(where, "missing \"value\" for type " + std::to_string(nType));
    } else {
        Append(out, nID, nType, 0, where, size);
    }
    return {nID, nType, size};
}

}  // namespace detail

}  // namespace msgjson
