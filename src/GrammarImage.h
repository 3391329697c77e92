// GrammarImage.h - a grammar table made into its grammar when the library is
// compiled.
//
// kImage<table> is one constant object holding the whole grammar of a
// table (GrammarTable.h): the CBlobGrammar, its groups and items, each
// group's slots in ascending ID order, hash table of sub-node IDs and
// required slots, the constraints with each item's and each constraint
// group's members resolved, all pointing into the same object.  Nothing of
// it is made, locked or allocated at run time: it lies in the library's
// read-only data.
//
// A table that gets something wrong does not compile.  The compiler then
// names TableError<table, problem, row>, the table, what is wrong and the
// row: node rows counted from 0 in the order of construction (across the
// table's spans), constraint rows from 0 in the table's order.
#ifndef EN_GRAMMARIMAGE_H
#define EN_GRAMMARIMAGE_H

#include <cstddef>

#include "BlobGrammar.h"
#include "GrammarTable.h"

namespace grammar {

enum class Problem {
    None,
    // Node rows.
    DeeperThanItsGroup,      // the row above opens no group at the depth above this row's
    DuplicateSubNodeID,      // an ID that the group holds already
    UndefinedConstraintID,   // an item names a constraint the table does not define
    RangeOfOtherSignedness,  // a 16-bit item checked, directly or through a group, with a
                             // range of the other signedness
    // Constraint rows.
    DuplicateConstraintID,  // an ID defined by an earlier row
    EmptyRange,             // a value range whose minimum exceeds its maximum
    UndefinedMemberID,      // a group names a constraint the table does not define
    GroupReachesItself      // a group is among its own members, through other groups
};

template <const GrammarTable& Table, Problem What, size_t Row>
struct TableError {
    static_assert(What == Problem::None,
                  "broken grammar table: see the table, the problem and its row in TableError<table, problem, row> "
                  "(node rows counted from 0 in the order of construction, constraint rows from 0)");
};

namespace image {

constexpr size_t kNone = ~size_t{0};

constexpr size_t RowCount(const GrammarTable& t) {
    size_t n = 0;
    for (size_t s = 0; s < t.nSpans; ++s) n += t.pSpans[s].nCount;
    return n;
}

// Node row i in the order of construction.
constexpr const NodeRow& RowAt(const GrammarTable& t, size_t i) {
    size_t s = 0;
    while (i >= t.pSpans[s].nCount) i -= t.pSpans[s++].nCount;
    return t.pSpans[s].pRows[i];
}

constexpr bool IsGroup(const NodeRow& row) { return row.eKind == NodeKind::Group; }

constexpr size_t ConstraintIndex(const GrammarTable& t, x_uint32 nID) {
    for (size_t c = 0; c < t.nConstraints; ++c)
        if (t.pConstraints[c].nID == nID) return c;
    return kNone;
}

constexpr bool IsGroup(const ConstraintRow& row) {
    return row.eKind == ConstraintKind::AnyOf || row.eKind == ConstraintKind::AllOf;
}

// Whether constraint c reaches constraint target through members, within
// depth steps (a member equal to its group is ignored).
constexpr bool Reaches(const GrammarTable& t, size_t c, size_t target, size_t depth) {
    const ConstraintRow& row = t.pConstraints[c];
    if (!IsGroup(row) || depth == 0) return false;
    for (size_t m = 0; m < row.nMembers; ++m) {
        if (row.pMembers[m] == row.nID) continue;
        const size_t member = ConstraintIndex(t, row.pMembers[m]);
        if (member == target || Reaches(t, member, target, depth - 1)) return true;
    }
    return false;
}

// Whether constraint c checks a value with a range of the other signedness
// than bSigned, directly or through members.
constexpr bool HasRangeOtherThan(const GrammarTable& t, size_t c, bool bSigned) {
    const ConstraintRow& row = t.pConstraints[c];
    if (row.eKind == ConstraintKind::SignedRange) return !bSigned;
    if (row.eKind == ConstraintKind::UnsignedRange) return bSigned;
    for (size_t m = 0; IsGroup(row) && m < row.nMembers; ++m)
        if (row.pMembers[m] != row.nID && HasRangeOtherThan(t, ConstraintIndex(t, row.pMembers[m]), bSigned))
            return true;
    return false;
}

struct Finding {
    Problem eProblem;
    size_t nRow;
};

// The first problem of the table: constraint rows first, then node rows.
constexpr Finding Check(const GrammarTable& t) {
    for (size_t c = 0; c < t.nConstraints; ++c) {
        const ConstraintRow& row = t.pConstraints[c];
        if (ConstraintIndex(t, row.nID) != c) return {Problem::DuplicateConstraintID, c};
        if ((row.eKind == ConstraintKind::SignedRange && row.nLow > row.nHigh) ||
            (row.eKind == ConstraintKind::UnsignedRange &&
             static_cast<x_uint32>(row.nLow) > static_cast<x_uint32>(row.nHigh)))
            return {Problem::EmptyRange, c};
        for (size_t m = 0; IsGroup(row) && m < row.nMembers; ++m)
            if (ConstraintIndex(t, row.pMembers[m]) == kNone) return {Problem::UndefinedMemberID, c};
    }
    for (size_t c = 0; c < t.nConstraints; ++c)
        if (Reaches(t, c, c, t.nConstraints)) return {Problem::GroupReachesItself, c};
    const size_t rows = RowCount(t);
    for (size_t i = 0; i < rows; ++i) {
        const NodeRow& row = RowAt(t, i);
        const size_t depth = row.nDepth;
        if (depth != 0) {
            if (i == 0) return {Problem::DeeperThanItsGroup, i};
            const NodeRow& above = RowAt(t, i - 1);
            if (size_t{above.nDepth} + 1 < depth || (size_t{above.nDepth} + 1 == depth && !IsGroup(above)))
                return {Problem::DeeperThanItsGroup, i};
        }
        // Siblings: the rows of the same depth since the group row above.
        for (size_t j = i; j-- > 0 && RowAt(t, j).nDepth >= depth;)
            if (RowAt(t, j).nDepth == depth && RowAt(t, j).nID == row.nID) return {Problem::DuplicateSubNodeID, i};
        if (IsGroup(row) || row.nConstraintID == 0) continue;
        const size_t c = ConstraintIndex(t, row.nConstraintID);
        if (c == kNone) return {Problem::UndefinedConstraintID, i};
        if ((row.nDataType == DT_INT16 || row.nDataType == DT_UINT16) &&
            HasRangeOtherThan(t, c, row.nDataType == DT_INT16))
            return {Problem::RangeOfOtherSignedness, i};
    }
    return {Problem::None, 0};
}

// Hash tables of 2^bits entries, at most half full.
constexpr unsigned HashBits(size_t nSlots) {
    unsigned bits = 1;
    while ((size_t{1} << bits) < 2 * nSlots) ++bits;
    return bits;
}

// The sizes of a table's grammar.
struct Dims {
    size_t nRows = 0, nGroups = 1, nItems = 0, nHash = 0, nRequired = 0, nMembers = 0;
    size_t nDepth = 1;    // groups open at once, the root included
    size_t nLargest = 0;  // slots of the largest group
};

// The number of sub-nodes of group row g (kNone: the root).
constexpr size_t SubNodeCount(const GrammarTable& t, size_t g) {
    const size_t rows = RowCount(t);
    const size_t depth = g == kNone ? 0 : RowAt(t, g).nDepth + 1u;
    size_t n = 0;
    for (size_t i = g == kNone ? 0 : g + 1; i < rows && size_t{RowAt(t, i).nDepth} >= depth; ++i) n += RowAt(t, i).nDepth == depth ? 1 : 0;
    return n;
}

constexpr size_t Max(size_t a, size_t b) { return a < b ? b : a; }

constexpr Dims DimsOf(const GrammarTable& t) {
    Dims d;
    d.nRows = RowCount(t);
    d.nLargest = SubNodeCount(t, kNone);
    d.nHash = size_t{1} << HashBits(d.nLargest);
    for (size_t i = 0; i < d.nRows; ++i) {
        const NodeRow& row = RowAt(t, i);
        d.nRequired += row.bRequired;
        if (!IsGroup(row)) {
            ++d.nItems;
            continue;
        }
        ++d.nGroups;
        d.nDepth = Max(d.nDepth, row.nDepth + 2u);
        const size_t n = SubNodeCount(t, i);
        d.nLargest = Max(d.nLargest, n);
        d.nHash += size_t{1} << HashBits(n);
    }
    for (size_t c = 0; c < t.nConstraints; ++c) d.nMembers += IsGroup(t.pConstraints[c]) ? t.pConstraints[c].nMembers : 0;
    return d;
}

}  // namespace image

// One grammar with everything it points to.  Arrays hold at least one
// element each.
template <size_t Groups, size_t Items, size_t Slots, size_t Hash, size_t Required, size_t Constraints, size_t Members>
struct CGrammarImage {
    CBlobGrammar grammar;
    CGroupNode groups[Groups];  // the root first, then the group rows in order
    CItemNode items[Items];     // the item rows in order
    CGroupNode::CSlot slots[Slots];
    CGroupNode::CHashEntry hash[Hash];
    x_uint32 required[Required];
    CDataConstraint constraints[Constraints];  // the constraint rows in order
    const CDataConstraint* members[Members];
};

template <const GrammarTable& Table>
struct CImageOf {
    static constexpr image::Dims kDims = image::DimsOf(Table);
    static constexpr image::Finding kFinding = image::Check(Table);
    using Image = CGrammarImage<kDims.nGroups, image::Max(kDims.nItems, 1), image::Max(kDims.nRows, 1), kDims.nHash,
                                image::Max(kDims.nRequired, 1), image::Max(Table.nConstraints, 1),
                                image::Max(kDims.nMembers, 1)>;
};

namespace image {

constexpr CDataConstraint::Kind KindOf(ConstraintKind kind) {
    switch (kind) {
        case ConstraintKind::TimeFormat: return CDataConstraint::TIME_FORMAT;
        case ConstraintKind::SignedRange: return CDataConstraint::SIGNED_RANGE;
        case ConstraintKind::UnsignedRange: return CDataConstraint::UNSIGNED_RANGE;
        case ConstraintKind::Length: return CDataConstraint::LENGTH;
        case ConstraintKind::AnyOf: return CDataConstraint::ANY_OF;
        case ConstraintKind::AllOf: return CDataConstraint::ALL_OF;
    }
    return CDataConstraint::LENGTH;
}

// Makes the grammar of Table inside the object at self, which the result
// initialises (its pointers point into self).
template <const GrammarTable& Table>
constexpr typename CImageOf<Table>::Image Make(const typename CImageOf<Table>::Image* self) {
    using Of = CImageOf<Table>;
    static_assert(sizeof(TableError<Table, Of::kFinding.eProblem, Of::kFinding.nRow>) != 0, "");
    typename Of::Image out{};
    if constexpr (Of::kFinding.eProblem == Problem::None) {
        constexpr Dims d = Of::kDims;
        const GrammarTable& t = Table;

        // Constraints, each group's members in ascending ID order.
        size_t nMembers = 0;
        x_uint32 memberIDs[image::Max(d.nMembers, 1)] = {};  // of members
        for (size_t c = 0; c < t.nConstraints; ++c) {
            const ConstraintRow& row = t.pConstraints[c];
            const size_t first = nMembers;
            for (size_t m = 0; IsGroup(row) && m < row.nMembers; ++m) {
                const x_uint32 id = row.pMembers[m];
                const CDataConstraint* member = self->constraints + ConstraintIndex(t, id);
                size_t at = first;
                while (at < nMembers && memberIDs[at] < id) ++at;
                if (id == row.nID || (at < nMembers && memberIDs[at] == id)) continue;
                for (size_t k = nMembers++; k > at; --k) {
                    out.members[k] = out.members[k - 1];
                    memberIDs[k] = memberIDs[k - 1];
                }
                out.members[at] = member;
                memberIDs[at] = id;
            }
            const bool bSigned = row.eKind == ConstraintKind::SignedRange;
            auto bound = [bSigned](long long v) {
                return bSigned ? static_cast<x_uint32>(static_cast<x_int32>(v)) : static_cast<x_uint32>(v);
            };
            out.constraints[c] = CDataConstraint(
                KindOf(row.eKind), row.eKind == ConstraintKind::TimeFormat ? "TimeFormat" : row.pszName, row.nID,
                bound(row.nLow), bound(row.nHigh), self->members + first, static_cast<x_uint32>(nMembers - first));
        }

        // Each row's parent group, as its index in groups (0: the root).
        size_t parentOf[d.nRows + 1] = {};
        size_t groupRow[d.nGroups] = {};  // the row of each group after the root
        size_t indexOf[d.nRows + 1] = {};  // in groups or items
        size_t open[d.nDepth] = {};
        size_t nGroups = 1, nItems = 0;
        for (size_t i = 0; i < d.nRows; ++i) {
            const NodeRow& row = RowAt(t, i);
            parentOf[i] = open[row.nDepth];
            if (IsGroup(row)) {
                groupRow[nGroups] = i;
                open[row.nDepth + 1u] = nGroups;
                indexOf[i] = nGroups++;
            } else {
                out.items[nItems] =
                    CItemNode(NameOf(t, row), row.nID, row.nDataType, row.bRequired, row.nConstraintID);
                indexOf[i] = nItems++;
            }
        }

        // Each group's slots, hash table and required slots.
        size_t nSlots = 0, nHash = 0, nRequired = 0;
        for (size_t g = 0; g < d.nGroups; ++g) {
            size_t sub[d.nLargest + 1] = {};  // rows of the sub-nodes, ascending IDs
            size_t n = 0;
            for (size_t i = 0; i < d.nRows; ++i) {
                if (parentOf[i] != g) continue;
                size_t at = n++;
                for (; at > 0 && RowAt(t, sub[at - 1]).nID > RowAt(t, i).nID; --at) sub[at] = sub[at - 1];
                sub[at] = i;
            }
            const unsigned bits = HashBits(n);
            const size_t firstRequired = nRequired;
            for (size_t s = 0; s < n; ++s) {
                const NodeRow& row = RowAt(t, sub[s]);
                const bool bGroup = IsGroup(row);
                const CNode* node = bGroup ? static_cast<const CNode*>(self->groups + indexOf[sub[s]])
                                           : static_cast<const CNode*>(self->items + indexOf[sub[s]]);
                const CDataConstraint* constraint =
                    bGroup || row.nConstraintID == 0 ? nullptr
                                                     : self->constraints + ConstraintIndex(t, row.nConstraintID);
                out.slots[nSlots + s] = {node, constraint, bGroup ? x_uint32{DT_GROUP} : row.nDataType, bGroup,
                                         row.bRequired};
                if (row.bRequired) out.required[nRequired++] = static_cast<x_uint32>(s);
                x_uint32 h = CGroupNode::HashOf(row.nID, 32 - bits);
                while (out.hash[nHash + h].nSlot != 0) h = (h + 1) & ((x_uint32{1} << bits) - 1);
                out.hash[nHash + h] = {row.nID, static_cast<x_uint32>(s + 1)};
            }
            const NodeRow& row = RowAt(t, groupRow[g]);  // the root (g 0) has none
            out.groups[g] = CGroupNode(g == 0 ? "Root" : NameOf(t, row), g == 0 ? 0 : row.nID, g != 0 && row.bRequired,
                                       self->slots + nSlots, static_cast<x_uint32>(n), self->hash + nHash, bits,
                                       self->required + firstRequired, static_cast<x_uint32>(nRequired - firstRequired));
            nSlots += n;
            nHash += size_t{1} << bits;
        }
        out.grammar = CBlobGrammar(self->groups, static_cast<x_uint32>(d.nDepth), static_cast<x_uint32>(d.nLargest));
    }
    return out;
}

}  // namespace image

// The grammar of a table, made when the library is compiled.
template <const GrammarTable& Table>
inline constexpr typename CImageOf<Table>::Image kImage = image::Make<Table>(&kImage<Table>);

}  // namespace grammar

#endif  // EN_GRAMMARIMAGE_H
