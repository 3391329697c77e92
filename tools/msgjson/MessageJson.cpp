#include "MessageJson.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <limits>
#include <new>

#include "BlobEntries.h"

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

// Objects and arrays deeper than this (the message form needs three
// levels) are refused, so that no input makes the reader walk forever.
constexpr size_t kMaxDepth = 100;

[[noreturn]] void Fail(const std::string& where, const std::string& why) { throw InputError(where + ": " + why); }

// One JSON value of an entry or of the message object as the parser
// reports it.  Objects and arrays are only noted: no key of the message
// form takes one.
struct Value {
    enum Type { Null, Boolean, Signed, Unsigned, Float, BigInteger, String, Array, Object } type = Null;
    int64_t i = 0;
    uint64_t u = 0;
    std::string text;  // a string, or the digits of a BigInteger
};

// An integer too large for 64 bits comes as a float with its own text.
Value FloatValue(const std::string& literal) {
    const bool integer = literal.find_first_of(".eE") == std::string::npos;
    return integer ? Value{Value::BigInteger, 0, 0, literal} : Value{Value::Float, 0, 0, {}};
}

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

// A place in the message, written out only for an error.
using Place = std::function<std::string()>;

// An integer JSON value within [lo, hi].
long long IntegerIn(const Value& v, long long lo, long long hi, const Place& where) {
    auto outOfRange = [&](const std::string& value) {
        Fail(where(), "value " + value + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    };
    long long x = 0;
    if (v.type == Value::BigInteger) outOfRange(v.text);
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

void FromHex(const Value& v, const Place& where, std::vector<unsigned char>& out) {
    if (v.type != Value::String) Fail(where(), "expected a hex string, found " + Describe(v));
    const std::string& s = v.text;
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

// Appends the code points of valid UTF-8 (the JSON parser has checked it)
// as 4-byte characters.
void AppendCodePoints(const std::string& s, std::vector<unsigned char>& out) {
    size_t at = out.size();
    out.resize(at + 4 * s.size());  // room for one code point a byte
    for (size_t i = 0; i < s.size(); at += 4) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        std::memcpy(out.data() + at, &cp, 4);
        i += n;
    }
    out.resize(at);
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
            out.reserve(4 * v.text.size() + 4);
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
uint32_t ParseTypeName(const std::string& name, const Place& where) {
    std::string n = name.compare(0, 3, "DT_") == 0 ? name.substr(3) : name;
    for (const NamedType& t : kTypeNames)
        if (n == t.name) return t.code;
    Fail(where(), "unknown type name \"" + name + "\"");
}

// The keys of one entry object as read so far.
struct EntryFields {
    std::optional<Value> id, type, value, raw;

    std::optional<Value>* Find(const std::string& key) {
        return key == "id" ? &id : key == "type" ? &type : key == "value" ? &value : key == "raw" ? &raw : nullptr;
    }
};

// Encodes one entry, entries[index], with the handle as scratch space: its
// header, value and padding.  bytes: room for the value.
void EncodeEntry(const EntryFields& e, size_t index, Handle& scratch, std::vector<unsigned char>& bytes) {
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
}

// "line L, column C" (1-based; C counts bytes) of a byte offset (0-based).
using PositionOf = std::function<std::string(size_t)>;

std::string LineAndColumn(size_t line, size_t column) {
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string Position(std::string_view text, size_t at, size_t firstLine) {
    at = std::min(at, text.size());
    const size_t line = firstLine + static_cast<size_t>(std::count(text.begin(), text.begin() + at, '\n'));
    const size_t lineStart = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
    return LineAndColumn(line, lineStart == std::string_view::npos ? at + 1 : at - lineStart);
}

// The same in a stream, read again from its start (only for an error).
std::string Position(std::istream& in, size_t at) {
    in.clear();
    if (!in.seekg(0)) return "byte offset " + std::to_string(at);
    size_t line = 1, lineStart = 0, done = 0;
    char buffer[1 << 16];
    while (done < at && in.read(buffer, static_cast<std::streamsize>(std::min(sizeof buffer, at - done))).gcount() > 0) {
        const size_t n = static_cast<size_t>(in.gcount());
        for (size_t i = 0; i < n; ++i)
            if (buffer[i] == '\n') ++line, lineStart = done + i + 1;
        done += n;
    }
    return LineAndColumn(line, at - lineStart + 1);
}

// The parser's events, turned into a message.  Depth 0 is outside any
// value, 1 inside the message object, 2 inside "entries", 3 inside an
// entry.  A value that no key of the message form takes (another key's,
// or an object where a number belongs) is skipped as a whole.
class MessageReader {
public:
    using json = nlohmann::json;

    MessageReader(const PositionOf& position, const EntrySink& sink) : m_position(position), m_sink(sink) {}

    bool null() { return Scalar(Value{}); }
    bool boolean(bool) { return Scalar(Value{Value::Boolean, 0, 0, {}}); }
    bool number_integer(json::number_integer_t v) { return Scalar(Value{Value::Signed, v, 0, {}}); }
    bool number_unsigned(json::number_unsigned_t v) { return Scalar(Value{Value::Unsigned, 0, v, {}}); }
    bool number_float(json::number_float_t, const std::string& literal) { return Scalar(FloatValue(literal)); }
    bool string(std::string& s) { return Scalar(Value{Value::String, 0, 0, std::move(s)}); }
    bool binary(json::binary_t&) { return Scalar(Value{}); }
    bool key(std::string& k) {
        if (m_skipFrom == 0) m_key = std::move(k);
        return true;
    }
    bool start_object(size_t) { return Open(Value::Object); }
    bool start_array(size_t) { return Open(Value::Array); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }

    bool parse_error(size_t position, const std::string& token, const nlohmann::detail::exception& e) {
        // position counts the bytes read: up to the character where reading
        // stopped, or to the end of a number too large for a double.
        if (e.id == 406)
            throw InputError(m_position(position - std::min(position, token.size())) +
                             ": number out of range: " + token);
        const std::string where = m_position(position == 0 ? 0 : position - 1);
        // "syntax error while parsing ..." without the library's prefix and position.
        const std::string what = e.what();
        const size_t column = what.find(", column ");
        const size_t colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
        throw InputError(where + ": " + (colon == std::string::npos ? what : what.substr(colon + 2)));
    }

    Message Finish(const Overrides& overrides) {
        Message m;
        if (overrides.kind) {
            m.kind = *overrides.kind;
        } else {
            if (!m_kind) Fail("kind", "missing (\"log\" or \"register\")");
            if (m_kind->type != Value::String || (m_kind->text != "log" && m_kind->text != "register"))
                Fail("kind", "expected \"log\" or \"register\"");
            m.kind = m_kind->text == "log" ? Kind::Log : Kind::Register;
        }
        if (overrides.msgType) {
            m.msgType = *overrides.msgType;
        } else if (m.kind == Kind::Log) {
            if (!m_msgType) Fail("msgtype", "missing (required for a log message)");
            m.msgType = static_cast<int32_t>(IntegerIn(*m_msgType, std::numeric_limits<int32_t>::min(),
                                                       std::numeric_limits<int32_t>::max(), [] { return "msgtype"; }));
        }
        if (!m_entriesSeen) Fail("entries", "missing");
        m.blob = std::move(m_blob);
        return m;
    }

private:
    std::string EntryPlace() const { return "entries[" + std::to_string(m_entries) + "]"; }

    // The place of a value at the current depth, for errors.
    std::string Where() const {
        if (m_depth == 0) return "message";
        if (m_depth == 1) return m_key;
        if (m_depth == 2) return EntryPlace();
        return EntryPlace() + "." + m_key;
    }

    bool Scalar(Value v) {
        if (m_skipFrom == 0) Take(std::move(v));
        return true;
    }

    bool Open(Value::Type type) {
        if (m_depth == kMaxDepth) Fail(m_skipFrom ? m_skipPlace : Where(), "nested deeper than " + std::to_string(kMaxDepth) + " levels");
        if (m_skipFrom == 0) {
            const bool message = m_depth == 0 && type == Value::Object;
            const bool entries = m_depth == 1 && m_key == "entries" && type == Value::Array;
            const bool entry = m_depth == 2 && m_inEntries && type == Value::Object;
            if (message || entries || entry) {
                if (entries) {
                    if (m_entriesSeen) Fail("entries", "given more than once");
                    m_entriesSeen = m_inEntries = true;
                }
                if (entry) m_entry = EntryFields{};
                ++m_depth;
                return true;
            }
            Take(Value{type, 0, 0, {}});
            m_skipFrom = m_depth + 1;
            m_skipPlace = Where();
        }
        ++m_depth;
        return true;
    }

    bool Close() {
        if (m_skipFrom == m_depth) m_skipFrom = 0;
        --m_depth;
        if (m_skipFrom != 0) return true;
        if (m_depth == 2 && m_inEntries) {
            EncodeEntry(m_entry, m_entries, m_scratch, m_bytes);
            const auto* p = static_cast<const unsigned char*>(En_Msg_GetBuffer(m_scratch.get()));
            const size_t n = En_Msg_BytesUsed(m_scratch.get());
            if (m_size + n > 0xFFFFFFFFu) Fail(EntryPlace(), "the message would exceed 4 GiB");
            m_size += n;
            if (m_sink)
                m_sink(p, n);
            else
                m_blob.insert(m_blob.end(), p, p + n);
            ++m_entries;
        } else if (m_depth == 1) {
            m_inEntries = false;
        }
        return true;
    }

    // A value where the message form expects one at this depth.
    void Take(Value v) {
        if (m_depth == 0) {
            throw InputError("a JSON " + std::string(v.type == Value::Array ? "array" : v.type == Value::String ? "string"
                                                                                  : v.type == Value::Null     ? "null"
                                                                                  : v.type == Value::Boolean  ? "boolean"
                                                                                                              : "number") +
                             ", expected a message object");
        } else if (m_depth == 1) {
            if (m_key == "kind") m_kind = std::move(v);
            if (m_key == "msgtype") m_msgType = std::move(v);
            if (m_key == "entries") Fail("entries", "expected an array, found " + Describe(v));
        } else if (m_depth == 2 && m_inEntries) {
            Fail(EntryPlace(), "expected an entry object, found " + Describe(v));
        } else if (m_depth == 3 && m_inEntries) {
            std::optional<Value>* field = m_entry.Find(m_key);
            if (field == nullptr)
                Fail(EntryPlace(), "unknown key \"" + m_key + "\" (an entry has \"id\", \"type\", \"value\" or \"raw\")");
            *field = std::move(v);
        }
    }

    const PositionOf& m_position;
    const EntrySink& m_sink;
    size_t m_depth = 0;
    size_t m_skipFrom = 0;  // depth of the value being skipped, 0 for none
    std::string m_skipPlace;
    std::string m_key;
    std::optional<Value> m_kind, m_msgType;
    bool m_entriesSeen = false, m_inEntries = false;
    size_t m_entries = 0;  // entries read
    EntryFields m_entry;
    Handle m_scratch;
    uint64_t m_size = 0;
    std::vector<unsigned char> m_bytes;  // of one value
    std::vector<unsigned char> m_blob;
};

// Decoding.

bool IsScalarValue(uint32_t cp) { return cp < 0x110000 && (cp < 0xD800 || cp > 0xDFFF); }

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool IsUtf8(const unsigned char* p, size_t n) {
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        size_t len;
        uint32_t cp, min;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || !IsScalarValue(cp)) return false;
        i += len;
    }
    return true;
}

std::string ToHex(const unsigned char* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(n * 2, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = kDigits[p[i] >> 4];
        out[2 * i + 1] = kDigits[p[i] & 0x0F];
    }
    return out;
}

template <class T>
T Read(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The typed form of a value well formed for its type (as the blob reader
// judges it) whose text is valid Unicode, or a discarded (null) value.
nlohmann::ordered_json TypedForm(uint32_t type, const unsigned char* p, uint32_t len) {
    if (type < DT_STRING || type > DT_UINT32 || CheckEntryValue(type, p, len) != 0) return nullptr;
    switch (type) {
        case DT_STRING:
            if (!IsUtf8(p, len - 1)) break;
            return std::string(reinterpret_cast<const char*>(p), len - 1);
        case DT_WSTRING: {
            std::string text;
            for (uint32_t i = 0; i + 4 < len; i += 4) {
                const uint32_t cp = Read<uint32_t>(p + i);
                if (!IsScalarValue(cp)) return nullptr;
                AppendUtf8(text, cp);
            }
            return text;
        }
        case DT_BYTES: return ToHex(p, len);
        case DT_INT16: return Read<int16_t>(p);
        case DT_UINT16: return Read<uint16_t>(p);
        case DT_INT32: return Read<int32_t>(p);
        case DT_UINT32: return Read<uint32_t>(p);
        default: break;
    }
    return nullptr;
}

std::string ValueFault(int code, const CBlobEntryHeader& e) {
    const std::string size = std::to_string(e.nDataLength) + " bytes";
    switch (code) {
        case BLOB_ERR_INT_LENGTH:
            return "an integer value of " + size + ", " + TypeName(e.nDataType) + " takes " +
                   (e.nDataType <= DT_UINT16 ? "2" : "4");
        case BLOB_ERR_BAD_STRING: return "a narrow string of " + size + " without its terminating zero byte";
        default: return "a wide string of " + size + " that is not 4-byte characters ending in a 4-byte zero";
    }
}

// The fault of the entry at pos, or "": the header and value walk of the
// blob reader, the value checked with checkValues.
std::string EntryFault(const unsigned char* blob, size_t size, size_t pos, size_t index, bool checkValues,
                       CBlobEntryHeader& e, int& rc) {
    rc = ReadEntryHeader(blob, size, pos, e);
    const std::string where = "byte offset " + std::to_string(pos) + ": entry " + std::to_string(index);
    const size_t left = size - pos;
    if (rc == BLOB_ERR_SHORT_HEADER)
        return where + ": short header (" + std::to_string(left) + " bytes left, a header has " +
               std::to_string(BLOB_ENTRY_HEADER_SIZE) + ")";
    const std::string entry = where + " (id " + std::to_string(e.nID) + ", type " + std::to_string(e.nDataType) + "): ";
    if (rc == BLOB_ERR_VALUE_OVERRUN)
        return entry + "value of " + std::to_string(e.nDataLength) + " bytes runs past the end (" +
               std::to_string(left - BLOB_ENTRY_HEADER_SIZE) + " bytes left)";
    if (rc == 0 && checkValues) {
        const int value = CheckEntryValue(e.nDataType, e.pValue, e.nDataLength);
        if (value != 0) return entry + ValueFault(value, e);
    }
    return "";
}

}  // namespace

Message ReadMessage(std::string_view text, const Overrides& overrides, size_t firstLine, const EntrySink& sink) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte order mark
    const PositionOf position = [&](size_t at) { return Position(text, at, firstLine); };
    MessageReader reader(position, sink);
    nlohmann::json::sax_parse(text.begin(), text.end(), &reader);
    return reader.Finish(overrides);
}

Message ReadMessage(std::istream& in, const Overrides& overrides, const EntrySink& sink) {
    const PositionOf position = [&](size_t at) { return Position(in, at); };
    MessageReader reader(position, sink);
    try {
        nlohmann::json::sax_parse(in, &reader);
    } catch (const std::ios_base::failure&) {  // a file buffer that cannot read
        throw InputError(std::string("read error: ") + std::strerror(errno));
    }
    return reader.Finish(overrides);
}

Message FromJson(const nlohmann::json& object, const Overrides& overrides) {
    return ReadMessage(object.dump(), overrides);
}

const char* TypeName(uint32_t code) {
    for (const NamedType& t : kTypeNames)
        if (t.code == code) return t.name;
    return nullptr;
}

std::string BlobFault(const unsigned char* blob, size_t size, bool checkValues) {
    CBlobEntryHeader e{};
    int rc = 0;
    for (size_t pos = 0, index = 0; rc == 0; pos = e.nNext, ++index) {
        std::string fault = EntryFault(blob, size, pos, index, checkValues, e, rc);
        if (!fault.empty()) return fault;
    }
    return "";
}

void DecodeEntries(const unsigned char* blob, size_t size, const std::function<void(const nlohmann::ordered_json&)>& each) {
    CBlobEntryHeader e{};
    int rc = 0;
    for (size_t pos = 0, index = 0;; pos = e.nNext, ++index) {
        const std::string fault = EntryFault(blob, size, pos, index, false, e, rc);
        if (!fault.empty()) throw InputError(fault);
        if (rc != 0) return;
        nlohmann::ordered_json entry;
        entry["id"] = e.nID;
        if (const char* name = TypeName(e.nDataType))
            entry["type"] = name;
        else
            entry["type"] = e.nDataType;
        nlohmann::ordered_json typed = TypedForm(e.nDataType, e.pValue, e.nDataLength);
        if (!typed.is_null())
            entry["value"] = std::move(typed);
        else if (e.nDataLength != 0 || (e.nDataType >= DT_STRING && e.nDataType <= DT_UINT32))
            entry["raw"] = ToHex(e.pValue, e.nDataLength);
        each(entry);
    }
}

std::optional<int32_t> MsgTypeEntry(const unsigned char* blob, size_t size) {
    CBlobEntryHeader e{};
    for (size_t pos = 0; ReadEntryHeader(blob, size, pos, e) == 0; pos = e.nNext)
        if (e.nID == 11 && e.nDataType == DT_UINT32 && e.nDataLength == 4)
            return static_cast<int32_t>(Read<uint32_t>(e.pValue));
    return std::nullopt;
}

Handle::Handle() : m_h(En_Msg_Create()) {
    if (m_h == nullptr) throw std::bad_alloc();
}

Handle::Handle(const std::vector<unsigned char>& blob) : Handle() {
    int rc = En_Msg_Load(m_h, blob.data(), blob.size());
    if (rc == EN_MSG_ENOMEM) {
        En_Msg_Destroy(m_h);
        throw std::bad_alloc();
    }
    if (rc != EN_MSG_OK) {
        En_Msg_Destroy(m_h);
        throw InputError("message of " + std::to_string(blob.size()) + " bytes cannot be loaded");
    }
}

Handle::~Handle() { En_Msg_Destroy(m_h); }

}  // namespace msgjson
