// The message parser: parsing contexts, the context stack and the walk.
#include "BlobMessageParser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "BlobEntries.h"
#include "En_Msg.h"
#include "En_Validation.h"

namespace {

const int kSyntax = EN_VALIDATE_SYNTAX_ERROR;

bool ReportUnmatchedEndOfGroup(x_uint32 nExpectedID, x_uint32 nGivenID, CViolation& v) {
    return v.Set(kSyntax, "EndOfGroup tag of ID(%u) is expected, but ID(%u) is given.", nExpectedID, nGivenID);
}

bool ReportRepeated(const CNode& node, const CGroupNode& group, CViolation& v) {
    return v.Set(kSyntax, "Node (ID: %u, Name: %s) is not allowed to exist in group '%s' for more than once. ",
                 node.GetID(), node.GetName(), group.GetName());
}

}  // namespace

// -------------------------------------------------------------- context

bool CParsingContext::_ReportMissingNode(CViolation& v) const {
    for (size_t r = 0; r < m_pGroupNode->GetRequiredSlotCount(); ++r) {
        const x_uint32 i = m_pGroupNode->GetRequiredSlots()[r];
        if (m_SubNodeRefCounts[i] != 0) continue;
        const CNode& node = *m_pGroupNode->GetSlot(i).pNode;
        return v.Set(kSyntax, "Missing required node(ID: %u, Name: %s) under group '%s'.", node.GetID(),
                     node.GetName(), m_pGroupNode->GetName());
    }
    MY_ASSERT(!"a required sub-node is counted as missing, but none is");
    return true;
}

// ---------------------------------------------------------------- stack

void CContextStack::Push(const CGroupNode& group) {
    MY_ASSERT(m_nDepth < CGrammarRegistry::kMaxDepth && group.GetSlotCount() < kFrameCounts);
    m_pGroups[m_nDepth] = &group;
    std::memset(m_Counts[m_nDepth], 0, (group.GetSlotCount() + 1) * sizeof(x_uint32));
    ++m_nDepth;
}

const CGroupNode* CContextStack::Pop() {
    MY_ASSERT(!IsEmpty());
    return m_pGroups[--m_nDepth];
}

CParsingContext CContextStack::GetCurrentContext() {
    MY_ASSERT(!IsEmpty());
    return CParsingContext(*m_pGroups[m_nDepth - 1], m_Counts[m_nDepth - 1]);
}

void CContextStack::FormatPath(const CNode* pNamed, char* text, size_t size) const {
    MY_ASSERT(!IsEmpty() && size != 0);
    size_t used = 0;
    auto advance = [&](int n) {
        if (n > 0) used = std::min(size - 1, used + static_cast<size_t>(n));
    };
    text[0] = 0;
    advance(std::snprintf(text, size, "%s", m_pGroups[0]->GetName()));
    for (size_t i = 1; i < m_nDepth; ++i) {
        // The instance: its group's count in the parent instance so far.
        const int slot = m_pGroups[i - 1]->FindSlot(m_pGroups[i]->GetID());
        MY_ASSERT(slot >= 0);
        advance(std::snprintf(text + used, size - used, "/%s[%u]", m_pGroups[i]->GetName(),
                              m_Counts[i - 1][1 + static_cast<size_t>(slot)]));
    }
    if (pNamed != nullptr) advance(std::snprintf(text + used, size - used, "/%s", pNamed->GetName()));
}

// --------------------------------------------------------------- parser

namespace {

// Releases a reader on every way out of a parse.
class CReaderGuard {
public:
    CReaderGuard() : m_pReader(CreateINVPBlobReader()) {}
    ~CReaderGuard() { FreeINVPBlobReader(m_pReader); }
    bool IsMissing() const { return m_pReader == nullptr; }
    CReaderGuard(const CReaderGuard&) = delete;
    CReaderGuard& operator=(const CReaderGuard&) = delete;
    CBlobReader* operator->() const { return m_pReader; }

private:
    CBlobReader* m_pReader;
};

// Sets the entry of a location: the one read last (read), else the one at
// position, where the reader stands (the end of the data or an entry it
// refuses).  The walk over the entry headers stops at position, which the
// reader has passed already.
void LocateEntry(const unsigned char* blob, x_uint32 size, x_uint32 position, bool read, EN_VALIDATE_LOCATION& loc) {
    size_t pos = 0, last = 0;
    x_uint32 n = 0;
    CBlobEntryHeader e;
    while (pos < position && ReadEntryHeader(blob, size, pos, e) == 0) {
        last = pos;
        pos = e.nNext;
        ++n;
    }
    // A reader that could not attach (no memory for a copy) stands nowhere:
    // the walk then ends at the end of the data or at a broken entry.
    loc.nEntry = read && n != 0 ? n - 1 : n;
    loc.nOffset = static_cast<x_uint32>(read ? last : pos);
}

// Fills the location of a violation decided at the entry read last (read)
// or where the reader stands, remaining bytes before the end: the entry,
// and the path of the open groups (open: the root is not closed yet), with
// the node the entry names in the innermost one.
void Locate(EN_VALIDATE_LOCATION& loc, const void* buffer, x_uint32 length, x_uint32 remaining, bool read, bool open,
            const CContextStack& stack, const CMsgEntry& entry, const CGroupNode& root) {
    const x_uint32 size = buffer != nullptr ? length : 0;  // a reader attached to nothing holds no entry
    LocateEntry(static_cast<const unsigned char*>(buffer), size, size - remaining, read, loc);
    if (open) {
        const CGroupNode& group = *stack.GetCurrentGroupNode();
        const int slot = read && entry.m_nDataType != DT_END_OF_GROUP ? group.FindSlot(entry.m_nID) : -1;
        stack.FormatPath(slot >= 0 ? group.GetSlot(static_cast<size_t>(slot)).pNode : nullptr, loc.szPath,
                         sizeof loc.szPath);
    } else {
        std::snprintf(loc.szPath, sizeof loc.szPath, "%s", root.GetName());
    }
    loc.bLocated = 1;
}

}  // namespace

