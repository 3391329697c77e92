// BlobGrammar.h - a grammar: its node tree and its value constraints.
//
// A grammar is constant data, made from its table when the library is
// compiled (GrammarImage.h): the root group "Root" (ID 0) with the tree
// under it, every item's constraint and every constraint group's members
// resolved to the objects they name, so that checking a message needs
// nothing but the nodes it reaches.
#ifndef EN_BLOBGRAMMAR_H
#define EN_BLOBGRAMMAR_H

#include "DataConstraint.h"
#include "GrammarNode.h"

class CBlobGrammar {
public:
    constexpr CBlobGrammar() = default;
    constexpr CBlobGrammar(const CGroupNode* pRoot, x_uint32 nDepth, x_uint32 nLargestGroup)
        : m_pRoot(pRoot), m_nDepth(nDepth), m_nLargestGroup(nLargestGroup) {}

    const CGroupNode& GetRoot() const { return *m_pRoot; }
    // How many groups can be open at once, the root included, and the most
    // slots of one group: what a walk's context needs room for.
    x_uint32 GetDepth() const { return m_nDepth; }
    x_uint32 GetLargestGroup() const { return m_nLargestGroup; }

    // Applies the constraint a matched item names, if any, to its entry.
    static bool VerifyDataConstraint(const CMsgEntry& entry, const CGroupNode::CSlot& slot, CViolation& v) {
        return slot.pConstraint == nullptr || slot.pConstraint->Verify(entry, *slot.pNode, v);
    }

private:
    const CGroupNode* m_pRoot = nullptr;
    x_uint32 m_nDepth = 0;
    x_uint32 m_nLargestGroup = 0;
};

#endif  // EN_BLOBGRAMMAR_H
