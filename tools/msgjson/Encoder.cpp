// The entries of the JSON message form encoded: type names, typed values
// and raw bytes.
#include "Encoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "Utf8.h"

namespace msgjson::detail {

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
// where the value goes, or null.  size is set to the entry's size.
unsigned char* Append(BlobWriter& out, uint32_t id, uint32_t type, uint64_t len, const Place& entry, size_t& size) {
    if (len > 0xFFFFFFFFu) return out.fault().At(entry, "value too large"), nullptr;
    unsigned char* p = out.Room(EntrySize(len), entry.index);
    if (p == nullptr) return nullptr;
    size = PutHeader(p, id, type, static_cast<uint32_t>(len));
    out.Wrote(size);
    return p + 12;
}

bool CheckHex(const Value& v, const Place& where, Fault& fault) {
    if (v.type != Value::String) return fault.At(where, "expected a hex string, found ", Describe(v));
    if (v.text.size() % 2 != 0) return fault.At(where, "hex string has an odd number of digits");
    return true;
}

// The bytes of a hex string (CheckHex) into out, an entry's value (null
// when it could not be appended).
bool PutHex(std::string_view s, const Place& where, Fault& fault, unsigned char* out) {
    if (out == nullptr) return false;
    for (size_t i = 0; i < s.size(); i += 2) {
        const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
        if (hi < 0 || lo < 0) {
            const size_t at = hi < 0 ? i : i + 1;
            return fault.At(where, "'", Part(s, at, 1), "' at position ", at, " is not a hex digit");
        }
        out[i / 2] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return true;
}

// An integer value within [lo, hi] appended as an entry of type T.
template <class T>
bool AppendNumber(BlobWriter& out, uint32_t id, uint32_t type, const Value& v, long long lo, long long hi,
                  const Place& where, const Place& entry, size_t& size) {
    const std::optional<long long> x = IntegerIn(v, lo, hi, where, out.fault());
    if (!x) return false;
    unsigned char* p = Append(out, id, type, sizeof(T), entry, size);
    if (p == nullptr) return false;
    const T t = static_cast<T>(*x);
    std::memcpy(p, &t, sizeof t);
    return true;
}

// A typed value appended as an entry.
bool TypedValue(BlobWriter& out, uint32_t id, uint32_t type, const Value& v, const Place& where, const Place& entry,
                size_t& size) {
    Fault& fault = out.fault();
    switch (type) {
        case DT_STRING: {
            if (v.type != Value::String) return fault.At(where, "expected a string, found ", Describe(v));
            unsigned char* p = Append(out, id, type, uint64_t(v.text.size()) + 1, entry, size);
            if (p == nullptr) return false;
            std::memcpy(p, v.text.data(), v.text.size());
            p[v.text.size()] = 0;
            return true;
        }
        case DT_WSTRING: {
            if (v.type != Value::String) return fault.At(where, "expected a string, found ", Describe(v));
            // Written before the header: a character for each byte at most,
            // counted exactly first only where that bound would reach 4 GiB.
            const uint64_t most = v.text.size() < (1u << 28) ? v.text.size() : CodePointCount(v.text);
            if (4 * (most + 1) > 0xFFFFFFFFu) return fault.At(entry, "value too large");
            unsigned char* p = out.Room(EntrySize(4 * (most + 1)), entry.index);
            if (p == nullptr) return false;
            const size_t n = PutCodePoints(v.text, p + 12);
            std::memset(p + 12 + 4 * n, 0, 4);
            size = PutHeader(p, id, type, static_cast<uint32_t>(4 * (n + 1)));
            out.Wrote(size);
            return true;
        }
        case DT_BYTES:
            return CheckHex(v, where, fault) &&
                   PutHex(v.text, where, fault, Append(out, id, type, v.text.size() / 2, entry, size));
        case DT_INT16: return AppendNumber<int16_t>(out, id, type, v, -32768, 32767, where, entry, size);
        case DT_UINT16: return AppendNumber<uint16_t>(out, id, type, v, 0, 65535, where, entry, size);
        case DT_INT32:
            return AppendNumber<int32_t>(out, id, type, v, std::numeric_limits<int32_t>::min(),
                                         std::numeric_limits<int32_t>::max(), where, entry, size);
        case DT_UINT32: return AppendNumber<uint32_t>(out, id, type, v, 0, 0xFFFFFFFFLL, where, entry, size);
        default: return fault.At(where, "a value is allowed only for types 1 to 7 (use \"raw\")");
    }
}

// A code (an ID or a type) for the header of an entry, or kNoCode once the
// fault is noted: a plain integer, which costs the main line less than an
// optional.
constexpr int64_t kNoCode = -1;

// IntegerIn(v, 0, 0xFFFFFFFF, where), the common case first.
inline int64_t UInt32(const Value& v, const Place& where, Fault& fault) {
    if (v.type == Value::Signed && v.i >= 0 && v.i <= 0xFFFFFFFFLL) return v.i;
    const std::optional<long long> x = IntegerIn(v, 0, 0xFFFFFFFFLL, where, fault);
    return x ? *x : kNoCode;
}

// The data type code of a "type" name, with or without prefix DT_.
int64_t ParseTypeName(std::string_view name, const Place& where, Fault& fault) {
    const std::string_view n = Part(name, 0, 3) == "DT_" ? Part(name, 3) : name;
    for (const NamedType& t : kTypeNames)
        if (n == t.name) return t.code;
    fault.At(where, "unknown type name \"", name, "\"");
    return kNoCode;
}

}  // namespace

void PutDecimal(Text& t, uint64_t magnitude, bool negative) {
    char digits[24];
    char* p = digits + sizeof digits;
    do *--p = static_cast<char>('0' + magnitude % 10);
    while ((magnitude /= 10) != 0);
    if (negative) *--p = '-';
    t.Add(std::string_view(p, static_cast<size_t>(digits + sizeof digits - p)));
}

bool Fault::NoMemory() {
    m_code = EN_MSGJSON_ENOMEM;
    return false;
}

bool Fault::Stopped() {
    m_code = EN_MSGJSON_ESTOPPED;
    return false;
}

void PutPiece(Text& t, const Place& p) {
    if (p.index == Place::kMessage) return t.Add(p.key);
    if (!t.Put("entries[", p.index, "]") || p.key.empty()) return;
    t.Add(".");
    t.Add(p.key);
}

const char* Describe(const Value& v) {
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

std::optional<long long> IntegerIn(const Value& v, long long lo, long long hi, const Place& where, Fault& fault) {
    const auto outOfRange = [&](const auto& value) {
        fault.At(where, "value ", value, " is out of range ", lo, "..", hi);
        return std::nullopt;
    };
    long long x = 0;
    if (v.type == Value::BigInteger) return outOfRange(v.text);
    if (v.type == Value::Unsigned) {
        if (static_cast<uint64_t>(v.i) > static_cast<uint64_t>(hi)) return outOfRange(static_cast<uint64_t>(v.i));
        x = v.i;
    } else if (v.type == Value::Signed) {
        x = v.i;
    } else {
        fault.At(where, "expected an integer, found ", Describe(v));
        return std::nullopt;
    }
    if (x < lo || x > hi) return outOfRange(x);
    return x;
}

BlobWriter::~BlobWriter() { En_Msg_Resize(m_out, m_used); }  // never fails: no larger

bool BlobWriter::Start(size_t expected) {
    En_Msg_Clear(m_out);
    return expected == 0 || Room(expected, 0) != nullptr;
}

unsigned char* BlobWriter::Grow(size_t n, size_t index) {
    constexpr uint64_t kMost = 0xFFFFFFFFu;  // bytes in a message
    if (n > kMost - m_used || m_passed + m_used + n > kMost)
        return m_fault.At(Place{{}, index}, "the message would exceed 4 GiB"), nullptr;
    const size_t room = static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>({m_used + n, 2 * uint64_t(m_room), 4096}), kMost));
    void* p = En_Msg_Resize(m_out, room);
    if (p == nullptr) return m_fault.NoMemory(), nullptr;
    m_data = static_cast<unsigned char*>(p);
    m_room = room;
    return m_data + m_used;
}

