// What no message of the shipped grammars reaches: grammars that are broken
// when they are built, sub-node IDs whose hashes collide, and constraint
// kinds and data types that no shipped grammar combines.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BlobMessageParser.h"
#include "GrammarRegistry.h"

namespace {

using grammar::ConstraintKind;
using grammar::ConstraintRow;
using grammar::NodeRow;

// The code and text of the CExceptionBase that f throws; empty if none.
std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CExceptionBase& e) {
        return std::to_string(e.m_nErrCode) + " " + e.m_szErrMsg;
    }
    return "";
}

// A grammar table of the given constraints and root rows.
grammar::GrammarTable TableOf(const std::vector<ConstraintRow>& constraints, const grammar::RowSpan& rows) {
    return {"CTestGrammar", 0, constraints.data(), constraints.size(), &rows, 1, nullptr, 0};
}

// A broken table: the grammar is not built, and says why (300).
TEST(Grammars, BuildingRejectsDuplicatesAndEmptyRanges) {
    const NodeRow kItem[] = {{0, grammar::NodeKind::Item, "Item", 1, DT_INT16, true, 0}};
    const NodeRow kDuplicate[] = {
        {0, grammar::NodeKind::Group, "Grp", 5, DT_GROUP, false, 0},
        {1, grammar::NodeKind::Item, "First", 7, DT_INT16, true, 0},
        {1, grammar::NodeKind::Group, "Second", 7, DT_GROUP, false, 0},
        {2, grammar::NodeKind::Item, "Inner", 8, DT_INT16, true, 0},
    };
    const struct {
        std::vector<ConstraintRow> constraints;
        grammar::RowSpan rows;
        std::string error;
    } kCases[] = {
        {{}, {kDuplicate, 4}, "300 Invalid message grammar: GroupNode 'Second'(7) already exists in group 'Grp'."},
        {{{ConstraintKind::TimeFormat, "TimeFormat", 7, 0, 0, nullptr, 0},
          {ConstraintKind::SignedRange, "X", 7, 0, 1, nullptr, 0}},
         {kItem, 1},
         "300 Constraint (ID: 7) is already in grammar."},
        {{{ConstraintKind::SignedRange, "R", 9, 5, 4, nullptr, 0}},
         {kItem, 1},
         "300 Constraint(ID: 9, Name: 'R') is invalid: MinValue(5)>MaxValue(4)."},
        {{{ConstraintKind::UnsignedRange, "U", 8, 0xffffffffLL, 0, nullptr, 0}},
         {kItem, 1},
         "300 Constraint(ID: 8, Name: 'U') is invalid: MinValue(4294967295)>MaxValue(0)."},
        {{{ConstraintKind::SignedRange, "E", 6, -1, -1, nullptr, 0}}, {kItem, 1}, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(ErrorOf([&] { CBlobGrammar grammar(TableOf(c.constraints, c.rows)); }), c.error);
    }
}

// Sub-nodes are found by hashing their IDs: every ID of the group, however
// its hash collides, and no other, at every size the table passes through.
TEST(Grammars, GroupsMatchExactlyTheirSubNodeIDs) {
    const std::vector<x_uint32> kStrides = {1, 2, 1024, 65536, 0x9E3779B1u, 0x80000000u};
    for (x_uint32 stride : kStrides) {
        CGroupNode group("Grp", 1, false);
        std::vector<x_uint32> ids;
        for (x_uint32 n = 0; n < 70; ++n) {
            const x_uint32 id = 0xFFFFFFFFu - n * stride;  // wraps around for large strides
            if (group.FindSlot(id) >= 0) continue;
            group.AddNode(CNode::CreateItemNode("Item", id, DT_INT16, false, 0));
            group.Complete(ConstraintMap());
            ids.push_back(id);
            for (x_uint32 known : ids) {
                CViolation v;
                const int slot = group.MatchSubNode(known, DT_INT16, v);
                ASSERT_GE(slot, 0) << "stride " << stride;
                ASSERT_EQ(group.GetSlot(static_cast<size_t>(slot)).pNode->GetID(), known) << "stride " << stride;
                for (x_uint32 other : {known - 1, known ^ 0x10000u, known >> 1}) {
                    if (std::find(ids.begin(), ids.end(), other) == ids.end()) {
                        ASSERT_EQ(group.FindSlot(other), -1) << "stride " << stride << ", ID " << other;
                    }
                }
            }
        }
        // Slots follow ascending IDs.
        for (size_t i = 1; i < group.GetSlotCount(); ++i)
            EXPECT_LT(group.GetSlot(i - 1).pNode->GetID(), group.GetSlot(i).pNode->GetID());
    }
}

// A value as the reader would deliver it.
struct Value {
    Type type;
    std::vector<unsigned char> bytes;
};
Value Raw(Type type, const void* p, size_t n) {
    return {type, std::vector<unsigned char>(static_cast<const unsigned char*>(p), static_cast<const unsigned char*>(p) + n)};
}
Value Narrow(const std::string& s) { return Raw(DT_STRING, s.c_str(), s.size() + 1); }
Value Wide(const std::wstring& s) { return Raw(DT_WSTRING, s.c_str(), (s.size() + 1) * sizeof(wchar_t)); }
template <class T>
Value Int(Type type, T v) {
    return Raw(type, &v, sizeof v);
}

class Constraints : public ::testing::Test {
protected:
    // Constraint `id` applied to an item of the value's type, in a grammar
    // built from a table of the constraints and that item: "" or the violation.
    static std::string Check(x_uint32 id, const Value& v) {
        static const x_uint32 kBoth[] = {5, 4};
        static const x_uint32 kDangling[] = {3, 77};
        static const std::vector<ConstraintRow> kConstraints = {
            {ConstraintKind::TimeFormat, "TimeFormat", 1, 0, 0, nullptr, 0},
            {ConstraintKind::Length, "Len", 2, 2, 10, nullptr, 0},
            {ConstraintKind::SignedRange, "Small", 3, 0, 3, nullptr, 0},
            {ConstraintKind::UnsignedRange, "Percent", 4, 0, 100, nullptr, 0},
            {ConstraintKind::SignedRange, "Mid", 5, 5, 20, nullptr, 0},
            {ConstraintKind::AllOf, "Both", 6, 0, 0, kBoth, 2},
            {ConstraintKind::AnyOf, "Dangling", 7, 0, 0, kDangling, 2},
        };
        const NodeRow item = {0, grammar::NodeKind::Item, "Item", 9, v.type, true, id};
        const CBlobGrammar grammar(TableOf(kConstraints, {&item, 1}));
        const CMsgEntry entry = {9, v.type, v.bytes.data(), static_cast<x_uint32>(v.bytes.size())};
        CViolation violation;
        if (CBlobGrammar::VerifyDataConstraint(entry, grammar.GetRoot().GetSlot(0), violation)) return "";
        return std::to_string(violation.GetCode()) + " " + violation.m_szErrMsg;
    }
};

TEST_F(Constraints, EveryKindOnEveryDataType) {
    const std::string small = ") is not compliant with constraint(ID: 3, Name: 'Small') [0<=Value<=3]";
    const std::string percent = ") is not compliant with constraint(ID: 4, Name: 'Percent') [0<=Value<=100]";
    const std::string len = ") of Node(ID: 9, Name: Item) is not compliant with constraint(ID: 2, Name: 'Len')[2<=DataLength<=10].";
    const std::string data = "102 Data(ID: 9, Name: 'Item', Value: ";
    const struct {
        x_uint32 id;
        Value value;
        std::string text;
    } kCases[] = {
        {3, Int<short>(DT_INT16, 3), ""},
        {3, Int<short>(DT_INT16, -1), data + "-1" + small},
        {3, Int<unsigned short>(DT_UINT16, 65535), data + "-1" + small},
        {3, Int<x_uint32>(DT_UINT32, 0xffffffffu), data + "-1" + small},
        {3, Int<x_int32>(DT_INT32, 4), data + "4" + small},
        {4, Int<short>(DT_INT16, 100), ""},
        {4, Int<short>(DT_INT16, -1), data + "65535" + percent},
        {4, Int<x_int32>(DT_INT32, -1), data + "4294967295" + percent},
        {4, Int<x_uint32>(DT_UINT32, 101), data + "101" + percent},
        {3, Narrow("99"), ""},
        {2, Narrow("abcdefghij"), ""},
        {2, Narrow("a"), "102 Data(Len: 1" + len},
        {2, Wide(L"abcdefghijk"), "102 Data(Len: 11" + len},
        {2, Raw(DT_BYTES, "abcdefghijk", 11), "102 Data(Len: 11" + len},
        {2, Int<x_int32>(DT_INT32, 123456), ""},
        // All of: the lowest-ID rejecting member; any of: members resolved when reached.
        {6, Int<short>(DT_INT16, 10), ""},
        {6, Int<short>(DT_INT16, 101), data + "101" + percent},
        {6, Int<short>(DT_INT16, 2), data + "2) is not compliant with constraint(ID: 5, Name: 'Mid') [5<=Value<=20]"},
        {7, Int<short>(DT_INT16, 1), ""},
        {7, Int<short>(DT_INT16, 50), "300 Constraint(ID: 77) is undefined in the grammar."},
        {0, Narrow("no time"), ""},
        // Time texts: narrow ones as they stand, wide ones as converted, other types unchecked.
        {1, Narrow("2008/7/15 13:05:09"), ""},
        {1, Narrow("2008.7.15 13:05:09"), "102 '2008.7.15 13:05:09' is not a valid time string"},
        {1, Wide(L"2008-07-15\t13:5:9 and more"), ""},
        {1, Wide(L"2008/7/15 13:05:\u00e9"), "102 '2008/7/15 13:05:' is not a valid time string"},
        {1, Raw(DT_BYTES, "abc", 3), ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Check(c.id, c.value), c.text);
    }
}

}  // namespace
