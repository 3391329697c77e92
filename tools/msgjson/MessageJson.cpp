#include "MessageJson.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "BlobReader.h"

namespace msgjson {

namespace {

using nlohmann::json;

struct NamedType {
    const char* name;
    uint32_t code;
};

const NamedType kTypeNames[] = {
    {"STRING", EN_DT_STRING}, {"WSTRING", EN_DT_WSTRING}, {"BYTES", EN_DT_BYTES},
    {"INT16", EN_DT_INT16},   {"UINT16", EN_DT_UINT16},   {"INT32", EN_DT_INT32},
    {"UINT32", EN_DT_UINT32}, {"GROUP", EN_DT_GROUP},     {"END_OF_GROUP", EN_DT_END_OF_GROUP},
};

[[noreturn]] void Fail(const std::string& where, const std::string& why) { throw InputError(where + ": " + why); }

std::string Describe(const json& v) {
    switch (v.type()) {
        case json::value_t::null: return "null";
        case json::value_t::boolean: return "a boolean";
        case json::value_t::string: return "a string";
        case json::value_t::array: return "an array";
        case json::value_t::object: return "an object";
        case json::value_t::number_float: return "a non-integer number";
        default: return "a number";
    }
}

// An integer JSON value within [lo, hi].
long long IntegerIn(const json& v, long long lo, long long hi, const std::string& where) {
    long long x;
    if (v.is_number_unsigned()) {
        uint64_t u = v.get<uint64_t>();
        if (u > static_cast<uint64_t>(hi)) Fail(where, "value " + std::to_string(u) + " is out of range " +
                                                           std::to_string(lo) + ".." + std::to_string(hi));
        x = static_cast<long long>(u);
    } else if (v.is_number_integer()) {
        x = v.get<long long>();
    } else {
        Fail(where, "expected an integer, found " + Describe(v));
    }
    if (x < lo || x > hi)
        Fail(where, "value " + std::to_string(x) + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    return x;
}

std::vector<unsigned char> FromHex(const json& v, const std::string& where) {
    if (!v.is_string()) Fail(where, "expected a hex string, found " + Describe(v));
    const std::string& s = v.get_ref<const std::string&>();
    if (s.size() % 2 != 0) Fail(where, "hex string has an odd number of digits");
    std::vector<unsigned char> out(s.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) Fail(where, "'" + std::string(1, c) + "' at position " + std::to_string(i) + " is not a hex digit");
        out[i / 2] = static_cast<unsigned char>(i % 2 == 0 ? d << 4 : out[i / 2] | d);
    }
    return out;
}

// Code points of valid UTF-8 (the JSON parser has checked it).
std::vector<uint32_t> CodePoints(const std::string& s) {
    std::vector<uint32_t> out;
    out.reserve(s.size() + 1);
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(cp);
        i += n;
    }
    return out;
}

template <class T>
std::vector<unsigned char> Bytes(T v) {
    std::vector<unsigned char> out(sizeof v);
    std::memcpy(out.data(), &v, sizeof v);
    return out;
}

std::vector<unsigned char> TypedValue(uint32_t type, const json& v, const std::string& where) {
    switch (type) {
        case EN_DT_STRING: {
            if (!v.is_string()) Fail(where, "expected a string, found " + Describe(v));
            const std::string& s = v.get_ref<const std::string&>();
            std::vector<unsigned char> out(s.begin(), s.end());
            out.push_back(0);
            return out;
        }
        case EN_DT_WSTRING: {
            if (!v.is_string()) Fail(where, "expected a string, found " + Describe(v));
            std::vector<uint32_t> cps = CodePoints(v.get_ref<const std::string&>());
            cps.push_back(0);
            std::vector<unsigned char> out(cps.size() * 4);
            std::memcpy(out.data(), cps.data(), out.size());
            return out;
        }
        case EN_DT_BYTES: return FromHex(v, where);
        case EN_DT_INT16: return Bytes(static_cast<int16_t>(IntegerIn(v, -32768, 32767, where)));
        case EN_DT_UINT16: return Bytes(static_cast<uint16_t>(IntegerIn(v, 0, 65535, where)));
        case EN_DT_INT32:
            return Bytes(static_cast<int32_t>(IntegerIn(v, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max(), where)));
        case EN_DT_UINT32: return Bytes(static_cast<uint32_t>(IntegerIn(v, 0, 0xFFFFFFFFLL, where)));
        default: Fail(where, "a value is allowed only for types 1 to 7 (use \"raw\")");
    }
}

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

// The typed form of a well-formed value, or a discarded (null) value.
nlohmann::ordered_json TypedForm(uint32_t type, const unsigned char* p, uint32_t len) {
    switch (type) {
        case EN_DT_STRING:
            if (len == 0 || p[len - 1] != 0 || !IsUtf8(p, len - 1)) break;
            return std::string(reinterpret_cast<const char*>(p), len - 1);
        case EN_DT_WSTRING: {
            if (len == 0 || len % 4 != 0 || Read<uint32_t>(p + len - 4) != 0) break;
            std::string text;
            for (uint32_t i = 0; i + 4 < len; i += 4) {
                const uint32_t cp = Read<uint32_t>(p + i);
                if (!IsScalarValue(cp)) return nullptr;
                AppendUtf8(text, cp);
            }
            return text;
        }
        case EN_DT_BYTES: return ToHex(p, len);
        case EN_DT_INT16: if (len == 2) return Read<int16_t>(p); break;
        case EN_DT_UINT16: if (len == 2) return Read<uint16_t>(p); break;
        case EN_DT_INT32: if (len == 4) return Read<int32_t>(p); break;
        case EN_DT_UINT32: if (len == 4) return Read<uint32_t>(p); break;
        default: break;
    }
    return nullptr;
}

}  // namespace

