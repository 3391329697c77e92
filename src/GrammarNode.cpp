// Grammar nodes: the report of an entry that no sub-node of a group matches.
#include "GrammarNode.h"

#include "En_Validation.h"
#include "Violation.h"

void CGroupNode::_ReportMismatch(x_uint32 nID, x_uint32 nDataType, int slot, CViolation& v) const {
    if (slot < 0) {
        v.Set(EN_VALIDATE_SYNTAX_ERROR, "Node(ID: %u) is unexpected under group '%s'.", nID, GetName());
        return;
    }
    const CNode& node = *m_pSlots[slot].pNode;
    v.Set(EN_VALIDATE_SYNTAX_ERROR,
          "Node(ID: %u, Type: %u) expected under group '%s', but Node(ID: %u, Type: %u) is given.", node.GetID(),
          node.GetDataType(), GetName(), nID, nDataType);
}
