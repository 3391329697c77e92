// Grammar nodes: items, groups, and the lookup structures of a group.
#include "GrammarNode.h"

#include "En_Validation.h"
#include "Exceptions.h"
#include "Violation.h"

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

// An empty hash table: nothing matches before Complete.
CGroupNode::CGroupNode(const char* name, x_uint32 nID, bool bRequired)
    : CNode(name, nID, bRequired, 0), m_SlotHash(2, CHashEntry{0, 0}), m_nHashMask(1), m_nHashShift(31) {}

CGroupNode::~CGroupNode() {
    // Sub-nodes in ascending ID order; nested groups free their own.
    my::DeleteValues(m_SubNodes);
}

void CGroupNode::AddNode(my::CAutoPtr<CNode> pNode) {
    MY_ASSERT(pNode.Get());
    const x_uint32 id = pNode->GetID();
    if (m_SubNodes.Contains(id))
        throw CInternalErrorException("Invalid message grammar: %s '%s'(%d) already exists in group '%s'.",
                                      pNode->GetNodeType() == NT_ITEM ? "ItemNode" : "GroupNode", pNode->GetName(),
                                      static_cast<int>(id), GetName());
    m_SubNodes.Insert(id, pNode.Get());  // on failure the node stays with pNode
    pNode.Release();
}

namespace {

// Appends a slot per sub-node, visited in ascending ID order.
class CSlotCollector : public my::CVisitor<CGroupNode::SubNodeMap::CPair> {
public:
    CSlotCollector(std::vector<CGroupNode::CSlot>& slots, const ConstraintMap& constraints)
        : m_Slots(slots), m_Constraints(constraints) {}
    void Visit(CGroupNode::SubNodeMap::CPair* pData) override {
        const CNode& node = *pData->m_Value;
        const x_uint32 constraint = node.GetConstraintID();
        m_Slots.push_back(CGroupNode::CSlot{
            &node, constraint != 0 ? FindConstraint(m_Constraints, constraint) : nullptr,
            node.GetDataType(), constraint, node.GetNodeType() == NT_GROUP, node.IsRequired()});
    }

private:
    std::vector<CGroupNode::CSlot>& m_Slots;
    const ConstraintMap& m_Constraints;
};

}  // namespace

void CGroupNode::Complete(const ConstraintMap& constraints) {
    // Everything is built beside the current state, which changes only
    // when nothing can fail any more.
    std::vector<CSlot> slots;
    slots.reserve(static_cast<size_t>(m_SubNodes.GetSize()));
    CSlotCollector collector(slots, constraints);
    m_SubNodes.Traverse(collector);

    unsigned bits = 1;
    while ((size_t{1} << bits) < 2 * slots.size()) ++bits;
    std::vector<CHashEntry> hash(size_t{1} << bits, CHashEntry{0, 0});
    const unsigned shift = 32 - bits;
    const size_t mask = hash.size() - 1;
    std::vector<x_uint32> required;
    for (size_t slot = 0; slot < slots.size(); ++slot) {
        const x_uint32 id = slots[slot].pNode->GetID();
        size_t i = _HashOf(id, shift);
        while (hash[i].nSlot != 0) i = (i + 1) & mask;
        hash[i] = CHashEntry{id, static_cast<x_uint32>(slot + 1)};
        if (slots[slot].bRequired) required.push_back(static_cast<x_uint32>(slot));
    }

    m_Slots.swap(slots);
    m_SlotHash.swap(hash);
    m_RequiredSlots.swap(required);
    m_nHashMask = mask;
    m_nHashShift = shift;
}

void CGroupNode::_ReportMismatch(x_uint32 nID, x_uint32 nDataType, int slot, CViolation& v) const {
    if (slot < 0) {
        v.Set(EN_VALIDATE_SYNTAX_ERROR, "Node(ID: %u) is unexpected under group '%s'.", nID, GetName());
        return;
    }
    const CNode& node = *m_Slots[static_cast<size_t>(slot)].pNode;
    v.Set(EN_VALIDATE_SYNTAX_ERROR,
          "Node(ID: %u, Type: %u) expected under group '%s', but Node(ID: %u, Type: %u) is given.", node.GetID(),
          node.GetDataType(), GetName(), nID, nDataType);
}
