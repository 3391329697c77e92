// The decoder: a blob, entry by entry, into the JSON message form; and the
// faults of a blob's structure.  The JSON text is written here as the JSON
// library of the tool writes it compactly (dump()): strings escape quotes,
// backslashes and control characters only.
#include "Decoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "BlobEntries.h"
#include "Encoder.h"
#include "GrammarTree.h"
#include "Utf8.h"

namespace msgjson::detail {

namespace {

// Entries in groups nested deeper than this are indented no further.
constexpr size_t kMaxIndent = 16;

template <class T>
T Read(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The first entry of a blob whose structure is broken (or, with
// checkValues, whose value is malformed for its type): where it begins,
// its number, its header, and what the walk of the blob reader says of it.
struct EntryFault {
    size_t pos = 0, index = 0;
    CBlobEntryHeader e{};
    int header = 0, value = 0;
};

bool FindFault(const unsigned char* blob, size_t size, bool checkValues, EntryFault& f) {
    for (;; f.pos = f.e.nNext, ++f.index) {
        f.header = ReadEntryHeader(blob, size, f.pos, f.e);
        if (f.header == BLOB_ERR_SHORT_HEADER || f.header == BLOB_ERR_VALUE_OVERRUN) return true;
        if (f.header != 0) return false;
        f.value = checkValues ? CheckEntryValue(f.e.nDataType, f.e.pValue, f.e.nDataLength) : 0;
        if (f.value != 0) return true;
    }
}

void PutValueFault(Text& t, const EntryFault& f) {
    const uint32_t len = f.e.nDataLength;
    switch (f.value) {
        case BLOB_ERR_INT_LENGTH:
            return void(t.Put("an integer value of ", len, " bytes, ", TypeName(f.e.nDataType), " takes ",
                              f.e.nDataType <= DT_UINT16 ? "2" : "4"));
        case BLOB_ERR_BAD_STRING: return void(t.Put("a narrow string of ", len, " bytes without its terminating zero byte"));
        default:
            return void(t.Put("a wide string of ", len, " bytes that is not 4-byte characters ending in a 4-byte zero"));
    }
}

// Text in a JSON string: the escapes of those characters that need one,
// the rest as it is (UTF-8).
void PutEscaped(Text& t, std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    size_t plain = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        t.Add(Part(s, plain, i - plain));
        plain = i + 1;
        const char* const named = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\b' ? "\\b" : c == '\f' ? "\\f"
                                : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
        if (named != nullptr) {
            t.Add(named);
        } else {
            const char u[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0F]};
            t.Add(std::string_view(u, sizeof u));
        }
    }
    t.Add(Part(s, plain));
}

void PutJsonString(Text& t, std::string_view s) {
    t.Add("\"");
    PutEscaped(t, s);
    t.Add("\"");
}

// n bytes as hex digits between quotes; false when the digits, two a byte,
// would be more than half of what an allocation can hold on this system
// (values over 512 MiB on a 32-bit system).
bool PutHex(Text& t, const unsigned char* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    if (n > (static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max()) - 1) / 4) return false;
    t.Add("\"");
    char chunk[256];
    for (size_t i = 0; i < n;) {
        size_t k = 0;
        for (; k < sizeof chunk && i < n; ++i) {
            chunk[k++] = kDigits[p[i] >> 4];
            chunk[k++] = kDigits[p[i] & 0x0F];
        }
        t.Add(std::string_view(chunk, k));
    }
    t.Add("\"");
    return true;
}

// Whether a value is written in its typed form: well formed for its type
// (as the blob reader judges it), its text valid Unicode.
bool IsTyped(uint32_t type, const unsigned char* p, uint32_t len) {
    if (type < DT_STRING || type > DT_UINT32 || CheckEntryValue(type, p, len) != 0) return false;
    if (type == DT_STRING) return IsUtf8(p, len - 1);
    if (type == DT_WSTRING)
        for (uint32_t i = 0; i + 4 < len; i += 4)
            if (!IsScalarValue(Read<uint32_t>(p + i))) return false;
    return true;
}

// The typed form of a value that IsTyped; false when it is too long.
bool PutTyped(Text& t, uint32_t type, const unsigned char* p, uint32_t len) {
    switch (type) {
        case DT_STRING: return PutJsonString(t, std::string_view(reinterpret_cast<const char*>(p), len - 1)), true;
        case DT_WSTRING:
            t.Add("\"");
            for (uint32_t i = 0; i + 4 < len; i += 4) {
                char utf8[4];
                PutEscaped(t, std::string_view(utf8, PutUtf8(Read<uint32_t>(p + i), utf8)));
            }
            t.Add("\"");
            return true;
        case DT_BYTES: return PutHex(t, p, len);
        case DT_INT16: return t.Put(Read<int16_t>(p)), true;
        case DT_UINT16: return t.Put(Read<uint16_t>(p)), true;
        case DT_INT32: return t.Put(Read<int32_t>(p)), true;
        default: return t.Put(Read<uint32_t>(p)), true;
    }
}

}  // namespace

