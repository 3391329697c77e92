// BlobMessageParser.h - walks one message against one grammar.
//
// Parse returns true when the message conforms and otherwise false with
// the first violation.  The parser keeps one parsing context per open group, counting how often each
// sub-node of that group instance has occurred.  Checks per entry, in this
// order: the ID and type match (unexpected node, wrong type), the count,
// the repetition test, the value constraint.  Required sub-nodes are tested
// when a group closes and, at the end of the data, for the group then open.
// Every way out frees the contexts and releases the reader.
//
// Each violation goes to the walk's sink (ViolationSink.h) when it is
// decided, with a way to locate it: the entry comes from the reader's
// position, the path from the open contexts, whose counts by slot already
// number each group instance.  A conforming message never looks at it.
// The sink of the exported functions ends the walk there; the one of the
// full list goes on by the recovery rules of docs/design.md.
//
// The contexts live on the walk's own stack, in room for the deepest
// grammar and its largest group (CGrammarRegistry::kMaxDepth,
// kMaxGroupSlots), known when the library is compiled: an entry can open a
// group only where its grammar has one, so no message goes deeper.  The
// walk allocates nothing; the reader is the one thing that can be missing,
// and then the result is 100 "Unknown error".
#ifndef EN_BLOBMESSAGEPARSER_H
#define EN_BLOBMESSAGEPARSER_H

#include <cstddef>

#include "BlobGrammar.h"
#include "En_ValidationPrivate.h"
#include "GrammarRegistry.h"
#include "Violation.h"
#include "ViolationSink.h"
#include "my/Assert.h"

// State of one open group instance: its group and, for every sub-node of
// the group, the number of entries that matched it, all starting at 0.
// The counts are kept by slot (CGroupNode::GetSlot), in ascending ID order,
// and preceded by the number of required sub-nodes that have occurred, so
// that a group whose required sub-nodes are all there is passed at once.
// A context is a view into its stack, valid until the next Push or Pop.
class CParsingContext {
public:
    // pCounts: the number of required sub-nodes seen, then one count per slot.
    CParsingContext(const CGroupNode& group, x_uint32* pCounts)
        : m_pGroupNode(&group), m_SubNodeRefCounts(pCounts + 1) {}
    CParsingContext(const CParsingContext&) = default;
    CParsingContext& operator=(const CParsingContext&) = default;

    const CGroupNode* GetGroupNode() const { return m_pGroupNode; }
    // Counts one more entry of the sub-node in the slot; returns the new count.
    x_uint32 IncreaseSlotCount(size_t slot) {
        const x_uint32 count = ++m_SubNodeRefCounts[slot];
        m_SubNodeRefCounts[-1] += count == 1 && m_pGroupNode->GetSlot(slot).bRequired;
        return count;
    }
    // True when every required sub-node has occurred.
    bool IsComplete() const { return m_SubNodeRefCounts[-1] == m_pGroupNode->GetRequiredSlotCount(); }
    // Sets the violation of the next required sub-node that has not
    // occurred, in ascending ID order from the r-th required slot on, and
    // advances r past it; false when there is none.
    bool NextMissingNode(size_t& r, CViolation& v) const;

private:

    const CGroupNode* m_pGroupNode;
    x_uint32* m_SubNodeRefCounts;
};

// The stack of open group instances, in fixed room: a frame per open
// group, and per frame the number of required sub-nodes seen and a count
// per slot.
class CContextStack {
public:
    CContextStack() = default;
    CContextStack(const CContextStack&) = delete;
    CContextStack& operator=(const CContextStack&) = delete;

    // The group must be the root or a group sub-node of the current one.
    void Push(const CGroupNode& group);
    const CGroupNode* Pop();
    bool IsEmpty() const { return m_nDepth == 0; }
    size_t GetDepth() const { return m_nDepth; }

    CParsingContext GetCurrentContext();
    const CGroupNode* GetCurrentGroupNode() const { return m_pGroups[m_nDepth - 1]; }
    // Writes the path of the open group instances ("Root/PatternInfo[1]/
    // Info[2]"), then "/" and the name of pNamed when given, into text
    // (size bytes, zero-terminated, cut when longer).
    void FormatPath(const CNode* pNamed, char* text, size_t size) const;

private:
    static constexpr size_t kFrameCounts = CGrammarRegistry::kMaxGroupSlots + 1;

    const CGroupNode* m_pGroups[CGrammarRegistry::kMaxDepth];
    x_uint32 m_Counts[CGrammarRegistry::kMaxDepth][kFrameCounts];
    size_t m_nDepth = 0;
};

class CBlobMessageParser {
public:
    // The grammar is one of the registry's; Sink is CFirstViolation or
    // CEveryViolation.  False when a violation was reported (v holds the
    // last one).  No reader: false with 100 "Unknown error", unlocated.
    template <class Sink>
    bool Parse(void* msgHandle, const CBlobGrammar& grammar, CViolation& v, Sink& sink);
};

#endif  // EN_BLOBMESSAGEPARSER_H
