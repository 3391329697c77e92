// The message parser: parsing contexts, the context stack and the walk.
#include "BlobMessageParser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "BlobEntries.h"
#include "En_Msg.h"
#include "En_Validation.h"
#include "my/ThreadCache.h"

namespace {

const int kSyntax = EN_VALIDATE_SYNTAX_ERROR;

bool ReportUnmatchedEndOfGroup(x_uint32 nExpectedID, x_uint32 nGivenID, CViolation& v) {
    return v.Set(kSyntax, "EndOfGroup tag of ID(%u) is expected, but ID(%u) is given.", nExpectedID, nGivenID);
}

bool ReportRepeated(const CNode& node, const CGroupNode& group, CViolation& v) {
    return v.Set(kSyntax, "Node (ID: %u, Name: %s) is not allowed to exist in group '%s' for more than once. ",
                 node.GetID(), node.GetName(), group.GetName());
}

// A thread keeps the memory of its largest message up to these sizes.
const size_t kKeptFrames = 1024;
const size_t kKeptCounts = 16384;

}  // namespace

// -------------------------------------------------------------- context

bool CParsingContext::_ReportMissingNode(CViolation& v) const {
    for (x_uint32 i : m_pGroupNode->GetRequiredSlots()) {
        if (m_SubNodeRefCounts[i] != 0) continue;
        const CNode& node = *m_pGroupNode->GetSlot(i).pNode;
        return v.Set(kSyntax, "Missing required node(ID: %u, Name: %s) under group '%s'.", node.GetID(),
                     node.GetName(), m_pGroupNode->GetName());
    }
    MY_ASSERT(!"a required sub-node is counted as missing, but none is");
    return true;
}

// ---------------------------------------------------------------- stack

template <class T>
T* CContextStack::CArray<T>::Append(size_t n) {
    const size_t size = m_nSize + n;
    if (size > m_nCapacity) {
        const size_t capacity = std::max(size, std::max<size_t>(2 * m_nCapacity, 64));
        std::unique_ptr<T[]> data(new T[capacity]);
        if (m_nSize != 0) std::memcpy(data.get(), m_pData.get(), m_nSize * sizeof(T));
        m_pData.swap(data);
        m_nCapacity = capacity;
    }
    T* appended = m_pData.get() + m_nSize;
    m_nSize = size;
    return appended;
}

template <class T>
void CContextStack::CArray<T>::Clear(size_t keep) {
    m_nSize = 0;
    if (m_nCapacity <= keep) return;
    m_pData.reset();
    m_nCapacity = 0;
}

CContextStack::CContextStack() : m_pStore(my::CThreadCache<CStore>::Get()) {
    // Without the thread's store (no memory for it, or a stack already
    // lives on this thread), the stack keeps its own.
    if (m_pStore == nullptr || m_pStore->bLeased) m_pStore = &m_OwnStore;
    m_pStore->bLeased = true;
}

CContextStack::~CContextStack() {
    CStore& store = *m_pStore;
    store.frames.Clear(kKeptFrames);
    store.counts.Clear(kKeptCounts);
    store.bLeased = false;
}

void CContextStack::Push(const CGroupNode& group) {
    CStore& store = *m_pStore;
    const size_t n = group.GetSlotCount() + 1;  // the required sub-nodes seen, then the counts
    const size_t first = store.counts.Size();
    std::memset(store.counts.Append(n), 0, n * sizeof(x_uint32));
    try {
        *store.frames.Append(1) = CFrame{&group, first};
    } catch (...) {
        store.counts.Shrink(first);
        throw;
    }
}

const CGroupNode* CContextStack::Pop() {
    MY_ASSERT(!IsEmpty());
    CStore& store = *m_pStore;
    const CFrame top = store.frames.Data()[store.frames.Size() - 1];
    store.frames.Shrink(store.frames.Size() - 1);
    store.counts.Shrink(top.nFirstCount);
    return top.pGroup;
}

CParsingContext CContextStack::GetCurrentContext() const {
    MY_ASSERT(!IsEmpty());
    const CFrame& top = m_pStore->frames.Data()[m_pStore->frames.Size() - 1];
    return CParsingContext(*top.pGroup, m_pStore->counts.Data() + top.nFirstCount);
}

void CContextStack::FormatPath(const CNode* pNamed, char* text, size_t size) const {
    MY_ASSERT(!IsEmpty() && size != 0);
    const CStore& store = *m_pStore;
    const CFrame* frames = store.frames.Data();
    size_t used = 0;
    auto advance = [&](int n) {
        if (n > 0) used = std::min(size - 1, used + static_cast<size_t>(n));
    };
    text[0] = 0;
    advance(std::snprintf(text, size, "%s", frames[0].pGroup->GetName()));
    for (size_t i = 1; i < store.frames.Size(); ++i) {
        // The instance: its group's count in the parent instance so far.
        const CFrame& parent = frames[i - 1];
        const int slot = parent.pGroup->FindSlot(frames[i].pGroup->GetID());
        MY_ASSERT(slot >= 0);
        advance(std::snprintf(text + used, size - used, "/%s[%u]", frames[i].pGroup->GetName(),
                              store.counts.Data()[parent.nFirstCount + 1 + static_cast<size_t>(slot)]));
    }
    if (pNamed != nullptr) advance(std::snprintf(text + used, size - used, "/%s", pNamed->GetName()));
}

// --------------------------------------------------------------- parser

namespace {

// Releases a reader on every way out of a parse.
class CReaderGuard {
public:
    CReaderGuard() : m_pReader(CreateINVPBlobReader()) { MY_ASSERT(m_pReader); }
    ~CReaderGuard() { FreeINVPBlobReader(m_pReader); }
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
        const CGroupNode& group = *stack.GetCurrentContext().GetGroupNode();
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
    CReaderGuard reader;
    reader->Attach(buffer, length);

    CContextStack stack;  // destroyed before the reader is released
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
