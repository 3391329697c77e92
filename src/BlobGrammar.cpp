// Grammar nodes, the grammar object and its table-driven construction.
#include "BlobGrammar.h"

#include <algorithm>
#include <vector>

#include "DataConstraint.h"
#include "En_Msg.h"
#include "Exceptions.h"
#include "Violation.h"

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

CGroupNode::CGroupNode(const char* name, x_uint32 nID, bool bRequired)
    : CNode(name, nID, bRequired, 0), m_SlotHash(2, CHashEntry{0, 0}), m_nHashMask(1), m_nHashShift(31) {}

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
    const x_uint32 id = pNode->GetID();
    if (m_SubNodes.Contains(id))
        throw CInternalErrorException("Invalid message grammar: %s '%s'(%d) already exists in group '%s'.",
                                      pNode->GetNodeType() == NT_ITEM ? "ItemNode" : "GroupNode", pNode->GetName(),
                                      static_cast<int>(id), GetName());
    // The slots, their hash table and the required slots are built anew
    // beside the current ones: everything that can fail comes before the
    // first change.
    std::vector<CSlot> slots(m_Slots);
    const CSlot added = {pNode.Get(), pNode->GetDataType(), pNode->GetConstraintID(), pNode->GetNodeType() == NT_GROUP,
                         pNode->IsRequired()};
    slots.insert(std::upper_bound(slots.begin(), slots.end(), id,
                                  [](x_uint32 key, const CSlot& slot) { return key < slot.pNode->GetID(); }),
                 added);
    std::vector<CHashEntry> hash;
    unsigned shift;
    _BuildSlotHash(slots, hash, shift);
    std::vector<x_uint32> required;
    for (size_t i = 0; i < slots.size(); ++i)
        if (slots[i].bRequired) required.push_back(static_cast<x_uint32>(i));
    m_SubNodes.Insert(id, pNode.Get());  // on failure the node stays with pNode

    m_Slots.swap(slots);
    m_SlotHash.swap(hash);
    m_RequiredSlots.swap(required);
    m_nHashMask = m_SlotHash.size() - 1;
    m_nHashShift = shift;
    pNode.Release();
}

void CGroupNode::_BuildSlotHash(const std::vector<CSlot>& slots, std::vector<CHashEntry>& table, unsigned& shift) {
    unsigned bits = 1;
    while ((size_t{1} << bits) < 2 * slots.size()) ++bits;
    table.assign(size_t{1} << bits, CHashEntry{0, 0});
    shift = 32 - bits;
    const size_t mask = table.size() - 1;
    for (size_t slot = 0; slot < slots.size(); ++slot) {
        const x_uint32 id = slots[slot].pNode->GetID();
        size_t i = _HashOf(id, shift);
        while (table[i].nSlot != 0) i = (i + 1) & mask;
        table[i] = CHashEntry{id, static_cast<x_uint32>(slot + 1)};
    }
}

const CNode* CGroupNode::MatchSubNode(x_uint32 nID, x_uint32 nDataType) const {
    CViolation v;
    const int slot = MatchSlot(nID, nDataType, v);
    if (slot < 0) v.Raise();
    return m_Slots[static_cast<size_t>(slot)].pNode;
}

void CGroupNode::_ReportMismatch(x_uint32 nID, x_uint32 nDataType, int slot, CViolation& v) const {
    if (slot < 0) {
        v.Set(CSyntaxErrorException::CODE, "Node(ID: %u) is unexpected under group '%s'.", nID, GetName());
        return;
    }
    const CNode& node = *m_Slots[static_cast<size_t>(slot)].pNode;
    v.Set(CSyntaxErrorException::CODE,
          "Node(ID: %u, Type: %u) expected under group '%s', but Node(ID: %u, Type: %u) is given.", node.GetID(),
          node.GetDataType(), GetName(), nID, nDataType);
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
    const x_uint32 id = pConstraint->GetID();
    if (m_Constraints.Contains(id)) throw CInternalErrorException("Constraint (ID: %u) is already in grammar.", id);
    m_ConstraintIndex.reserve(m_ConstraintIndex.size() + 1);  // the insert below cannot throw then
    m_Constraints.Insert(id, pConstraint.Get());              // on failure it stays with pConstraint
    const std::pair<x_uint32, const CDataConstraint*> entry(id, pConstraint.Release());
    m_ConstraintIndex.insert(std::upper_bound(m_ConstraintIndex.begin(), m_ConstraintIndex.end(), entry,
                                              [](const auto& a, const auto& b) { return a.first < b.first; }),
                             entry);
}

void CBlobGrammar::AddConstraint(my::CAutoPtr<CConstraintGroup> pConstraint) {
    AddConstraint(my::CAutoPtr<CDataConstraint>(pConstraint));
}

const CDataConstraint* CBlobGrammar::ResolveConstraint(x_uint32 nID, CViolation& v) const {
    const auto it = std::lower_bound(m_ConstraintIndex.begin(), m_ConstraintIndex.end(), nID,
                                     [](const auto& a, x_uint32 id) { return a.first < id; });
    if (it != m_ConstraintIndex.end() && it->first == nID) return it->second;
    v.Set(CInternalErrorException::CODE, "Constraint(ID: %u) is undefined in the grammar.", nID);
    return nullptr;
}

const CDataConstraint* CBlobGrammar::GetConstraint(x_uint32 nID) const {
    CViolation v;
    const CDataConstraint* constraint = ResolveConstraint(nID, v);
    if (constraint == nullptr) v.Raise();
    return constraint;
}

void CBlobGrammar::VerifyDataConstraint(const CMsgEntry& entry, const CNode& node) const {
    CViolation v;
    if (!CheckDataConstraint(entry, node, v)) v.Raise();
}

bool CBlobGrammar::CheckDataConstraint(const CMsgEntry& entry, const CNode& node, CViolation& v) const {
    const x_uint32 id = node.GetConstraintID();
    if (id == 0) return true;
    const CDataConstraint* constraint = ResolveConstraint(id, v);
    return constraint != nullptr && constraint->Check(entry, node, *this, v);
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
