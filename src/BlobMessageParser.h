// BlobMessageParser.h - walks one message against one grammar.
//
// Validate returns true when the message conforms and otherwise false with
// the first violation; Parse is the same but throws that violation.  The
// parser keeps one parsing context per open group, counting how often each
// sub-node of that group instance has occurred.  Checks per entry, in this
// order: the ID and type match (unexpected node, wrong type), the count,
// the repetition test, the value constraint.  Required sub-nodes are tested
// when a group closes and, at the end of the data, for the group then open.
// Every way out frees the contexts and releases the reader.
//
// Contexts live in memory that each thread keeps from one message to the
// next, so that once a thread has validated a message as deep and as wide
// as the current one, a validation allocates nothing.
#ifndef EN_BLOBMESSAGEPARSER_H
#define EN_BLOBMESSAGEPARSER_H

#include <cstddef>
#include <memory>
#include <vector>

#include "BlobGrammar.h"

// State of one open group instance: its group and, for every sub-node of
// the group, the number of entries that matched it, all starting at 0.
// The counts are kept by slot (CGroupNode::GetSlot), in ascending ID order.
// A context is a view into its stack, valid until the next Push or Pop.
class CParsingContext {
public:
    CParsingContext(const CGroupNode& group, x_uint32* pCounts) : m_pGroupNode(&group), m_SubNodeRefCounts(pCounts) {}
    CParsingContext(const CParsingContext&) = default;
    CParsingContext& operator=(const CParsingContext&) = default;

    const CGroupNode* GetGroupNode() const { return m_pGroupNode; }
    // By node ID; an ID that is not a sub-node throws CInternalErrorException.
    void IncreaseSubNodeRefCount(x_uint32 nID);
    x_uint32 GetSubNodeRefCount(x_uint32 nID) const;
    // By slot; returns the new count.
    x_uint32 IncreaseSlotCount(size_t slot) { return ++m_SubNodeRefCounts[slot]; }
    // The lowest-ID required sub-node that has not occurred, as a violation
    // (false) or thrown.
    bool CheckRequiredNodes(CViolation& v) const;
    void ThrowIfRequiredNodesAreNotMet() const;

private:
    [[noreturn]] void _ThrowForNoSuchSubNode(x_uint32 nID) const;
    size_t _SlotOf(x_uint32 nID) const;

    const CGroupNode* m_pGroupNode;
    x_uint32* m_SubNodeRefCounts;
};

// The stack of open group instances.  Push may throw std::bad_alloc when
// the thread's context memory has to grow.
class CContextStack {
public:
    CContextStack();
    ~CContextStack();
    CContextStack(const CContextStack&) = delete;
    CContextStack& operator=(const CContextStack&) = delete;

    void Push(const CGroupNode& group);
    const CGroupNode* Pop();
    bool IsEmpty() const { return m_pStore->frames.empty(); }

    CParsingContext GetCurrentContext() const;
    const CGroupNode* GetCurrentGroupNode() const;

private:
    struct CFrame {
        const CGroupNode* pGroup;
        size_t nFirstCount;  // index of its first count in counts
    };
    // The counts of all open contexts, end to end: a plain array, since
    // every push clears a run of it.
    class CCounts {
    public:
        size_t Size() const { return m_nSize; }
        x_uint32* Data() const { return m_pData.get(); }
        void Clear() { m_nSize = 0; }
        // Appends n zero counts; may throw std::bad_alloc.
        void AppendZeros(size_t n);
        void Shrink(size_t size) { m_nSize = size; }
        // Frees the array when it is larger than keep.
        void Trim(size_t keep);

    private:
        std::unique_ptr<x_uint32[]> m_pData;
        size_t m_nSize = 0;
        size_t m_nCapacity = 0;
    };
    struct CStore {
        std::vector<CFrame> frames;
        CCounts counts;
        bool bLeased = false;
    };
    CStore* m_pStore;  // the thread's, or m_OwnStore when that is in use
    CStore m_OwnStore;
};

class CBlobMessageParser {
public:
    bool Validate(void* msgHandle, const CBlobGrammar& grammar, CViolation& v);
    void Parse(void* msgHandle, const CBlobGrammar& grammar);

    [[noreturn]] static void _ThrowForUnmatchedEndOfGroupTag(x_uint32 nExpectedID, x_uint32 nGivenID);
    static void _ThrowIfRepeatedSubNode(const CContextStack& stack, const CNode& node);
};

#endif  // EN_BLOBMESSAGEPARSER_H