bool BlobWriter::Pass(const Sink& sink) {
    if (!sink.Give(m_data, m_used)) return m_fault.Stopped();
    m_passed += m_used;
    m_used = 0;
    return true;
}

EntryFields::Key EntryFields::Find(std::string_view key) {
    return key == "id"      ? kId
           : key == "name"  ? kName
           : key == "type"  ? kType
           : key == "value" ? kValue
           : key == "raw"   ? kRaw
                            : kKeys;
}

EntryHead EncodeEntry(const EntryFields& e, size_t index, BlobWriter& out) {
    constexpr EntryHead kNone{0, 0, 0};
    Fault& fault = out.fault();
    const Place where{{}, index};
    const Value* const id = e.Get(EntryFields::kId);
    const Value* const type = e.Get(EntryFields::kType);
    const Value* const value = e.Get(EntryFields::kValue);
    const Value* const raw = e.Get(EntryFields::kRaw);
    if (id == nullptr) return fault.At(where, "missing \"id\""), kNone;
    const int64_t idCode = UInt32(*id, Place{"id", index}, fault);
    if (idCode == kNoCode) return kNone;
    if (type == nullptr) return fault.At(where, "missing \"type\""), kNone;
    const Place atType{"type", index};
    const int64_t typeCode =
        type->type == Value::String ? ParseTypeName(type->text, atType, fault) : UInt32(*type, atType, fault);
    if (typeCode == kNoCode) return kNone;
    const auto nID = static_cast<uint32_t>(idCode), nType = static_cast<uint32_t>(typeCode);
    const bool typed = nType >= DT_STRING && nType <= DT_UINT32;
    size_t size = 0;
    if (value != nullptr && raw != nullptr) return fault.At(where, "give either \"value\" or \"raw\", not both"), kNone;
    if (raw != nullptr) {
        const Place atRaw{"raw", index};
        if (!CheckHex(*raw, atRaw, fault) ||
            !PutHex(raw->text, atRaw, fault, Append(out, nID, nType, raw->text.size() / 2, where, size)))
            return kNone;
    } else if (value != nullptr) {
        const Place atValue{"value", index};
        if (!typed) return fault.At(atValue, "type ", nType, " takes no value (use \"raw\")"), kNone;
        if (!TypedValue(out, nID, nType, *value, atValue, where, size)) return kNone;
    } else if (typed) {
        return fault.At(where, "missing \"value\" for type ", nType), kNone;
    } else if (Append(out, nID, nType, 0, where, size) == nullptr) {
        return kNone;
    }
    return {nID, nType, size};
}

}  // namespace msgjson::detail
