// The built grammars, the registry, and the checks made while a grammar is
// built or walked.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BlobMessageParser.h"
#include "DataConstraint.h"
#include "ErrorText.h"
#include "Exceptions.h"
#include "TestMessages.h"

namespace {

using testmsg::ErrorOf;
using testmsg::kRegistration;

const CBlobGrammar* GrammarOf(int kind) {
    return kind == kRegistration ? CBlobGrammar::GetRegGrammar() : CBlobGrammar::GetLogGrammar(kind);
}

void CountNodes(const CGroupNode& group, int& items, int& groups) {
    my::CAutoPtr<CConstIterator<CGroupNode::SubNodeMap::CPair>> it(group.GetSubNodes().CreateConstIterator());
    while (it->HasNext()) {
        const CNode* node = it->Next().m_Value;
        if (node->GetNodeType() == NT_GROUP) {
            ++groups;
            CountNodes(static_cast<const CGroupNode&>(*node), items, groups);
        } else {
            ++items;
        }
    }
}

const CNode* LowestRequired(const CGroupNode& group) {
    my::CAutoPtr<CConstIterator<CGroupNode::SubNodeMap::CPair>> it(group.GetSubNodes().CreateConstIterator());
    while (it->HasNext()) {
        const CNode* node = it->Next().m_Value;
        if (node->IsRequired()) return node;
    }
    return nullptr;
}

TEST(Grammars, HaveTheirExpectedShape) {
    for (const auto& shape : testmsg::kGrammarShapes) {
        SCOPED_TRACE(::testing::Message() << "kind " << shape.kind);
        const CBlobGrammar* grammar = GrammarOf(shape.kind);
        ASSERT_NE(grammar, nullptr);
        const CGroupNode& root = grammar->GetRoot();
        EXPECT_STREQ(root.GetName(), "Root");
        EXPECT_EQ(root.GetID(), 0u);
        EXPECT_FALSE(root.IsRequired());
        int items = 0, groups = 0;
        CountNodes(root, items, groups);
        EXPECT_EQ(items, shape.items);
        EXPECT_EQ(groups, shape.groups);
        const CNode* lowest = LowestRequired(root);
        ASSERT_NE(lowest, nullptr);
        EXPECT_EQ(lowest->GetID(), shape.lowestRequiredID);
        EXPECT_STREQ(lowest->GetName(), shape.lowestRequiredName);
    }
}

// Every row of a table is in the built grammar, under its parent, with its
// name, data type, required flag and constraint, and the constraint exists.
TEST(Grammars, HoldEveryRowOfTheirTable) {
    for (const auto& shape : testmsg::kGrammarShapes) {
        SCOPED_TRACE(::testing::Message() << "kind " << shape.kind);
        const CBlobGrammar& grammar = *GrammarOf(shape.kind);
        std::vector<const CGroupNode*> parents{&grammar.GetRoot()};
        grammar::ForEachRow(testmsg::TableOf(shape.kind), [&](const grammar::NodeRow& row, const char* name) {
            parents.resize(row.nDepth + 1u);
            const CNode* node = parents.back()->MatchSubNode(row.nID, row.nDataType);
            EXPECT_STREQ(node->GetName(), name) << row.nID;
            EXPECT_EQ(node->IsRequired(), row.bRequired) << row.nID;
            EXPECT_EQ(node->GetConstraintID(), row.nConstraintID) << row.nID;
            if (row.nConstraintID != 0) {
                EXPECT_NO_THROW(grammar.GetConstraint(row.nConstraintID)) << row.nID;
            }
            if (node->GetNodeType() == NT_GROUP) parents.push_back(static_cast<const CGroupNode*>(node));
        });
    }
    EXPECT_STREQ(CBlobGrammar::GetLogGrammar(1721)->GetRoot().MatchSubNode(2061, DT_WSTRING)->GetName(), "ReasonCod");
    EXPECT_STREQ(CBlobGrammar::GetLogGrammar(1703)->GetRoot().MatchSubNode(2061, DT_WSTRING)->GetName(), "ReasonCode");
}

TEST(Registry, BuildsEachGrammarOnceAndKnowsOnlyItsTypes) {
    const CBlobGrammar* first = CBlobGrammar::GetLogGrammar(1501);
    EXPECT_EQ(CBlobGrammar::GetLogGrammar(1501), first);
    EXPECT_NE(CBlobGrammar::GetLogGrammar(1503), first);
    EXPECT_EQ(CBlobGrammar::GetRegGrammar(), CBlobGrammar::GetRegGrammar());
    EXPECT_EQ(CBlobGrammar::GetCmdGrammar(), nullptr);
    for (int type : {1502, 0, -1, 1702, 1723, 1500, 1722})
        EXPECT_EQ(CBlobGrammar::GetLogGrammar(type), nullptr) << type;
}

class TrackedItem : public CItemNode {
public:
    TrackedItem(const char* name, x_uint32 id, int* deaths) : CItemNode(name, id, DT_INT16, true, 0), m_pDeaths(deaths) {}
    ~TrackedItem() override { ++*m_pDeaths; }

private:
    int* m_pDeaths;
};

TEST(GroupNode, RejectsASecondNodeWithTheSameIDAndKeepsTheFirst) {
    int deaths = 0;
    {
        CGroupNode group("Grp", 5, false);
        group.AddNode(my::CAutoPtr<CNode>(new TrackedItem("First", 7, &deaths)));
        EXPECT_EQ(ErrorOf([&] { group.AddNode(CNode::CreateGroupNode("Second", 7, false)); }),
                  "300 Invalid message grammar: GroupNode 'Second'(7) already exists in group 'Grp'.");
        my::CAutoPtr<CNode> third(new TrackedItem("Third", 7, &deaths));
        EXPECT_EQ(ErrorOf([&] { group.AddNode(third); }),
                  "300 Invalid message grammar: ItemNode 'Third'(7) already exists in group 'Grp'.");
        EXPECT_EQ(deaths, 1);  // the rejected node, not the kept one
        EXPECT_EQ(group.GetSubNodes().GetSize(), 1);
        EXPECT_STREQ(group.MatchSubNode(7, DT_INT16)->GetName(), "First");

        group.AddNode(CNode::CreateGroupNode("Inner", 8, false));
        EXPECT_EQ(ErrorOf([&] { group.MatchSubNode(8, DT_WSTRING); }),
                  "101 Node(ID: 8, Type: 100) expected under group 'Grp', but Node(ID: 8, Type: 2) is given.");
        EXPECT_EQ(ErrorOf([&] { group.MatchSubNode(9, DT_INT16); }), "101 Node(ID: 9) is unexpected under group 'Grp'.");

        CParsingContext context(group);
        EXPECT_EQ(ErrorOf([&] { context.IncreaseSubNodeRefCount(9); }), "300 Node ID(9) is not in group 'Grp'");
        EXPECT_EQ(ErrorOf([&] { context.ThrowIfRequiredNodesAreNotMet(); }),
                  "101 Missing required node(ID: 7, Name: First) under group 'Grp'.");
        context.IncreaseSubNodeRefCount(7);
        EXPECT_EQ(ErrorOf([&] { context.ThrowIfRequiredNodesAreNotMet(); }), "");
    }
    EXPECT_EQ(deaths, 2);  // the group frees what it owns
}

// A grammar whose items are added by hand.
class HandMadeGrammar : public CBlobGrammar {
public:
    using CBlobGrammar::_Root;
};

TEST(Parser, AnUnregisteredConstraintFailsOnlyWhenItsItemOccurs) {
    HandMadeGrammar grammar;
    grammar._Root().AddNode(CNode::CreateItemNode("Plain", 1, DT_INT16, false, 0));
    grammar._Root().AddNode(CNode::CreateItemNode("Bound", 2, DT_INT16, false, 77));
    testmsg::Msg plain;
    plain.I16(1, 5);
    EXPECT_EQ(ErrorOf([&] { CBlobMessageParser().Parse(plain.get(), grammar); }), "");
    testmsg::Msg bound;
    bound.I16(1, 5).I16(2, 5);
    EXPECT_EQ(ErrorOf([&] { CBlobMessageParser().Parse(bound.get(), grammar); }),
              "300 Constraint(ID: 77) is undefined in the grammar.");
}

TEST(Parser, EmptyMessagePassesWhenRootRequiresNothing) {
    HandMadeGrammar grammar;
    grammar._Root().AddNode(CNode::CreateItemNode("Optional", 1, DT_INT16, false, 0));
    testmsg::Msg empty;
    EXPECT_EQ(ErrorOf([&] { CBlobMessageParser().Parse(empty.get(), grammar); }), "");
    testmsg::Msg twice;
    twice.I16(1, 1).I16(1, 2);
    EXPECT_EQ(ErrorOf([&] { CBlobMessageParser().Parse(twice.get(), grammar); }),
              "101 Node (ID: 1, Name: Optional) is not allowed to exist in group 'Root' for more than once. ");
}

}  // namespace