const char* TypeName(uint32_t code) {
    for (const NamedType& t : kTypeNames)
        if (t.code == code) return t.name;
    return nullptr;
}

nlohmann::ordered_json DecodeEntries(const unsigned char* blob, size_t size) {
    constexpr size_t kHeader = BLOB_ENTRY_HEADER_SIZE;
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (size_t pos = 0, index = 0; pos < size; ++index) {
        const std::string where = "byte offset " + std::to_string(pos) + ": entry " + std::to_string(index);
        const size_t left = size - pos;
        if (left < kHeader)
            throw InputError(where + ": short header (" + std::to_string(left) + " bytes left, a header has " + std::to_string(kHeader) + ")");
        const uint32_t id = Read<uint32_t>(blob + pos), type = Read<uint32_t>(blob + pos + 4),
                       len = Read<uint32_t>(blob + pos + 8);
        if (len > left - kHeader)
            throw InputError(where + " (id " + std::to_string(id) + ", type " + std::to_string(type) +
                             "): value of " + std::to_string(len) + " bytes runs past the end (" +
                             std::to_string(left - kHeader) + " bytes left)");
        const unsigned char* value = blob + pos + kHeader;
        nlohmann::ordered_json e;
        e["id"] = id;
        if (const char* name = TypeName(type))
            e["type"] = name;
        else
            e["type"] = type;
        nlohmann::ordered_json typed = TypedForm(type, value, len);
        if (!typed.is_null())
            e["value"] = std::move(typed);
        else if (len != 0 || (type >= EN_DT_STRING && type <= EN_DT_UINT32))
            e["raw"] = ToHex(value, len);
        entries.push_back(std::move(e));
        // The padding after the last value may be left out.
        pos += kHeader + len;
        pos += std::min<size_t>((4 - len % 4) % 4, size - pos);
    }
    return entries;
}

nlohmann::ordered_json ToJson(const Message& message) {
    nlohmann::ordered_json out;
    out["kind"] = message.kind == Kind::Log ? "log" : "register";
    if (message.kind == Kind::Log) out["msgtype"] = message.msgType;
    out["entries"] = DecodeEntries(message.blob.data(), message.blob.size());
    return out;
}