bool BlobFault(const unsigned char* blob, size_t size, bool checkValues, Text& text) {
    EntryFault f;
    if (!FindFault(blob, size, checkValues, f)) return false;
    const size_t left = size - f.pos;
    text.Put("byte offset ", f.pos, ": entry ", f.index);
    if (f.header == BLOB_ERR_SHORT_HEADER)
        return text.Put(": short header (", left, " bytes left, a header has ", BLOB_ENTRY_HEADER_SIZE, ")"), true;
    text.Put(" (id ", f.e.nID, ", type ", f.e.nDataType, "): ");
    if (f.header == BLOB_ERR_VALUE_OVERRUN)
        return text.Put("value of ", f.e.nDataLength, " bytes runs past the end (", left - BLOB_ENTRY_HEADER_SIZE,
                        " bytes left)"),
               true;
    PutValueFault(text, f);
    return true;
}

int DecodeBlob(const unsigned char* blob, size_t size, Kind kind, int32_t msgType, const Sink& sink) {
    EntryFault f;
    if (FindFault(blob, size, false, f)) return EN_MSGJSON_EINPUT;
    const bool log = kind == Kind::Log;
    const GrammarNode* root = nullptr;
    Text line;
    if (!GrammarRoot(log, msgType, root) ||
        !(log ? line.Put("{\"kind\": \"log\", \"msgtype\": ", msgType) : line.Put("{\"kind\": \"register\"")))
        return EN_MSGJSON_ENOMEM;
    if (!sink.Give(line.data(), line.size()) || !sink.Give(", \"entries\": [", 14)) return EN_MSGJSON_ESTOPPED;
    NodeWalk walk(root);
    CBlobEntryHeader e{};
    for (size_t pos = 0; ReadEntryHeader(blob, size, pos, e) == 0; pos = e.nNext) {
        NodeWalk::Step step;
        if (!walk.Next(e.nID, e.nDataType, step)) return EN_MSGJSON_ENOMEM;
        static const char kIndent[2 * kMaxIndent + 1] = "                                ";
        line.Clear();
        line.Put(pos == 0 ? "\n  " : ",\n  ", std::string_view(kIndent, 2 * std::min(step.depth, kMaxIndent)),
                 "{\"id\":", e.nID);
        if (step.node != nullptr) {
            line.Add(",\"name\":");
            PutJsonString(line, step.node->name);
        }
        if (const char* name = TypeName(e.nDataType))
            line.Put(",\"type\":\"", name, "\"");
        else
            line.Put(",\"type\":", e.nDataType);
        bool fits = true;
        if (IsTyped(e.nDataType, e.pValue, e.nDataLength)) {
            line.Add(",\"value\":");
            fits = PutTyped(line, e.nDataType, e.pValue, e.nDataLength);
        } else if (e.nDataLength != 0 || (e.nDataType >= DT_STRING && e.nDataType <= DT_UINT32)) {
            line.Add(",\"raw\":");
            fits = PutHex(line, e.pValue, e.nDataLength);
        }
        if (!fits) return EN_MSGJSON_EINPUT;
        if (!line.Put("}")) return EN_MSGJSON_ENOMEM;
        if (!sink.Give(line.data(), line.size())) return EN_MSGJSON_ESTOPPED;
    }
    return sink.Give(size == 0 ? "]}\n" : "\n]}\n", size == 0 ? 3 : 4) ? EN_MSGJSON_OK : EN_MSGJSON_ESTOPPED;
}

bool MsgTypeEntry(const unsigned char* blob, size_t size, int32_t& msgType) {
    CBlobEntryHeader e{};
    for (size_t pos = 0; ReadEntryHeader(blob, size, pos, e) == 0; pos = e.nNext)
        if (e.nID == 11 && e.nDataType == DT_UINT32 && e.nDataLength == 4)
            return msgType = static_cast<int32_t>(Read<uint32_t>(e.pValue)), true;
    return false;
}

}  // namespace msgjson::detail
