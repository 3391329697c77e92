// The message parser: parsing contexts, the context stack and the walk.
#include "BlobMessageParser.h"

#include <algorithm>
#include <charconv>
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

bool CParsingContext::NextMissingNode(size_t& r, CViolation& v) const {
    for (; r < m_pGroupNode->GetRequiredSlotCount(); ++r) {
        const x_uint32 i = m_pGroupNode->GetRequiredSlots()[r];
        if (m_SubNodeRefCounts[i] != 0) continue;
        const CNode& node = *m_pGroupNode->GetSlot(i).pNode;
        ++r;
        v.Set(kSyntax, "Missing required node(ID: %u, Name: %s) under group '%s'.", node.GetID(), node.GetName(),
              m_pGroupNode->GetName());
        return true;
    }
    return false;
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

namespace {

// Appends s to the zero-terminated text of size bytes at text, whose first
// used bytes are set; what does not fit is cut off.
void AppendText(char* text, size_t size, size_t& used, const char* s) {
    while (*s != 0 && used + 1 < size) text[used++] = *s++;
    text[used] = 0;
}

}  // namespace

void CContextStack::FormatPath(const CNode* pNamed, char* text, size_t size) const {
    MY_ASSERT(!IsEmpty() && size != 0);
    size_t used = 0;
    text[0] = 0;
    AppendText(text, size, used, m_pGroups[0]->GetName());
    for (size_t i = 1; i < m_nDepth; ++i) {
        // The instance: its group's count in the parent instance so far.
        const int slot = m_pGroups[i - 1]->FindSlot(m_pGroups[i]->GetID());
        MY_ASSERT(slot >= 0);
        char instance[16] = "[";
        *std::to_chars(instance + 1, instance + sizeof instance - 2, m_Counts[i - 1][1 + static_cast<size_t>(slot)]).ptr = ']';
        AppendText(text, size, used, "/");
        AppendText(text, size, used, m_pGroups[i]->GetName());
        AppendText(text, size, used, instance);
    }
    if (pNamed != nullptr) {
        AppendText(text, size, used, "/");
        AppendText(text, size, used, pNamed->GetName());
    }
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

// How far the walk over the entry headers (LocateEntry) has come: the
// reader only moves forward, so each location of one message goes on from
// the one before, and listing every violation stays linear.
struct CEntryCursor {
    size_t nPos = 0;   // the entry where the walk stopped
    size_t nLast = 0;  // the entry before it
    x_uint32 nCount = 0;  // entries walked
};

// Sets the entry of a location: the one read last (read), else the one at
// position, where the reader stands (the end of the data or an entry it
// refuses).  The walk over the entry headers stops at position, which the
// reader has passed already.
void LocateEntry(const unsigned char* blob, x_uint32 size, x_uint32 position, bool read, CEntryCursor& at,
                 EN_VALIDATE_LOCATION& loc) {
    if (at.nPos > position) at = CEntryCursor();
    CBlobEntryHeader e;
    while (at.nPos < position && ReadEntryHeader(blob, size, at.nPos, e) == 0) {
        at.nLast = at.nPos;
        at.nPos = e.nNext;
        ++at.nCount;
    }
    // A reader that could not attach (no memory for a copy) stands nowhere:
    // the walk then ends at the end of the data or at a broken entry.
    loc.nEntry = read && at.nCount != 0 ? at.nCount - 1 : at.nCount;
    loc.nOffset = static_cast<x_uint32>(read ? at.nLast : at.nPos);
}

// Fills the location of a violation decided at the entry read last (read)
// or where the reader stands, remaining bytes before the end: the entry,
// and the path of the open groups (open: the root is not closed yet), with
// the node the entry names in the innermost one.
void Locate(EN_VALIDATE_LOCATION& loc, const void* buffer, x_uint32 length, x_uint32 remaining, bool read, bool open,
            CEntryCursor& at, const CContextStack& stack, const CMsgEntry& entry, const CGroupNode& root) {
    const x_uint32 size = buffer != nullptr ? length : 0;  // a reader attached to nothing holds no entry
    LocateEntry(static_cast<const unsigned char*>(buffer), size, size - remaining, read, at, loc);
    if (open) {
        const CGroupNode& group = *stack.GetCurrentGroupNode();
        const int slot = read && entry.m_nDataType != DT_END_OF_GROUP ? group.FindSlot(entry.m_nID) : -1;
        stack.FormatPath(slot >= 0 ? group.GetSlot(static_cast<size_t>(slot)).pNode : nullptr, loc.szPath,
                         sizeof loc.szPath);
    } else {
        size_t used = 0;
        AppendText(loc.szPath, sizeof loc.szPath, used, root.GetName());
    }
    loc.bLocated = 1;
}

// Reports every required node missing from the context's group instance,
// lowest ID first; false when the sink ends the walk.
template <class Report>
bool ReportMissingNodes(const CParsingContext& context, CViolation& v, Report report) {
    if (context.IsComplete()) return true;
    size_t r = 0;
    bool any = false;
    while (context.NextMissingNode(r, v)) {
        any = true;
        if (!report()) return false;
    }
    MY_ASSERT(any && "a required sub-node is counted as missing, but none is");
    return true;
}

}  // namespace

template <class Sink>
bool CBlobMessageParser::Parse(void* msgHandle, const CBlobGrammar& grammar, CViolation& v, Sink& sink) {
    MY_ASSERT(msgHandle);
    const void* buffer = En_Msg_GetBuffer(msgHandle);
    const x_uint32 length = En_Msg_BytesUsed(msgHandle);
    MY_ASSERT(grammar.GetDepth() <= CGrammarRegistry::kMaxDepth &&
              grammar.GetLargestGroup() <= CGrammarRegistry::kMaxGroupSlots);
    CReaderGuard reader;
    if (reader.IsMissing()) {
        v.Set(EN_VALIDATE_UNKNOWN_ERROR, "Unknown error");
        sink.Report(v, Unlocated);
        return false;
    }
    reader->Attach(buffer, length);

    CContextStack stack;
    const CGroupNode& root = grammar.GetRoot();
    stack.Push(root);
    CParsingContext context = stack.GetCurrentContext();  // of the open group; valid until the next Push or Pop
    bool open = true;                                     // false once the root is closed
    CMsgEntry entry = {0, 0, nullptr, 0};
    // Hands the violation just decided (in v) to the sink with the way to
    // locate it; returns whether the walk goes on.  Whatever the walk
    // changes from entry to entry is passed, not captured, so that it stays
    // in registers.
    const CBlobReader* pReader = reader.operator->();
    CEntryCursor located;
    auto report = [&sink, &v, buffer, length, pReader, &located, &stack, &entry, &root](bool read, bool rootOpen) {
        return sink.Report(v, [=, &located, &stack, &entry, &root](EN_VALIDATE_LOCATION& loc) {
            Locate(loc, buffer, length, pReader->Remaining(), read, rootOpen, located, stack, entry, root);
        });
    };
    x_uint32 skipped = 0;  // the depth of a refused group's subtree being skipped (full list only)
    for (;;) {
        const int rc = reader->Pop(&entry.m_nID, &entry.m_nDataType, &entry.m_pData, &entry.m_nDataLength);
        if (rc != 0) {
            if (rc != BLOB_END_OF_DATA) {
                v.Set(EN_VALIDATE_INTERNAL_ERROR, "CBlobReader::Pop() failed. %d is returned.", rc);
                report(false, open);
                return false;
            }
            if (!open) {
                v.Set(kSyntax, "Group '%s' is closed before the end of the message.", root.GetName());
                report(false, open);
                return false;
            }
            // Groups still open around the innermost one are closed
            // without their own test; the full list notes each group left
            // open.
            if (!ReportMissingNodes(context, v, [&] { return report(false, open); })) return false;
            if constexpr (Sink::kContinues) {
                for (; stack.GetDepth() > 1; stack.Pop()) {
                    v.Set(0, "The message ends inside group '%s'.", stack.GetCurrentGroupNode()->GetName());
                    if (!report(false, open)) return false;
                }
            }
            return true;
        }
        if constexpr (Sink::kContinues) {
            if (skipped != 0) {
                skipped += entry.m_nDataType == DT_GROUP;
                skipped -= entry.m_nDataType == DT_END_OF_GROUP;
                continue;
            }
        }
        if (!open) {
            v.Set(kSyntax, "Node(ID: %u) is unexpected after group '%s' is closed.", entry.m_nID, root.GetName());
            report(true, open);
            return false;
        }

        const CGroupNode& group = *context.GetGroupNode();
        if (entry.m_nDataType == DT_END_OF_GROUP) {
            if (entry.m_nID != group.GetID()) {
                ReportUnmatchedEndOfGroup(group.GetID(), entry.m_nID, v);
                if (!report(true, open)) return false;
                continue;
            }
            if (!ReportMissingNodes(context, v, [&] { return report(true, open); })) return false;
            stack.Pop();
            open = !stack.IsEmpty();
            if (open) context = stack.GetCurrentContext();
            continue;
        }

        const int slot = group.MatchSubNode(entry.m_nID, entry.m_nDataType, v);
        if (slot < 0) {
            if (!report(true, open)) return false;
            skipped = entry.m_nDataType == DT_GROUP;
            continue;
        }
        const CGroupNode::CSlot& matched = group.GetSlot(static_cast<size_t>(slot));
        const x_uint32 count = context.IncreaseSlotCount(static_cast<size_t>(slot));
        if (matched.bGroup) {
            stack.Push(static_cast<const CGroupNode&>(*matched.pNode));
            context = stack.GetCurrentContext();
        } else if (count >= 2) {
            ReportRepeated(*matched.pNode, group, v);
            if (!report(true, open)) return false;
        } else if (!CBlobGrammar::VerifyDataConstraint(entry, matched, v) && !report(true, open)) {
            return false;
        }
    }
}

template bool CBlobMessageParser::Parse(void*, const CBlobGrammar&, CViolation&, CFirstViolation&);
template bool CBlobMessageParser::Parse(void*, const CBlobGrammar&, CViolation&, CEveryViolation&);
