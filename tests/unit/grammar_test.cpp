// What no message of the shipped grammars reaches: sub-node IDs whose
// hashes collide, and constraint kinds and data types that no shipped
// grammar combines.  Grammars here are made from test tables when this
// program is compiled, as the library makes its own; broken tables are
// broken_table.cpp's.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GrammarImage.h"

namespace {

using grammar::ConstraintKind;
using grammar::ConstraintRow;
using grammar::GrammarTable;
using grammar::NodeRow;
using grammar::RowSpan;

// A root group of up to 70 items with the IDs 0xFFFFFFFF - n * Stride, n =
// 0, 1, ..., without repeats (large strides wrap around).
template <x_uint32 Stride>
struct Strided {
    struct Rows {
        NodeRow row[70];
        size_t n;
    };
    static constexpr Rows Make() {
        Rows r{};
        for (x_uint32 n = 0; n < 70; ++n) {
            const x_uint32 id = 0xFFFFFFFFu - n * Stride;
            bool seen = false;
            for (size_t k = 0; k < r.n; ++k) seen = seen || r.row[k].nID == id;
            if (!seen) r.row[r.n++] = {0, grammar::NodeKind::Item, "Item", id, DT_INT16, false, 0};
        }
        return r;
    }
    static constexpr Rows kRows = Make();
    static constexpr RowSpan kSpans[] = {{kRows.row, kRows.n}};
    static constexpr GrammarTable kTable = {"CTestGrammar", 0, nullptr, 0, kSpans, 1, nullptr, 0};

