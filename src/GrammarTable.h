// GrammarTable.h - grammars as data.
//
// A grammar is described by a GrammarTable: the constraints it registers
// and its node rows in the order of construction.  Node rows form an
// outline: a row of depth 0 belongs to the root group, a row of depth d > 0
// to the nearest group row above it of depth d - 1.  Rows come in spans so
// that rows shared by several grammars (the common log header) are written
// once; a rename list gives single nodes another name in one grammar.
//
// The library turns a table into a grammar when it is compiled, in one place
// (GrammarImage.h); the tool reads the same tables to describe grammars.  The
// tables themselves (LogGrammarTables.h, RegisterDataGrammarTable.h, listed
// by MessageKindList.h) are header-only, so every user compiles exactly the
// same data.
#ifndef EN_GRAMMARTABLE_H
#define EN_GRAMMARTABLE_H

#include <cstddef>

#include "BlobReader.h"

namespace grammar {

enum class NodeKind : unsigned char { Item, Group };

struct NodeRow {
    unsigned char nDepth;
    NodeKind eKind;
    const char* pszName;
    x_uint32 nID;
    x_uint32 nDataType;  // DT_GROUP for groups
    bool bRequired;
    x_uint32 nConstraintID;  // 0: none
};

enum class ConstraintKind : unsigned char { TimeFormat, SignedRange, UnsignedRange, Length, AnyOf, AllOf };

struct ConstraintRow {
    ConstraintKind eKind;
    const char* pszName;  // ignored for TimeFormat, which is always "TimeFormat"
    x_uint32 nID;
    // SignedRange / UnsignedRange: minimum and maximum.
    // Length: minimum and maximum length.
    long long nLow;
    long long nHigh;
    // AnyOf / AllOf: member constraint IDs, in the order they are added.
    const x_uint32* pMembers;
    size_t nMembers;
};

struct RowSpan {
    const NodeRow* pRows;
    size_t nCount;
};

struct Rename {
    x_uint32 nID;  // a node of the root group
    const char* pszName;
};

struct GrammarTable {
    const char* pszClass;  // the grammar's class name
    x_int32 nMsgType;      // log message type; 0 for the registration grammar
    const ConstraintRow* pConstraints;
    size_t nConstraints;
    const RowSpan* pSpans;
    size_t nSpans;
    const Rename* pRenames;
    size_t nRenames;
};

template <class T, size_t N>
constexpr size_t CountOf(const T (&)[N]) {
    return N;
}

// The name a row bears in the given table (renames apply to root rows).
constexpr const char* NameOf(const GrammarTable& table, const NodeRow& row) {
    if (row.nDepth == 0)
        for (size_t i = 0; i < table.nRenames; ++i)
            if (table.pRenames[i].nID == row.nID) return table.pRenames[i].pszName;
    return row.pszName;
}

// Calls visit(row, name) for every node row in the order of construction.
template <class Visit>
void ForEachRow(const GrammarTable& table, Visit&& visit) {
    for (size_t s = 0; s < table.nSpans; ++s)
        for (size_t r = 0; r < table.pSpans[s].nCount; ++r) {
            const NodeRow& row = table.pSpans[s].pRows[r];
            visit(row, NameOf(table, row));
        }
}

}  // namespace grammar

#endif  // EN_GRAMMARTABLE_H
