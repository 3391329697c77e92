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
// When the caller asks for it, a violation is located when it is decided:
// the entry comes from the reader's position, the path from the open
// contexts, whose counts by slot already number each group instance.  A
// conforming message never looks at the request.
//
// Contexts live in memory that each thread keeps from one message to the
// next, so that once a thread has validated a message as deep and as wide
// as the current one, a validation allocates nothing.
#ifndef EN_BLOBMESSAGEPARSER_H
#define EN_BLOBMESSAGEPARSER_H

#include <cstddef>
#include <memory>

#include "BlobGrammar.h"
#include "En_ValidationPrivate.h"
#include "Violation.h"

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
    // True when every required sub-node has occurred; otherwise false with
    // the lowest-ID one that has not, as a violation.
    bool CheckRequiredNodes(CViolation& v) const {
        return m_SubNodeRefCounts[-1] == m_pGroupNode->GetRequiredSlots().size() || _ReportMissingNode(v);
    }

private:
    bool _ReportMissingNode(CViolation& v) const;

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
    bool IsEmpty() const { return m_pStore->frames.Size() == 0; }

    CParsingContext GetCurrentContext() const;
    // Writes the path of the open group instances ("Root/PatternInfo[1]/
    // Info[2]"), then "/" and the name of pNamed when given, into text
    // (size bytes, zero-terminated, cut when longer).
    void FormatPath(const CNode* pNamed, char* text, size_t size) const;

private:
    // A growable array of plain values, kept from one message to the next.
    template <class T>
    class CArray {
    public:
        size_t Size() const { return m_nSize; }
        T* Data() const { return m_pData.get(); }
        // Room for n more elements, not initialised; may throw std::bad_alloc.
        T* Append(size_t n);
        void Shrink(size_t size) { m_nSize = size; }
        // Empties the array, and frees it when it holds more than keep.
        void Clear(size_t keep);

    private:
        std::unique_ptr<T[]> m_pData;
        size_t m_nSize = 0;
        size_t m_nCapacity = 0;
    };
    struct CFrame {
        const CGroupNode* pGroup;
        size_t nFirstCount;  // where its counts begin in counts
    };
    struct CStore {
        CArray<CFrame> frames;
        CArray<x_uint32> counts;  // of all open contexts, end to end
        bool bLeased = false;
    };
    CStore* m_pStore;  // the thread's, or m_OwnStore when that is in use
    CStore m_OwnStore;
};

class CBlobMessageParser {
public:
    // pLocation, when not null, receives the location of a violation.
    bool Parse(void* msgHandle, const CBlobGrammar& grammar, CViolation& v, EN_VALIDATE_LOCATION* pLocation);
};

#endif  // EN_BLOBMESSAGEPARSER_H
