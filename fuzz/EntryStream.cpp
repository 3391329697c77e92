#include "EntryStream.h"

#include <cstring>
#include <string>
#include <vector>

#include "BlobReader.h"
#include "En_Msg.h"
#include "MessageKindList.h"

namespace enfuzz {

namespace {

struct Row {
    x_uint32 nID;
    x_uint32 nDataType;
    bool bGroup;
    bool bRootRequired;  // a required item of the root group
};

// The rows of every grammar, in table order.
struct RowTables {
    std::vector<Row> rows[grammar::kMessageKindCount];
    RowTables() {
        for (size_t k = 0; k < grammar::kMessageKindCount; ++k)
            grammar::ForEachRow(*grammar::kMessageKinds[k].pTable, [&](const grammar::NodeRow& r, const char*) {
                const bool group = r.eKind == grammar::NodeKind::Group;
                rows[k].push_back({r.nID, r.nDataType, group, r.nDepth == 0 && !group && r.bRequired});
            });
    }
};

const std::vector<Row>& RowsOf(size_t kind) {
    static const RowTables tables;
    return tables.rows[kind];
}

// Data types that a grammar never expects where the row stands, besides
// the seven value types: unknown codes and the group markers.
const x_uint32 kOddTypes[] = {DT_STRING, DT_WSTRING, DT_BYTES, DT_INT16, DT_UINT16, DT_INT32,       DT_UINT32,
                              DT_GROUP,  DT_END_OF_GROUP, 0, 8,      99,       102,      0x7FFFFFFF, 0xFFFFFFFF};

const x_uint32 kBoundaryIntegers[] = {0,          1,          2,          3,          4,      99,     100,   101,
                                      102,        103,        0x7FFF,     0x8000,     0xFFFF, 0x10000, 1501, 1701,
                                      0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF8000, 0xFFFF7FFF, 0xFFFFFFFE, 1033, 65534};

const char* const kBadTimes[] = {
    "",
    "2020/02/29",
    "2020/02/29 12:00",
    "2020/02/29 12:00:",
    "2020.02.29 12:00:00",
    "2020/02-29 12:00:00",
    "99999999999/1/1 1:1:1",
    "-2147483649/-1/-1 -1:-1:-1",
    "  1/2/3   4:5:6",
    "1/2/3T4:5:6",
    "1/2/3 4:5:6 trailing",
    "0x10/2/3 4:5:6",
    "+1/+2/+3 +4:+5:+6",
    "1//2 3:4:5",
    "%s%n%d/%x",
    "1/2/3\n4:5:6",
};

const char32_t kWideTime[] = U"\uFF12\uFF10\uFF12\uFF10/01/01 1:1:1";  // full-width digits

class Decoder {
public:
    Decoder(const uint8_t* data, size_t size, void* h) : m_p(data), m_end(data + size), m_h(h) {}