bool CBlobMessageParser::Parse(void* msgHandle, const CBlobGrammar& grammar, CViolation& v,
                               EN_VALIDATE_LOCATION* pLocation) {
    MY_ASSERT(msgHandle);
    const void* buffer = En_Msg_GetBuffer(msgHandle);
    const x_uint32 length = En_Msg_BytesUsed(msgHandle);
    MY_ASSERT(grammar.GetDepth() <= CGrammarRegistry::kMaxDepth &&
              grammar.GetLargestGroup() <= CGrammarRegistry::kMaxGroupSlots);
    CReaderGuard reader;
    if (reader.IsMissing()) return v.Set(EN_VALIDATE_UNKNOWN_ERROR, "Unknown error");
    reader->Attach(buffer, length);

    CContextStack stack;
    const CGroupNode& root = grammar.GetRoot();
    stack.Push(root);
    CParsingContext context = stack.GetCurrentContext();  // of the open group; valid until the next Push or Pop
    bool open = true;                                     // false once the root is closed
    CMsgEntry entry = {0, 0, nullptr, 0};
    // Locates the violation just decided, when the caller asks; returns
    // false.  Whatever the walk changes from entry to entry is passed, not
    // captured, so that it stays in registers.
    const CBlobReader* pReader = reader.operator->();
    auto located = [pLocation, buffer, length, pReader, &stack, &entry, &root](bool read, bool rootOpen) {
        if (pLocation != nullptr) Locate(*pLocation, buffer, length, pReader->Remaining(), read, rootOpen, stack, entry, root);
        return false;
    };
    for (;;) {
        const int rc = reader->Pop(&entry.m_nID, &entry.m_nDataType, &entry.m_pData, &entry.m_nDataLength);
        if (rc != 0) {
            if (rc != BLOB_END_OF_DATA)
                return v.Set(EN_VALIDATE_INTERNAL_ERROR, "CBlobReader::Pop() failed. %d is returned.", rc) ||
                       located(false, open);
            // Groups still open are closed without their own test.
            if (!open)
                return v.Set(kSyntax, "Group '%s' is closed before the end of the message.", root.GetName()) ||
                       located(false, open);
            return context.CheckRequiredNodes(v) || located(false, open);
        }
        if (!open)
            return v.Set(kSyntax, "Node(ID: %u) is unexpected after group '%s' is closed.", entry.m_nID,
                         root.GetName()) ||
                   located(true, open);

        const CGroupNode& group = *context.GetGroupNode();
        if (entry.m_nDataType == DT_END_OF_GROUP) {
            if (entry.m_nID != group.GetID())
                return ReportUnmatchedEndOfGroup(group.GetID(), entry.m_nID, v) || located(true, open);
            if (!context.CheckRequiredNodes(v)) return located(true, open);
            stack.Pop();
            open = !stack.IsEmpty();
            if (open) context = stack.GetCurrentContext();
            continue;
        }

        const int slot = group.MatchSubNode(entry.m_nID, entry.m_nDataType, v);
        if (slot < 0) return located(true, open);
        const CGroupNode::CSlot& matched = group.GetSlot(static_cast<size_t>(slot));
        const x_uint32 count = context.IncreaseSlotCount(static_cast<size_t>(slot));
        if (matched.bGroup) {
            stack.Push(static_cast<const CGroupNode&>(*matched.pNode));
            context = stack.GetCurrentContext();
        } else {
            if (count >= 2) return ReportRepeated(*matched.pNode, group, v) || located(true, open);
            if (!CBlobGrammar::VerifyDataConstraint(entry, matched, v)) return located(true, open);
        }
    }
}
