// GeneratedMessages.h - the messages the benchmarks validate, generated from
// the grammar tables.
//
// Msg owns a message handle and appends entries in a chain.  A complete
// message of any kind (MessageKindList.h) is generated from the grammar
// tables the library itself is built from: every node once (every group as
// often as asked), with values that the node's constraint accepts.
#ifndef EN_BENCH_GENERATEDMESSAGES_H
#define EN_BENCH_GENERATEDMESSAGES_H

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <vector>

#include "En_Msg.h"
#include "En_Validation.h"
#include "MessageKindList.h"

namespace testmsg {

class Msg {
public:
    Msg() : m_h(En_Msg_Create()) { if (m_h == nullptr) throw std::bad_alloc(); }
    ~Msg() { En_Msg_Destroy(m_h); }
    Msg(const Msg&) = delete;
    Msg& operator=(const Msg&) = delete;

    void* get() const { return m_h; }
    const unsigned char* bytes() const { return static_cast<const unsigned char*>(En_Msg_GetBuffer(m_h)); }
    x_uint32 size() const { return En_Msg_BytesUsed(m_h); }

    Msg& WStr(x_uint32 id, const wchar_t* s) { return Ok(En_Msg_AppendWString(m_h, id, s)); }
    Msg& Bytes(x_uint32 id, const void* p, x_uint32 n) { return Ok(En_Msg_AppendBytes(m_h, id, p, n)); }
    Msg& I16(x_uint32 id, short v) { return Ok(En_Msg_AppendInt16(m_h, id, v)); }
    Msg& U16(x_uint32 id, unsigned short v) { return Ok(En_Msg_AppendUInt16(m_h, id, v)); }
    Msg& U32(x_uint32 id, x_uint32 v) { return Ok(En_Msg_AppendUInt32(m_h, id, v)); }
    Msg& Begin(x_uint32 id) { return Ok(En_Msg_BeginGroup(m_h, id)); }
    Msg& End(x_uint32 id) { return Ok(En_Msg_EndGroup(m_h, id)); }
    Msg& Raw(x_uint32 id, x_uint32 type, const void* p, x_uint32 n) {
        return Ok(En_Msg_AppendEntry(m_h, id, type, p, n));
    }

private:
    Msg& Ok(int rc) { return rc == EN_MSG_OK ? *this : throw std::runtime_error("appending failed"); }
    void* m_h;
};

// A time string that every time-format constraint accepts.
constexpr const wchar_t* kValidTime = L"2008/07/15 13:05:09";

// Appends one item with a value its constraint accepts.  Constrained
// 16-bit items get 1, which lies in every range the grammars use
// (registration "Status" 0..3 or 100..102, "Type" 1..3).
inline void AppendValidItem(Msg& m, const grammar::NodeRow& row) {
    switch (row.nDataType) {
        case DT_WSTRING: m.WStr(row.nID, row.nConstraintID != 0 ? kValidTime : L"value"); break;
        case DT_BYTES: m.Bytes(row.nID, "\x01\x02\x03", 3); break;
        case DT_INT16: m.I16(row.nID, row.nConstraintID != 0 ? 1 : 7); break;
        case DT_UINT16: m.U16(row.nID, 8080); break;
        case DT_UINT32: m.U32(row.nID, 1703); break;
        default: throw std::logic_error("no test value for this data type");
    }
}

namespace detail {

inline size_t AppendLevel(Msg& m, const std::vector<const grammar::NodeRow*>& rows, size_t i, unsigned depth,
                          std::initializer_list<x_uint32> omit, int groupInstances) {
    while (i < rows.size() && rows[i]->nDepth == depth) {
        const grammar::NodeRow& row = *rows[i];
        size_t next = i + 1;
        while (next < rows.size() && rows[next]->nDepth > depth) ++next;
        const bool omitted = depth == 0 && std::find(omit.begin(), omit.end(), row.nID) != omit.end();
        if (omitted) {  // left out with everything under it
        } else if (row.eKind == grammar::NodeKind::Group) {
            for (int k = 0; k < groupInstances; ++k) {
                m.Begin(row.nID);
                AppendLevel(m, rows, i + 1, depth + 1, omit, groupInstances);
                m.End(row.nID);
            }
        } else {
            AppendValidItem(m, row);
        }
        i = next;
    }
    return i;
}

}  // namespace detail

// Appends a complete message of the table's grammar: every node, each
// group groupInstances times in each instance of its parent.  Root-level
// nodes listed in omit are left out (a group with its content).
inline void AppendCompleteMessage(Msg& m, const grammar::GrammarTable& table,
                                  std::initializer_list<x_uint32> omit = {}, int groupInstances = 1) {
    std::vector<const grammar::NodeRow*> rows;
    grammar::ForEachRow(table, [&](const grammar::NodeRow& row, const char*) { rows.push_back(&row); });
    detail::AppendLevel(m, rows, 0, 0, omit, groupInstances);
}

// Stands for the registration message where a log message type is expected.
constexpr x_int32 kRegistration = 0;

// The kind of a log message type, or of the registration message.
inline const grammar::MessageKind& KindOf(x_int32 nMsgType) {
    const size_t index = grammar::KindIndex(nMsgType != kRegistration, nMsgType);
    if (index == grammar::kMessageKindCount) throw std::logic_error("no grammar for this message type");
    return grammar::kMessageKinds[index];
}

// Validates through the exported functions; the record starts as garbage.
inline EN_VALIDATE_RESULT Validate(void* handle, const grammar::MessageKind& kind) {
    EN_VALIDATE_RESULT r;
    std::memset(&r, 0x5a, sizeof r);
    kind.bLog ? En_Validate_Log(handle, kind.MsgType(), &r) : En_Validate_RegisterData(handle, &r);
    return r;
}

}  // namespace testmsg

#endif  // EN_BENCH_GENERATEDMESSAGES_H
