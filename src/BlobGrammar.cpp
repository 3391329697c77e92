// Grammar nodes, the grammar object, its table-driven construction, and the
// message parser.
#include "BlobGrammar.h"

#include <algorithm>
#include <vector>

#include "BlobMessageParser.h"
#include "DataConstraint.h"
#include "En_Msg.h"
#include "Exceptions.h"

// ---------------------------------------------------------------- nodes

CNode::CNode(const char* name, x_uint32 nID, bool bRequired, x_uint32 nConstraintID)
    : m_strName(name), m_nID(nID), m_bRequired(bRequired), m_nConstraintID(nConstraintID) {}

CNode::~CNode() {}

my::CAutoPtr<CNode> CNode::CreateItemNode(const char* name, x_uint32 nID, Type nDataType, bool bRequired,
                                          x_uint32 nConstraintID) {
    return my::CAutoPtr<CNode>(new CItemNode(name, nID, nDataType, bRequired, nConstraintID));
}

my::CAutoPtr<CNode> CNode::CreateGroupNode(const char* name, x_uint32 nID, bool bRequired) {
    return my::CAutoPtr<CNode>(new CGroupNode(name, nID, bRequired));
}

CItemNode::CItemNode(const char* name, x_uint32 nID, Type nDataType, bool bRequired, x_uint32 nConstraintID)
    : CNode(name, nID, bRequired, nConstraintID), m_nDataType(nDataType) {}

CGroupNode::CGroupNode(const char* name, x_uint32 nID, bool bRequired) : CNode(name, nID, bRequired, 0) {}

namespace {

// Deletes the pointer values of a map.  Destructors use it rather than a
// snapshot iterator, which allocates: a destructor that runs while memory
// is exhausted (a grammar whose construction failed) must not throw.
template <class Map>
class CValueDeleter : public my::CVisitor<typename Map::CPair> {
public:
    void Visit(typename Map::CPair* pData) override { delete pData->m_Value; }
};

}  // namespace

CGroupNode::~CGroupNode() {
    // Sub-nodes in ascending ID order; nested groups free their own.
    CValueDeleter<SubNodeMap> deleter;
    m_SubNodes.Traverse(deleter);
}

void CGroupNode::AddNode(my::CAutoPtr<CNode> pNode) {
    MY_ASSERT(pNode.Get());
    if (m_SubNodes.Contains(pNode->GetID()))
        throw CInternalErrorException("Invalid message grammar: %s '%s'(%d) already exists in group '%s'.",
                                      pNode->GetNodeType() == NT_ITEM ? "ItemNode" : "GroupNode", pNode->GetName(),
                                      static_cast<int>(pNode->GetID()), GetName());
    // Everything that can fail comes before the first change.
    CountMap counts;
    _BuildZeroCounts(counts, pNode->GetID());
    m_SubNodes.Insert(pNode->GetID(), pNode.Get());  // on failure the node stays with pNode
    m_ZeroCounts.Swap(counts);
    pNode.Release();
}

namespace {

// Inserts ids[lo, hi), sorted ascending, median first: a balanced tree.
void InsertBalanced(CGroupNode::CountMap& counts, const std::vector<x_uint32>& ids, size_t lo, size_t hi) {
    if (lo >= hi) return;
    const size_t mid = lo + (hi - lo) / 2;
    counts.Insert(ids[mid], 0);
    InsertBalanced(counts, ids, lo, mid);
    InsertBalanced(counts, ids, mid + 1, hi);
}

}  // namespace

void CGroupNode::_BuildZeroCounts(CountMap& counts, x_uint32 nNewID) const {
    std::vector<x_uint32> ids;
    ids.reserve(static_cast<size_t>(m_SubNodes.GetSize()) + 1);
    my::CAutoPtr<CConstIterator<SubNodeMap::CPair>> it(m_SubNodes.CreateConstIterator());
    while (it->HasNext()) ids.push_back(it->Next().m_Key);
    ids.insert(std::upper_bound(ids.begin(), ids.end(), nNewID), nNewID);
    InsertBalanced(counts, ids, 0, ids.size());
}

const CNode* CGroupNode::MatchSubNode(x_uint32 nID, x_uint32 nDataType) const {
    const CNode* node;
    try {
        node = m_SubNodes.Get(nID);
    } catch (const my::CNoSuchDataException&) {
        throw CSyntaxErrorException("Node(ID: %u) is unexpected under group '%s'.", nID, GetName());
    }
    if (node->GetDataType() != nDataType)
        throw CSyntaxErrorException("Node(ID: %u, Type: %u) expected under group '%s', but Node(ID: %u, Type: %u) is given.",
                                    node->GetID(), node->GetDataType(), GetName(), nID, nDataType);
    return node;
}

// -------------------------------------------------------------- grammar

std::mutex CBlobGrammar::s_RegistryMutex;

CBlobGrammar::CBlobGrammar() : m_Root("Root", 0, false) {}