    // Every ID of the group is found, however its hash collides, and no
    // other; slots follow ascending IDs.
    static void Check() {
        SCOPED_TRACE("stride " + std::to_string(Stride));
        const CGroupNode& group = grammar::kImage<kTable>.grammar.GetRoot();
        std::vector<x_uint32> ids;
        for (size_t k = 0; k < kRows.n; ++k) ids.push_back(kRows.row[k].nID);
        ASSERT_EQ(group.GetSlotCount(), ids.size());
        for (x_uint32 known : ids) {
            CViolation v;
            const int slot = group.MatchSubNode(known, DT_INT16, v);
            ASSERT_GE(slot, 0);
            ASSERT_EQ(group.GetSlot(static_cast<size_t>(slot)).pNode->GetID(), known);
            for (x_uint32 other : {known - 1, known ^ 0x10000u, known >> 1}) {
                if (std::find(ids.begin(), ids.end(), other) == ids.end()) {
                    ASSERT_EQ(group.FindSlot(other), -1) << other;
                }
            }
        }
        for (size_t i = 1; i < group.GetSlotCount(); ++i)
            EXPECT_LT(group.GetSlot(i - 1).pNode->GetID(), group.GetSlot(i).pNode->GetID());
    }
};

TEST(Grammars, GroupsMatchExactlyTheirSubNodeIDs) {
    Strided<1>::Check();
    Strided<2>::Check();
    Strided<1024>::Check();
    Strided<65536>::Check();
    Strided<0x9E3779B1u>::Check();
    Strided<0x80000000u>::Check();
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

constexpr x_uint32 kBoth[] = {5, 4};
constexpr x_uint32 kEither[] = {3, 5, 3};
constexpr ConstraintRow kConstraints[] = {
    {ConstraintKind::TimeFormat, "TimeFormat", 1, 0, 0, nullptr, 0},
    {ConstraintKind::Length, "Len", 2, 2, 10, nullptr, 0},
    {ConstraintKind::SignedRange, "Small", 3, 0, 3, nullptr, 0},
    {ConstraintKind::UnsignedRange, "Percent", 4, 0, 100, nullptr, 0},
    {ConstraintKind::SignedRange, "Mid", 5, 5, 20, nullptr, 0},
    {ConstraintKind::AllOf, "Both", 6, 0, 0, kBoth, 2},
    {ConstraintKind::AnyOf, "Either", 7, 0, 0, kEither, 3},
};

// Group 100 * constraint + data type holds item 9 of that type, checked
// with that constraint.
#define EN_CHECKED(constraint, type)                                                           \
    {0, grammar::NodeKind::Group, "Checked", 100 * (constraint) + (type), DT_GROUP, false, 0}, \
        {1, grammar::NodeKind::Item, "Item", 9, type, true, constraint}
constexpr NodeRow kRows[] = {
    EN_CHECKED(0, DT_STRING),  EN_CHECKED(1, DT_STRING), EN_CHECKED(1, DT_WSTRING), EN_CHECKED(1, DT_BYTES),
    EN_CHECKED(2, DT_STRING),  EN_CHECKED(2, DT_WSTRING), EN_CHECKED(2, DT_BYTES), EN_CHECKED(2, DT_INT32),
    EN_CHECKED(3, DT_STRING),  EN_CHECKED(3, DT_INT16),  EN_CHECKED(3, DT_INT32),  EN_CHECKED(3, DT_UINT32),
    EN_CHECKED(4, DT_UINT16),  EN_CHECKED(4, DT_INT32),  EN_CHECKED(4, DT_UINT32), EN_CHECKED(6, DT_INT32),
    EN_CHECKED(7, DT_INT16),
};
#undef EN_CHECKED
constexpr RowSpan kSpans[] = {{kRows, grammar::CountOf(kRows)}};
constexpr GrammarTable kTable = {"CTestGrammar", 0, kConstraints, grammar::CountOf(kConstraints), kSpans, 1, nullptr, 0};

// Constraint `id` applied to item 9 of the value's type: "" or the violation.
std::string Check(x_uint32 id, const Value& v) {
    const CGroupNode& root = grammar::kImage<kTable>.grammar.GetRoot();
    const int group = root.FindSlot(100 * id + v.type);
    if (group < 0) return "no item of that constraint and type";
    const CGroupNode& checked = static_cast<const CGroupNode&>(*root.GetSlot(static_cast<size_t>(group)).pNode);
    const CMsgEntry entry = {9, v.type, v.bytes.data(), static_cast<x_uint32>(v.bytes.size())};
    CViolation violation;
    if (CBlobGrammar::VerifyDataConstraint(entry, checked.GetSlot(0), violation)) return "";
    return std::to_string(violation.GetCode()) + " " + violation.m_szErrMsg;
}

TEST(Constraints, EveryKindOnEveryDataType) {
    const std::string small = ") is not compliant with constraint(ID: 3, Name: 'Small') [0<=Value<=3]";
    const std::string percent = ") is not compliant with constraint(ID: 4, Name: 'Percent') [0<=Value<=100]";
    const std::string mid = ") is not compliant with constraint(ID: 5, Name: 'Mid') [5<=Value<=20]";
    const std::string len = ") of Node(ID: 9, Name: Item) is not compliant with constraint(ID: 2, Name: 'Len')[2<=DataLength<=10].";
    const std::string data = "102 Data(ID: 9, Name: 'Item', Value: ";
    const struct {
        x_uint32 id;
        Value value;
        std::string text;
    } kCases[] = {
        {3, Int<short>(DT_INT16, 3), ""},
        {3, Int<short>(DT_INT16, -1), data + "-1" + small},
        {3, Int<x_uint32>(DT_UINT32, 0xffffffffu), data + "-1" + small},
        {3, Int<x_int32>(DT_INT32, 4), data + "4" + small},
        {4, Int<unsigned short>(DT_UINT16, 100), ""},
        {4, Int<unsigned short>(DT_UINT16, 65535), data + "65535" + percent},
        {4, Int<x_int32>(DT_INT32, -1), data + "4294967295" + percent},
        {4, Int<x_uint32>(DT_UINT32, 101), data + "101" + percent},
        {3, Narrow("99"), ""},
        {2, Narrow("abcdefghij"), ""},
        {2, Narrow("a"), "102 Data(Len: 1" + len},
        {2, Wide(L"abcdefghijk"), "102 Data(Len: 11" + len},
        {2, Raw(DT_BYTES, "abcdefghijk", 11), "102 Data(Len: 11" + len},
        {2, Int<x_int32>(DT_INT32, 123456), ""},
        // All of: members in ascending ID order, the first rejecting one
        // reports.  Any of: the first accepting one ends it, else the last
        // one reports; a repeated member counts once.
        {6, Int<x_int32>(DT_INT32, 10), ""},
        {6, Int<x_int32>(DT_INT32, 101), data + "101" + percent},
        {6, Int<x_int32>(DT_INT32, 2), data + "2" + mid},
        {7, Int<short>(DT_INT16, 1), ""},
        {7, Int<short>(DT_INT16, 10), ""},
        {7, Int<short>(DT_INT16, 50), data + "50" + mid},
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

// A violation's text is what snprintf makes of its format: the plain
// conversions are written directly, anything else by the C library, and
// both are cut at 1023 characters.
#define EXPECT_FORMATTED_AS_PRINTF(...)                  \
    {                                                    \
        CViolation v;                                    \
        v.Set(101, __VA_ARGS__);                         \
        char want[sizeof v.m_szErrMsg];                  \
        std::snprintf(want, sizeof want, __VA_ARGS__);   \
        EXPECT_STREQ(v.m_szErrMsg, want);                \
    }

TEST(Violations, FormattedAsPrintf) {
    const std::string longName(1100, 'n');
    EXPECT_FORMATTED_AS_PRINTF("ID(%u) of '%s': %d, %d %u%%", UINT_MAX, "Name", INT_MIN, 0, 0u);
    EXPECT_FORMATTED_AS_PRINTF("%s", "%d is text");
    EXPECT_FORMATTED_AS_PRINTF("[%5d|%-3s|%x|%lld]", 42, "a", 255u, 1234567890123LL);
    EXPECT_FORMATTED_AS_PRINTF("%s and %u", longName.c_str(), 5u);
}

}  // namespace
