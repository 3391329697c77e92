// BlobGrammar.h - a grammar: its node tree and its value constraints.
//
// A grammar is built from a table (GrammarTable.h) and then only read: the
// root group "Root" (ID 0) with the tree under it, and the constraints that
// items name by ID.  Building resolves every name by ID to the object it
// names, so that checking a message needs nothing but the nodes it reaches.
#ifndef EN_BLOBGRAMMAR_H
#define EN_BLOBGRAMMAR_H

#include "DataConstraint.h"
#include "GrammarNode.h"
#include "GrammarTable.h"

class CBlobGrammar {
public:
    // Builds the tree and constraints the table describes.  A table that
    // defines a constraint or a node twice, or a range whose minimum exceeds
    // its maximum, throws CInternalErrorException (300); memory exhaustion
    // throws std::bad_alloc.  Either way nothing is left behind.
    explicit CBlobGrammar(const grammar::GrammarTable& table);
    ~CBlobGrammar();
    CBlobGrammar(const CBlobGrammar&) = delete;
    CBlobGrammar& operator=(const CBlobGrammar&) = delete;

    const CGroupNode& GetRoot() const { return m_Root; }

    // Applies the constraint a matched item names, if any, to its entry.
    static bool VerifyDataConstraint(const CMsgEntry& entry, const CGroupNode::CSlot& slot, CViolation& v) {
        if (slot.nConstraintID == 0) return true;
        if (slot.pConstraint == nullptr) return CDataConstraint::ReportUndefined(slot.nConstraintID, v);
        return slot.pConstraint->Verify(entry, *slot.pNode, v);
    }

private:
    CBlobGrammar();
    // Registers a constraint under its ID; a duplicate throws
    // CInternalErrorException and leaves it with the caller's pointer.
    void _AddConstraint(my::CAutoPtr<CDataConstraint> pConstraint);
    void _BuildConstraints(const grammar::GrammarTable& table);
    void _BuildNodes(const grammar::GrammarTable& table);

    ConstraintMap m_Constraints;  // owned
    CGroupNode m_Root;
};

#endif  // EN_BLOBGRAMMAR_H
