#include "MessageJson.h"

#include <cstring>
#include <limits>
#include <new>

namespace msgjson {

namespace {

using nlohmann::json;

struct TypeName {
    const char* name;
    uint32_t code;
};

const TypeName kTypeNames[] = {
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

}  // namespace

uint32_t ParseTypeName(const std::string& name) {
    std::string n = name.compare(0, 3, "DT_") == 0 ? name.substr(3) : name;
    for (const TypeName& t : kTypeNames)
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