CBlobGrammar::~CBlobGrammar() {
    // Constraints first, then the root group (a member, destroyed after).
    CValueDeleter<my::CMap<x_uint32, const CDataConstraint*>> deleter;
    m_Constraints.Traverse(deleter);
}

void CBlobGrammar::AddConstraint(my::CAutoPtr<CDataConstraint> pConstraint) {
    MY_ASSERT(pConstraint.Get());
    if (m_Constraints.Contains(pConstraint->GetID()))
        throw CInternalErrorException("Constraint (ID: %u) is already in grammar.", pConstraint->GetID());
    m_Constraints.Insert(pConstraint->GetID(), pConstraint.Get());  // on failure it stays with pConstraint
    pConstraint.Release();
}

void CBlobGrammar::AddConstraint(my::CAutoPtr<CConstraintGroup> pConstraint) {
    AddConstraint(my::CAutoPtr<CDataConstraint>(pConstraint));
}

const CDataConstraint* CBlobGrammar::GetConstraint(x_uint32 nID) const {
    try {
        return m_Constraints.Get(nID);
    } catch (const my::CNoSuchDataException&) {
        throw CInternalErrorException("Constraint(ID: %u) is undefined in the grammar.", nID);
    }
}

void CBlobGrammar::VerifyDataConstraint(const CMsgEntry& entry, const CNode& node) const {
    if (node.GetConstraintID() == 0) return;
    GetConstraint(node.GetConstraintID())->Verify(entry, node, *this);
}

const CBlobGrammar* CBlobGrammar::GetCmdGrammar() { return nullptr; }

void CBlobGrammar::_BuildConstraint(const grammar::ConstraintRow& row) {
    using grammar::ConstraintKind;
    switch (row.eKind) {
        case ConstraintKind::TimeFormat:
            AddConstraint(CDataConstraint::CreateTimeFormatConstraint(row.nID));
            return;
        case ConstraintKind::SignedRange:
            AddConstraint(CDataConstraint::CreateSignedValueConstraint(
                row.pszName, row.nID, static_cast<x_int32>(row.nLow), static_cast<x_int32>(row.nHigh)));
            return;
        case ConstraintKind::UnsignedRange:
            AddConstraint(CDataConstraint::CreateUnsignedValueConstraint(
                row.pszName, row.nID, static_cast<x_uint32>(row.nLow), static_cast<x_uint32>(row.nHigh)));
            return;
        case ConstraintKind::Length:
            AddConstraint(CDataConstraint::CreateLengthConstraint(
                row.pszName, row.nID, static_cast<x_uint32>(row.nHigh), static_cast<x_uint32>(row.nLow)));
            return;
        case ConstraintKind::AnyOf:
        case ConstraintKind::AllOf: {
            my::CAutoPtr<CConstraintGroup> group(new CConstraintGroup(
                row.pszName, row.nID,
                row.eKind == ConstraintKind::AnyOf ? CConstraintGroup::GROUP_ANY_OF : CConstraintGroup::GROUP_ALL_OF));
            for (size_t i = 0; i < row.nMembers; ++i) group->AddConstraint(row.pMembers[i]);
            AddConstraint(group);
            return;
        }
    }
    MY_ASSERT(!"unknown constraint kind");
}

// Rows form an outline (see GrammarTable.h).  Groups are built bottom-up:
// a group is added to its parent only once every row under it is in it.
void CBlobGrammar::_Build(const grammar::GrammarTable& table) {
    for (size_t i = 0; i < table.nConstraints; ++i) _BuildConstraint(table.pConstraints[i]);

    std::vector<my::CAutoPtr<CNode>> open;  // groups under construction, outermost first
    auto parentAt = [&](size_t depth) -> CGroupNode& {
        return depth == 0 ? m_Root : static_cast<CGroupNode&>(*open[depth - 1]);
    };
    auto closeTo = [&](size_t depth) {
        while (open.size() > depth) {
            my::CAutoPtr<CNode> group(open.back());
            open.pop_back();
            parentAt(open.size()).AddNode(group);
        }
    };
    grammar::ForEachRow(table, [&](const grammar::NodeRow& row, const char* name) {
        MY_ASSERT(row.nDepth <= open.size());
        closeTo(row.nDepth);
        if (row.eKind == grammar::NodeKind::Group) {
            open.push_back(CNode::CreateGroupNode(name, row.nID, row.bRequired));
        } else {
            parentAt(row.nDepth)
                .AddNode(CNode::CreateItemNode(name, row.nID, static_cast<Type>(row.nDataType), row.bRequired,
                                               row.nConstraintID));
        }
    });
    closeTo(0);
}

// --------------------------------------------------------------- parser

// Every sub-node ID of the group starts with a count of 0.
CParsingContext::CParsingContext(const CGroupNode& group)
    : m_pGroupNode(&group), m_SubNodeRefCounts(group.GetZeroCounts()) {}

void CParsingContext::IncreaseSubNodeRefCount(x_uint32 nID) {
    try {
        ++m_SubNodeRefCounts.Get(nID);
    } catch (const my::CNoSuchDataException&) {
        _ThrowForNoSuchSubNode(nID);
    }
}

