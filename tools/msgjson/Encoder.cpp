// The entries of the JSON message form encoded: type names, typed values
// and raw bytes.
#include "Encoder.h"

#include <algorithm>
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

void PutU32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

// The size of an entry whose value has len bytes: header, value, padding.
size_t EntrySize(uint64_t len) { return 12 + static_cast<size_t>(len) + ((4 - (len & 3)) & 3); }

// The header and padding of an entry at p whose value has len bytes; its size.
size_t PutHeader(unsigned char* p, uint32_t id, uint32_t type, uint32_t len) {
    const size_t size = EntrySize(len);
    PutU32(p + size - 4, 0);  // the padding, if any (an entry is at least 12 bytes)
    PutU32(p, id);
    PutU32(p + 4, type);
    PutU32(p + 8, len);
    return size;
}

// An entry of out with len value bytes, its header and padding written;
// where the value goes.  size is set to the entry's size.
unsigned char* Append(BlobWriter& out, uint32_t id, uint32_t type, uint64_t len, const Place& entry, size_t& size) {
    if (len > 0xFFFFFFFFu) Fail(entry, "value too large");
    unsigned char* p = out.Room(EntrySize(len), entry.index);
    size = PutHeader(p, id, type, static_cast<uint32_t>(len));
    out.Wrote(size);
    return p + 12;
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
void AppendNumber(BlobWriter& out, uint32_t id, uint32_t type, T v, const Place& entry, size_t& size) {
    std::memcpy(Append(out, id, type, sizeof v, entry, size), &v, sizeof v);
}

// A typed value appended as an entry.
void TypedValue(BlobWriter& out, uint32_t id, uint32_t type, const Value& v, const Place& where, const Place& entry,
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
            // Written before the header: a character for each byte at most,
            // counted exactly first only where that bound would reach 4 GiB.
            const uint64_t most = v.text.size() < (1u << 28) ? v.text.size() : CodePointCount(v.text);
            if (4 * (most + 1) > 0xFFFFFFFFu) Fail(entry, "value too large");
            unsigned char* p = out.Room(EntrySize(4 * (most + 1)), entry.index);
            const size_t n = PutCodePoints(v.text, p + 12);
            std::memset(p + 12 + 4 * n, 0, 4);
            size = PutHeader(p, id, type, static_cast<uint32_t>(4 * (n + 1)));
            out.Wrote(size);
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

BlobWriter::BlobWriter(Handle& out, size_t expected) : m_out(out) {
    m_out.Clear();
    Room(expected, 0);
}

BlobWriter::~BlobWriter() { En_Msg_Resize(m_out.get(), m_used); }  // never fails: no larger

unsigned char* BlobWriter::Grow(size_t n, size_t index) {
    constexpr uint64_t kMost = 0xFFFFFFFFu;  // bytes in a message
    if (n > kMost - m_used || m_passed + m_used + n > kMost) Fail(Place{{}, index}, "the message would exceed 4 GiB");
    const size_t room = static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>({m_used + n, 2 * uint64_t(m_room), 4096}), kMost));
    void* p = En_Msg_Resize(m_out.get(), room);
    if (p == nullptr) throw std::bad_alloc();
    m_data = static_cast<unsigned char*>(p);
    m_room = room;
    return m_data + m_used;
}

void BlobWriter::Pass(const EntrySink& sink) {
    sink(m_data, m_used);
    m_passed += m_used;
    m_used = 0;
}

EntryHead EncodeEntry(const EntryFields& e, size_t index, BlobWriter& out) {
    const Place where{{}, index};
    const Value* const id = e.Get(EntryFields::kId);
    const Value* const type = e.Get(EntryFields::kType);
    const Value* const value = e.Get(EntryFields::kValue);
    const Value* const raw = e.Get(EntryFields::kRaw);
    if (id == nullptr) Fail(where, "missing \"id\"");
    const uint32_t nID = static_cast<uint32_t>(UInt32(*id, Place{"id", index}));
    if (type == nullptr) Fail(where, "missing \"type\"");
    const Place atType{"type", index};
    const uint32_t nType = type->type == Value::String ? ParseTypeName(type->text, atType)
                                                       : static_cast<uint32_t>(UInt32(*type, atType));
    const bool typed = nType >= DT_STRING && nType <= DT_UINT32;
    size_t size = 0;
    if (value != nullptr && raw != nullptr) Fail(where, "give either \"value\" or \"raw\", not both");
    if (raw != nullptr) {
        const Place atRaw{"raw", index};
        CheckHex(*raw, atRaw);
        PutHex(raw->text, atRaw, Append(out, nID, nType, raw->text.size() / 2, where, size));
    } else if (value != nullptr) {
        const Place atValue{"value", index};
        if (!typed) Fail(atValue, "type " + std::to_string(nType) + " takes no value (use \"raw\")");
        TypedValue(out, nID, nType, *value, atValue, where, size);
    } else if (typed) {
        Fail(where, "missing \"value\" for type " + std::to_string(nType));
    } else {
        Append(out, nID, nType, 0, where, size);
    }
    return {nID, nType, size};
}

}  // namespace detail

}  // namespace msgjson