uint32_t ParseTypeName(const std::string& name) {
    std::string n = name.compare(0, 3, "DT_") == 0 ? name.substr(3) : name;
    for (const NamedType& t : kTypeNames)
        if (n == t.name) return t.code;
    throw InputError("unknown type name \"" + name + "\"");
}

std::vector<unsigned char> EncodeEntries(const json& entries) {
    if (!entries.is_array()) Fail("entries", "expected an array, found " + Describe(entries));
    Handle message;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string where = "entries[" + std::to_string(i) + "]";
        const json& e = entries[i];
        if (!e.is_object()) Fail(where, "expected an entry object, found " + Describe(e));
        for (const auto& item : e.items())
            if (item.key() != "id" && item.key() != "type" && item.key() != "value" && item.key() != "raw")
                Fail(where, "unknown key \"" + item.key() + "\" (an entry has \"id\", \"type\", \"value\" or \"raw\")");
        auto id = e.find("id");
        if (id == e.end()) Fail(where, "missing \"id\"");
        uint32_t nID = static_cast<uint32_t>(IntegerIn(*id, 0, 0xFFFFFFFFLL, where + ".id"));
        auto type = e.find("type");
        if (type == e.end()) Fail(where, "missing \"type\"");
        uint32_t nType;
        if (type->is_string()) {
            try {
                nType = ParseTypeName(type->get_ref<const std::string&>());
            } catch (const InputError& err) {
                Fail(where + ".type", err.what());
            }
        } else {
            nType = static_cast<uint32_t>(IntegerIn(*type, 0, 0xFFFFFFFFLL, where + ".type"));
        }
        auto value = e.find("value");
        auto raw = e.find("raw");
        const bool typed = nType >= EN_DT_STRING && nType <= EN_DT_UINT32;
        if (value != e.end() && raw != e.end()) Fail(where, "give either \"value\" or \"raw\", not both");
        std::vector<unsigned char> bytes;
        if (raw != e.end()) {
            bytes = FromHex(*raw, where + ".raw");
        } else if (value != e.end()) {
            if (!typed) Fail(where + ".value", "type " + std::to_string(nType) + " takes no value (use \"raw\")");
            bytes = TypedValue(nType, *value, where + ".value");
        } else if (typed) {
            Fail(where, "missing \"value\" for type " + std::to_string(nType));
        }
        if (bytes.size() > 0xFFFFFFFFu) Fail(where, "value too large");
        int rc = En_Msg_AppendEntry(message.get(), nID, nType, bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (rc == EN_MSG_ENOMEM) throw std::bad_alloc();
        if (rc != EN_MSG_OK) Fail(where, "the message would exceed 4 GiB");
    }
    const unsigned char* p = static_cast<const unsigned char*>(En_Msg_GetBuffer(message.get()));
    return std::vector<unsigned char>(p, p + En_Msg_BytesUsed(message.get()));
}

Message FromJson(const json& object, const Overrides& overrides) {
    if (!object.is_object()) Fail("message", "expected an object, found " + Describe(object));
    Message m;
    if (overrides.kind) {
        m.kind = *overrides.kind;
    } else {
        auto kind = object.find("kind");
        if (kind == object.end()) Fail("kind", "missing (\"log\" or \"register\")");
        if (!kind->is_string() || (*kind != "log" && *kind != "register"))
            Fail("kind", "expected \"log\" or \"register\"");
        m.kind = *kind == "log" ? Kind::Log : Kind::Register;
    }
    if (overrides.msgType) {
        m.msgType = *overrides.msgType;
    } else if (m.kind == Kind::Log) {
        auto type = object.find("msgtype");
        if (type == object.end()) Fail("msgtype", "missing (required for a log message)");
        m.msgType = static_cast<int32_t>(IntegerIn(*type, std::numeric_limits<int32_t>::min(),
                                                   std::numeric_limits<int32_t>::max(), "msgtype"));
    }
    auto entries = object.find("entries");
    if (entries == object.end()) Fail("entries", "missing");
    m.blob = EncodeEntries(*entries);
    return m;
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
