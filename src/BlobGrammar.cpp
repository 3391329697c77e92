// A grammar built from its table.
#include "BlobGrammar.h"

#include <vector>

#include "Exceptions.h"

CBlobGrammar::CBlobGrammar() : m_Root("Root", 0, false) {}

// Delegates to the empty grammar, so that a failure below runs the
// destructor.
CBlobGrammar::CBlobGrammar(const grammar::GrammarTable& table) : CBlobGrammar() {
    _BuildConstraints(table);
    _BuildNodes(table);
}

CBlobGrammar::~CBlobGrammar() { my::DeleteValues(m_Constraints); }

void CBlobGrammar::_AddConstraint(my::CAutoPtr<CDataConstraint> pConstraint) {
    MY_ASSERT(pConstraint.Get());
    const x_uint32 id = pConstraint->GetID();
    if (m_Constraints.Contains(id)) throw CInternalErrorException("Constraint (ID: %u) is already in grammar.", id);
    m_Constraints.Insert(id, pConstraint.Get());  // on failure it stays with pConstraint
    pConstraint.Release();
}

// Every constraint is registered before the members of constraint groups
// are resolved, so a group may name constraints of later rows.
void CBlobGrammar::_BuildConstraints(const grammar::GrammarTable& table) {
    using grammar::ConstraintKind;
    std::vector<CConstraintGroup*> groups;  // owned by m_Constraints
    for (size_t i = 0; i < table.nConstraints; ++i) {
        const grammar::ConstraintRow& row = table.pConstraints[i];
        switch (row.eKind) {
            case ConstraintKind::TimeFormat:
                _AddConstraint(CDataConstraint::CreateTimeFormatConstraint(row.nID));
                break;
            case ConstraintKind::SignedRange:
                _AddConstraint(CDataConstraint::CreateSignedValueConstraint(
                    row.pszName, row.nID, static_cast<x_int32>(row.nLow), static_cast<x_int32>(row.nHigh)));
                break;
            case ConstraintKind::UnsignedRange:
                _AddConstraint(CDataConstraint::CreateUnsignedValueConstraint(
                    row.pszName, row.nID, static_cast<x_uint32>(row.nLow), static_cast<x_uint32>(row.nHigh)));
                break;
            case ConstraintKind::Length:
                _AddConstraint(CDataConstraint::CreateLengthConstraint(
                    row.pszName, row.nID, static_cast<x_uint32>(row.nHigh), static_cast<x_uint32>(row.nLow)));
                break;
            case ConstraintKind::AnyOf:
            case ConstraintKind::AllOf: {
                my::CAutoPtr<CConstraintGroup> group(new CConstraintGroup(
                    row.pszName, row.nID,
                    row.eKind == ConstraintKind::AnyOf ? CConstraintGroup::GROUP_ANY_OF : CConstraintGroup::GROUP_ALL_OF));
                for (size_t m = 0; m < row.nMembers; ++m) group->AddConstraint(row.pMembers[m]);
                groups.reserve(groups.size() + 1);  // the push_back below cannot throw then
                CConstraintGroup* added = group.Get();
                _AddConstraint(my::CAutoPtr<CDataConstraint>(group));
                groups.push_back(added);
                break;
            }
        }
    }
    for (CConstraintGroup* group : groups) group->ResolveMembers(m_Constraints);
}

// Rows form an outline (see GrammarTable.h).  Groups are built bottom-up:
// a group is completed, and added to its parent, once every row under it
// is in it.
void CBlobGrammar::_BuildNodes(const grammar::GrammarTable& table) {
    std::vector<my::CAutoPtr<CNode>> open;  // groups under construction, outermost first
    auto parentAt = [&](size_t depth) -> CGroupNode& {
        return depth == 0 ? m_Root : static_cast<CGroupNode&>(*open[depth - 1]);
    };
    auto closeTo = [&](size_t depth) {
        while (open.size() > depth) {
            my::CAutoPtr<CNode> group(open.back());
            open.pop_back();
            static_cast<CGroupNode&>(*group).Complete(m_Constraints);
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
    m_Root.Complete(m_Constraints);
}
