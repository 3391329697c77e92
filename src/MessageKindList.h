// MessageKindList.h - the fourteen kinds of message the library validates.
//
// The one list of them: the thirteen log message types in ascending order,
// then the registration message.  Each kind is its grammar table, which
// carries the message type (0 for the registration message) and the
// grammar's class name.  The grammar registry builds one grammar per kind
// from this list; the tool, the fuzzers, the benchmarks and the tests read
// the same list instead of writing the kinds down again.  Header-only data;
// the tables themselves are in LogGrammarTables.h and
// RegisterDataGrammarTable.h.
#ifndef EN_MESSAGEKINDLIST_H
#define EN_MESSAGEKINDLIST_H

#include <cstddef>

#include "GrammarTable.h"
#include "LogGrammarTables.h"
#include "RegisterDataGrammarTable.h"

namespace grammar {

struct MessageKind {
    bool bLog;                  // false: the registration message
    const GrammarTable* pTable; // the grammar; pTable->nMsgType, pTable->pszClass

    constexpr x_int32 MsgType() const { return pTable->nMsgType; }  // 0 for the registration message
    constexpr const char* ClassName() const { return pTable->pszClass; }
};

inline constexpr MessageKind kMessageKinds[] = {
    {true, &log::kEvent},          {true, &log::kCommandTracking}, {true, &log::kStatus},
    {true, &log::kVirus},          {true, &log::kSecurity},        {true, &log::kWebSecurity},
    {true, &log::kURLUsage},       {true, &log::kPerformanceMetric}, {true, &log::kNetworkPacket},
    {true, &log::kVulnerability},  {true, &log::kESV},             {true, &log::kESC},
    {true, &log::kViolationStats}, {false, &reg::kTable},
};

constexpr size_t kMessageKindCount = CountOf(kMessageKinds);
static_assert(kMessageKindCount == 14, "thirteen log message types and the registration message");

// The index of the kind in kMessageKinds: of the log type nMsgType (bLog),
// or of the registration message (!bLog); kMessageKindCount for a log type
// without grammar.
constexpr size_t KindIndex(bool bLog, x_int32 nMsgType) {
    for (size_t i = 0; i < kMessageKindCount; ++i)
        if (kMessageKinds[i].bLog == bLog && (!bLog || kMessageKinds[i].MsgType() == nMsgType)) return i;
    return kMessageKindCount;
}

constexpr size_t kRegistrationKind = KindIndex(false, 0);
static_assert(kRegistrationKind == kMessageKindCount - 1, "the registration message comes last");

// Log message types ascend, and each has one kind.
constexpr bool LogTypesAscend() {
    for (size_t i = 1; i + 1 < kMessageKindCount; ++i)
        if (kMessageKinds[i - 1].MsgType() >= kMessageKinds[i].MsgType()) return false;
    return true;
}
static_assert(LogTypesAscend(), "log message types in ascending order");

}  // namespace grammar

#endif  // EN_MESSAGEKINDLIST_H
