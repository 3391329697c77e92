// The decoder: a blob, entry by entry, into the JSON message form; and the
// faults of a blob's structure.
#include <algorithm>
#include <cstring>

#include "BlobEntries.h"
#include "GrammarTree.h"
#include "MessageJson.h"
#include "Utf8.h"

namespace msgjson {

namespace {

using namespace detail;

// Entries in groups nested deeper than this are indented no further.
constexpr size_t kMaxIndent = 16;

std::string ToHex(const unsigned char* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    // Two digits a byte: more than a string holds for values over 2 GiB on a 32-bit system.
    if (n > std::string().max_size() / 2)
        throw InputError("a value of " + std::to_string(n) + " bytes is too long to write as hex on this system");
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

std::string BlobFault(const unsigned char* blob, size_t size, bool checkValues) {
    CBlobEntryHeader e{};
    int rc = 0;
    for (size_t pos = 0, index = 0; rc == 0; pos = e.nNext, ++index) {
        std::string fault = EntryFault(blob, size, pos, index, checkValues, e, rc);
        if (!fault.empty()) return fault;
    }
    return "";
}

void DecodeBlob(const unsigned char* blob, size_t size, Kind kind, int32_t msgType, const TextSink& write) {
    const std::string fault = BlobFault(blob, size, false);
    if (!fault.empty()) throw InputError(fault);
    const bool log = kind == Kind::Log;
    write(log ? "{\"kind\": \"log\", \"msgtype\": " + std::to_string(msgType) : std::string("{\"kind\": \"register\""));
    write(", \"entries\": [");
    NodeWalk walk(GrammarRoot(log, msgType));
    std::string line;
    CBlobEntryHeader e{};
    for (size_t pos = 0; ReadEntryHeader(blob, size, pos, e) == 0; pos = e.nNext) {
        const NodeWalk::Step step = walk.Next(e.nID, e.nDataType);
        nlohmann::ordered_json entry;
        entry["id"] = e.nID;
        if (step.node != nullptr) entry["name"] = step.node->name;
        if (const char* name = TypeName(e.nDataType))
            entry["type"] = name;
        else
            entry["type"] = e.nDataType;
        nlohmann::ordered_json typed = TypedForm(e.nDataType, e.pValue, e.nDataLength);
        if (!typed.is_null())
            entry["value"] = std::move(typed);
        else if (e.nDataLength != 0 || (e.nDataType >= DT_STRING && e.nDataType <= DT_UINT32))
            entry["raw"] = ToHex(e.pValue, e.nDataLength);
        line.assign(pos == 0 ? "\n  " : ",\n  ");
        line.append(2 * std::min(step.depth, kMaxIndent), ' ');
        line += entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        write(line);
    }
    write(size == 0 ? "]}\n" : "\n]}\n");
}

std::optional<int32_t> MsgTypeEntry(const unsigned char* blob, size_t size) {
    CBlobEntryHeader e{};
    for (size_t pos = 0; ReadEntryHeader(blob, size, pos, e) == 0; pos = e.nNext)
        if (e.nID == 11 && e.nDataType == DT_UINT32 && e.nDataLength == 4)
            return static_cast<int32_t>(Read<uint32_t>(e.pValue));
    return std::nullopt;
}

}  // namespace msgjson
