// BlobMessageParser.h - walks one message against one grammar.
//
// Parse returns normally when the message conforms and otherwise throws the
// exception that describes the first violation.  It keeps one parsing
// context per open group, counting how often each sub-node of that group
// instance has occurred.  Checks per entry, in this order: the ID and type
// match (unexpected node, wrong type), the count, the repetition test, the
// value constraint.  Required sub-nodes are tested when a group closes and,
// at the end of the data, for the group then open.  Every way out frees the
// contexts and releases the reader.
#ifndef EN_BLOBMESSAGEPARSER_H
#define EN_BLOBMESSAGEPARSER_H

#include "BlobGrammar.h"

// State of one open group instance.
class CParsingContext {
public:
    explicit CParsingContext(const CGroupNode& group);

    const CGroupNode* GetGroupNode() const { return m_pGroupNode; }
    void IncreaseSubNodeRefCount(x_uint32 nID);
    x_uint32 GetSubNodeRefCount(x_uint32 nID) const;
    // Throws for the lowest-ID required sub-node that has not occurred.
    void ThrowIfRequiredNodesAreNotMet() const;

private:
    [[noreturn]] void _ThrowForNoSuchSubNode(x_uint32 nID) const;

    const CGroupNode* m_pGroupNode;
    my::CMap<x_uint32, x_uint32> m_SubNodeRefCounts;
};

// A singly linked stack of contexts; owns its elements.
class CContextStack {
public:
    CContextStack() : m_TopElement(nullptr) {}
    ~CContextStack();
    CContextStack(const CContextStack&) = delete;
    CContextStack& operator=(const CContextStack&) = delete;

    void Push(const CGroupNode& group);
    const CGroupNode* Pop();
    bool IsEmpty() const { return m_TopElement == nullptr; }

    CParsingContext& GetCurrentContext();
    const CParsingContext& GetCurrentContext() const;
    const CGroupNode* GetCurrentGroupNode() const;

private:
    struct CElement {
        explicit CElement(const CGroupNode& group) : m_Context(group), m_pNext(nullptr) {}
        CParsingContext m_Context;
        CElement* m_pNext;
    };
    CElement* m_TopElement;
};

class CBlobMessageParser {
public:
    void Parse(void* msgHandle, const CBlobGrammar& grammar);

    [[noreturn]] static void _ThrowForUnmatchedEndOfGroupTag(x_uint32 nExpectedID, x_uint32 nGivenID);
    static void _ThrowIfRepeatedSubNode(const CContextStack& stack, const CNode& node);
};

#endif  // EN_BLOBMESSAGEPARSER_H