x_uint32 CParsingContext::GetSubNodeRefCount(x_uint32 nID) const {
    try {
        return m_SubNodeRefCounts.Get(nID);
    } catch (const my::CNoSuchDataException&) {
        _ThrowForNoSuchSubNode(nID);
    }
}

void CParsingContext::_ThrowForNoSuchSubNode(x_uint32 nID) const {
    throw CInternalErrorException("Node ID(%u) is not in group '%s'", nID, m_pGroupNode->GetName());
}

void CParsingContext::ThrowIfRequiredNodesAreNotMet() const {
    my::CAutoPtr<CConstIterator<CGroupNode::SubNodeMap::CPair>> it(
        m_pGroupNode->GetSubNodes().CreateConstIterator());
    while (it->HasNext()) {
        const CNode* node = it->Next().m_Value;
        if (node->IsRequired() && GetSubNodeRefCount(node->GetID()) == 0)
            throw CSyntaxErrorException("Missing required node(ID: %u, Name: %s) under group '%s'.", node->GetID(),
                                        node->GetName(), m_pGroupNode->GetName());
    }
}

CContextStack::~CContextStack() {
    while (!IsEmpty()) Pop();
}

void CContextStack::Push(const CGroupNode& group) {
    CElement* element = new CElement(group);
    element->m_pNext = m_TopElement;
    m_TopElement = element;
}

const CGroupNode* CContextStack::Pop() {
    MY_ASSERT(m_TopElement);
    CElement* top = m_TopElement;
    const CGroupNode* group = top->m_Context.GetGroupNode();
    m_TopElement = top->m_pNext;
    delete top;
    return group;
}

CParsingContext& CContextStack::GetCurrentContext() {
    MY_ASSERT(m_TopElement);
    return m_TopElement->m_Context;
}

const CParsingContext& CContextStack::GetCurrentContext() const {
    MY_ASSERT(m_TopElement);
    return m_TopElement->m_Context;
}

const CGroupNode* CContextStack::GetCurrentGroupNode() const { return GetCurrentContext().GetGroupNode(); }

void CBlobMessageParser::_ThrowForUnmatchedEndOfGroupTag(x_uint32 nExpectedID, x_uint32 nGivenID) {
    throw CSyntaxErrorException("EndOfGroup tag of ID(%u) is expected, but ID(%u) is given.", nExpectedID, nGivenID);
}

void CBlobMessageParser::_ThrowIfRepeatedSubNode(const CContextStack& stack, const CNode& node) {
    if (stack.GetCurrentContext().GetSubNodeRefCount(node.GetID()) >= 2)
        throw CSyntaxErrorException("Node (ID: %u, Name: %s) is not allowed to exist in group '%s' for more than once. ",
                                    node.GetID(), node.GetName(), stack.GetCurrentGroupNode()->GetName());
}

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

}  // namespace

void CBlobMessageParser::Parse(void* msgHandle, const CBlobGrammar& grammar) {
    MY_ASSERT(msgHandle);
    const void* buffer = En_Msg_GetBuffer(msgHandle);
    const x_uint32 length = En_Msg_BytesUsed(msgHandle);
    CReaderGuard reader;
    reader->Attach(buffer, length);

    CContextStack stack;  // destroyed before the reader is released
    const CGroupNode& root = grammar.GetRoot();
    stack.Push(root);
    CMsgEntry entry = {0, 0, nullptr, 0};
    for (;;) {
        const int rc = reader->Pop(&entry.m_nID, &entry.m_nDataType, &entry.m_pData, &entry.m_nDataLength);
        if (rc == BLOB_END_OF_DATA) {
            // Groups still open are closed without their own test.
            if (stack.IsEmpty())
                throw CSyntaxErrorException("Group '%s' is closed before the end of the message.", root.GetName());
            stack.GetCurrentContext().ThrowIfRequiredNodesAreNotMet();
            return;
        }
        if (rc != 0) throw CInternalErrorException("CBlobReader::Pop() failed. %d is returned.", rc);
        if (stack.IsEmpty())
            throw CSyntaxErrorException("Node(ID: %u) is unexpected after group '%s' is closed.", entry.m_nID,
                                        root.GetName());

        if (entry.m_nDataType == DT_END_OF_GROUP) {
            const x_uint32 openID = stack.GetCurrentGroupNode()->GetID();
            if (entry.m_nID != openID) _ThrowForUnmatchedEndOfGroupTag(openID, entry.m_nID);
            stack.GetCurrentContext().ThrowIfRequiredNodesAreNotMet();
            stack.Pop();
            continue;
        }

        const CNode* node = stack.GetCurrentGroupNode()->MatchSubNode(entry.m_nID, entry.m_nDataType);
        stack.GetCurrentContext().IncreaseSubNodeRefCount(node->GetID());
        if (node->GetNodeType() == NT_GROUP) {
            stack.Push(static_cast<const CGroupNode&>(*node));
        } else {
            _ThrowIfRepeatedSubNode(stack, *node);
            grammar.VerifyDataConstraint(entry, *node);
        }
    }
}