    size_t Run() {
        const size_t kind = U8() % grammar::kMessageKindCount;
        const std::vector<Row>& rows = RowsOf(kind);
        while (m_p < m_end && m_nEntries < kMaxEntries) {
            const uint8_t code = U8();
            const unsigned mode = code >> 3;
            switch (code & 7) {
                case 0:
                case 1:
                case 2: {
                    const Row& row = rows[U8() % rows.size()];
                    if (row.bGroup) {
                        Emit(row.nID, DT_GROUP, {});
                        m_Open.push_back(row.nID);
                    } else {
                        Emit(row.nID, row.nDataType, Value(row.nDataType, mode));
                    }
                    break;
                }
                case 3: {
                    x_uint32 id = 0;
                    if (!m_Open.empty()) {
                        id = m_Open.back();
                        m_Open.pop_back();
                    }
                    Emit(id, DT_END_OF_GROUP, {});
                    break;
                }
                case 4: {
                    const x_uint32 type = kOddTypes[mode % grammar::CountOf(kOddTypes)];
                    Emit(rows[U8() % rows.size()].nID, type, Value(type, mode));
                    break;
                }
                case 5: {
                    const x_uint32 id = U32(), type = U32();
                    Emit(id, type, Bytes(U16()));
                    break;
                }
                case 6:
                    for (const Row& row : rows)
                        if (row.bRootRequired) Emit(row.nID, row.nDataType, Value(row.nDataType, 0));
                    break;
                default:
                    for (unsigned i = 0; i < mode % 3 + 1 && m_nEntries > 0; ++i)
                        Emit(m_LastID, m_LastType, std::vector<unsigned char>(m_LastValue));
                    break;
            }
        }
        return kind;
    }

private:
    uint8_t U8() { return m_p < m_end ? *m_p++ : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    x_uint32 U32() {
        x_uint32 v = U16();
        return v | static_cast<x_uint32>(U16()) << 16;
    }
    std::vector<unsigned char> Bytes(size_t n) {
        std::vector<unsigned char> out(n);
        for (size_t i = 0; i < n; ++i) out[i] = U8();
        return out;
    }

    static std::vector<unsigned char> Narrow(const std::string& s) {
        std::vector<unsigned char> out(s.begin(), s.end());
        out.push_back(0);
        return out;
    }
    static std::vector<unsigned char> Wide(const std::u32string& s) {
        std::vector<unsigned char> out((s.size() + 1) * 4, 0);
        std::memcpy(out.data(), s.data(), s.size() * 4);
        return out;
    }
    static std::vector<unsigned char> Text(x_uint32 type, const std::string& s) {
        if (type == DT_STRING) return Narrow(s);
        std::u32string wide;
        for (unsigned char c : s) wide.push_back(c);
        return Wide(wide);
    }

    std::vector<unsigned char> StringValue(x_uint32 type, unsigned mode) {
        switch (mode % 8) {
            case 0: return Text(type, "2008/07/15 13:05:09");
            case 1: return Text(type, "2020-02-29 12:00:00");
            case 2: return Text(type, kBadTimes[U8() % grammar::CountOf(kBadTimes)]);
            case 3: {
                const std::vector<unsigned char> b = Bytes(U8());
                return Text(type, std::string(b.begin(), b.end()));
            }
            case 4: {  // raw code units: surrogates, values past U+10FFFF, embedded zeros
                std::u32string s(U8() % 64, 0);
                for (char32_t& c : s) c = U32();
                return type == DT_STRING ? Narrow(std::string(s.begin(), s.end())) : Wide(s);
            }
            case 5: return Text(type, "1/2/3 4:5:6" + std::string(200 + U8(), 'x'));
            case 6: return Text(type, "");
            default:
                return type == DT_STRING ? Narrow("\xEF\xBC\x92\xEF\xBC\x90/01/01 1:1:1") : Wide(kWideTime);
        }
    }

    std::vector<unsigned char> Value(x_uint32 type, unsigned mode) {
        size_t width;
        switch (type) {
            case DT_STRING:
            case DT_WSTRING: return StringValue(type, mode);
            case DT_BYTES: return mode % 2 ? std::vector<unsigned char>() : Bytes(U8());
            case DT_INT16:
            case DT_UINT16: width = 2; break;
            case DT_INT32:
            case DT_UINT32: width = 4; break;
            default: return mode % 2 ? Bytes(U8() % 16) : std::vector<unsigned char>();
        }
        if (mode >= grammar::CountOf(kBoundaryIntegers)) return Bytes(width);
        const x_uint32 v = kBoundaryIntegers[mode];
        std::vector<unsigned char> out(width);
        for (size_t i = 0; i < width; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
        return out;
    }

    void Emit(x_uint32 id, x_uint32 type, std::vector<unsigned char> value) {
        if (m_nEntries >= kMaxEntries) return;
        En_Msg_AppendEntry(m_h, id, type, value.data(), static_cast<x_uint32>(value.size()));
        m_LastID = id;
        m_LastType = type;
        m_LastValue.swap(value);
        ++m_nEntries;
    }

    const uint8_t* m_p;
    const uint8_t* const m_end;
    void* const m_h;
    std::vector<x_uint32> m_Open;
    size_t m_nEntries = 0;
    x_uint32 m_LastID = 0, m_LastType = 0;
    std::vector<unsigned char> m_LastValue;
};

}  // namespace

size_t DecodeStream(const uint8_t* data, size_t size, void* h) { return Decoder(data, size, h).Run(); }

}  // namespace enfuzz
