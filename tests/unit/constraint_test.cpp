// Value constraints and constraint groups, applied to single entries.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DataConstraint.h"
#include "ErrorText.h"
#include "Exceptions.h"

namespace {

using testmsg::ErrorOf;

// The value of one entry, as the reader would deliver it.
struct Value {
    Type type;
    std::vector<unsigned char> bytes;

    static Value Narrow(const std::string& s) { return {DT_STRING, Raw(s.c_str(), s.size() + 1)}; }
    static Value Wide(const std::wstring& s) { return {DT_WSTRING, Raw(s.c_str(), (s.size() + 1) * sizeof(wchar_t))}; }
    static Value Bytes(size_t n) { return {DT_BYTES, std::vector<unsigned char>(n, 0xab)}; }
    template <class T>
    static Value Int(Type type, T v) {
        return {type, Raw(&v, sizeof v)};
    }
    static std::vector<unsigned char> Raw(const void* p, size_t n) {
        const unsigned char* b = static_cast<const unsigned char*>(p);
        return std::vector<unsigned char>(b, b + n);
    }
};

// Applies constraint `id` of `grammar` to an item of the value's type; the
// empty string when accepted, else the text of the violation.
std::string Check(const CBlobGrammar& grammar, x_uint32 id, const Value& v, const char* itemName = "Item") {
    CItemNode node(itemName, 9, v.type, true, id);
    const CMsgEntry entry = {9, v.type, v.bytes.data(), static_cast<x_uint32>(v.bytes.size())};
    try {
        grammar.VerifyDataConstraint(entry, node);
    } catch (const CDataConstraintViolationException& e) {
        return e.m_szErrMsg;
    }
    return "";
}

class Constraints : public ::testing::Test {
protected:
    void SetUp() override {
        m_Grammar.AddConstraint(CDataConstraint::CreateTimeFormatConstraint(1));
        m_Grammar.AddConstraint(CDataConstraint::CreateLengthConstraint("Len", 2, 10, 2));
        m_Grammar.AddConstraint(CDataConstraint::CreateSignedValueConstraint("Small", 3, 0, 3));
        m_Grammar.AddConstraint(CDataConstraint::CreateUnsignedValueConstraint("Percent", 4, 0, 100));
        m_Grammar.AddConstraint(CDataConstraint::CreateSignedValueConstraint("Mid", 5, 5, 20));
        my::CAutoPtr<CConstraintGroup> all(new CConstraintGroup("Both", 6, CConstraintGroup::GROUP_ALL_OF));
        all->AddConstraint(5);
        all->AddConstraint(3);
        all->AddConstraint(6);  // itself: ignored
        m_Grammar.AddConstraint(all);
        my::CAutoPtr<CConstraintGroup> dangling(new CConstraintGroup("Dangling", 7, CConstraintGroup::GROUP_ANY_OF));
        dangling->AddConstraint(3);
        dangling->AddConstraint(77);
        m_Grammar.AddConstraint(dangling);
        m_Grammar.AddConstraint(my::CAutoPtr<CConstraintGroup>(
            new CConstraintGroup("Empty", 8, CConstraintGroup::GROUP_ALL_OF)));
    }
    CBlobGrammar m_Grammar;
};

TEST_F(Constraints, TimeStrings) {
    const struct {
        const char* text;
        bool accepted;
    } kTimes[] = {
        {"2008/7/15 13:05:09", true},   {"2008-07-15 13:05:09", true}, {"2008/7/15 13:05:09 and more", true},
        {" 2008/7/15 13:5:9", true},    {"2008/13/0 13:05:09", true},  {"-2008/7/15 13:05:09", true},
        {"2008/7/15\t13:05:09", true},  {"2008.7.15 13:05:09", false}, {"2008/7/15", false},
        {"2008/7/15 13:05", false},     {"2008/07-15 13:05:09", false}, {"", false},
        {"%s %n %d", false},
    };
    for (const auto& t : kTimes) {
        SCOPED_TRACE(t.text);
        const std::string rejected = "'" + std::string(t.text) + "' is not a valid time string";
        const std::wstring wide(t.text, t.text + std::strlen(t.text));
        EXPECT_EQ(Check(m_Grammar, 1, Value::Narrow(t.text)), t.accepted ? "" : rejected);
        EXPECT_EQ(Check(m_Grammar, 1, Value::Wide(wide)), t.accepted ? "" : rejected);
    }
    // Other types are not checked.
    EXPECT_EQ(Check(m_Grammar, 1, Value::Bytes(3)), "");
}

TEST_F(Constraints, WideTimeIsParsedFromItsFirst255Bytes) {
    const std::wstring fits = std::wstring(237, L' ') + L"2008/7/15 13:05:09 x";
    EXPECT_EQ(Check(m_Grammar, 1, Value::Wide(fits)), "");
    const std::wstring cut = std::wstring(250, L' ') + L"2008/7/15 13:05:09";
    EXPECT_EQ(Check(m_Grammar, 1, Value::Wide(cut)),
              "'" + std::string(250, ' ') + "2008/' is not a valid time string");
    // The conversion's failure is not looked at: what was converted counts
    // (in the C locale conversion stops at the first non-ASCII character).
    EXPECT_EQ(Check(m_Grammar, 1, Value::Wide(L"2008/7/15 13:05:09\u00e9")), "");
    EXPECT_EQ(Check(m_Grammar, 1, Value::Wide(L"2008/7/15 13:05\u00e9:09")),
              "'2008/7/15 13:05' is not a valid time string");
}

TEST_F(Constraints, LengthIsMeasuredPerTypeAndBothBoundsArePrinted) {
    const struct {
        Value value;
        x_uint32 length;
        bool accepted;
    } kLengths[] = {
        {Value::Narrow("ab"), 2, true},          {Value::Narrow("a"), 1, false},
        {Value::Narrow("abcdefghij"), 10, true}, {Value::Narrow("abcdefghijk"), 11, false},
        {Value::Wide(L"abc"), 3, true},          {Value::Wide(L"abcdefghijk"), 11, false},
        {Value::Wide(L"a"), 1, false},           {Value::Bytes(10), 10, true},
        {Value::Bytes(0), 0, false},             {Value::Bytes(11), 11, false},
        {Value::Int(DT_INT32, 123456), 4, true},
    };
    for (const auto& l : kLengths) {
        SCOPED_TRACE(::testing::Message() << "type " << l.value.type << ", length " << l.length);
        EXPECT_EQ(Check(m_Grammar, 2, l.value),
                  l.accepted ? "" : "Data(Len: " + std::to_string(l.length) +
                                        ") of Node(ID: 9, Name: Item) is not compliant with constraint(ID: 2, "
                                        "Name: 'Len')[2<=DataLength<=10].");
    }
}

TEST_F(Constraints, RangesReadValuesSignedOrUnsigned) {
    const std::string small = ") is not compliant with constraint(ID: 3, Name: 'Small') [0<=Value<=3]";
    const std::string percent = ") is not compliant with constraint(ID: 4, Name: 'Percent') [0<=Value<=100]";
    const struct {
        x_uint32 id;
        Value value;
        std::string text;
    } kRanges[] = {
        {3, Value::Int<short>(DT_INT16, 3), ""},
        {3, Value::Int<short>(DT_INT16, -1), "Data(ID: 9, Name: 'Item', Value: -1" + small},
        {3, Value::Int<unsigned short>(DT_UINT16, 65535), "Data(ID: 9, Name: 'Item', Value: -1" + small},
        {3, Value::Int<x_uint32>(DT_UINT32, 0xffffffffu), "Data(ID: 9, Name: 'Item', Value: -1" + small},
        {3, Value::Int<x_int32>(DT_INT32, 4), "Data(ID: 9, Name: 'Item', Value: 4" + small},
        {4, Value::Int<short>(DT_INT16, 100), ""},
        {4, Value::Int<short>(DT_INT16, -1), "Data(ID: 9, Name: 'Item', Value: 65535" + percent},
        {4, Value::Int<x_int32>(DT_INT32, -1), "Data(ID: 9, Name: 'Item', Value: 4294967295" + percent},
        {4, Value::Int<x_uint32>(DT_UINT32, 101), "Data(ID: 9, Name: 'Item', Value: 101" + percent},
        {3, Value::Narrow("99"), ""},
        {4, Value::Wide(L"-1"), ""},
    };
    for (const auto& r : kRanges) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(Check(m_Grammar, r.id, r.value), r.text);
    }
}

TEST_F(Constraints, AllOfReportsTheLowestRejectingMember) {
    EXPECT_EQ(Check(m_Grammar, 6, Value::Int<short>(DT_INT16, 30)),
              "Data(ID: 9, Name: 'Item', Value: 30) is not compliant with constraint(ID: 3, Name: 'Small') "
              "[0<=Value<=3]");
    EXPECT_EQ(Check(m_Grammar, 6, Value::Int<short>(DT_INT16, 2)),
              "Data(ID: 9, Name: 'Item', Value: 2) is not compliant with constraint(ID: 5, Name: 'Mid') "
              "[5<=Value<=20]");
    EXPECT_EQ(Check(m_Grammar, 8, Value::Int<short>(DT_INT16, -99)), "");
}

TEST_F(Constraints, AnyOfResolvesMembersOnlyWhenReached) {
    EXPECT_EQ(Check(m_Grammar, 7, Value::Int<short>(DT_INT16, 1)), "");
    EXPECT_EQ(ErrorOf([&] { Check(m_Grammar, 7, Value::Int<short>(DT_INT16, 50)); }),
              "300 Constraint(ID: 77) is undefined in the grammar.");
}

TEST(ConstraintGroup, MembersAreASortedSet) {
    CConstraintGroup group("G", 1, CConstraintGroup::GROUP_ANY_OF);
    for (x_uint32 id : {1002u, 1001u, 1002u, 1u}) group.AddConstraint(id);
    std::vector<x_uint32> members;
    my::CAutoPtr<CConstIterator<x_uint32>> it(group.GetMembers().CreateConstIterator());
    while (it->HasNext()) members.push_back(it->Next());
    EXPECT_EQ(members, (std::vector<x_uint32>{1001, 1002}));
}

TEST(ConstraintFactories, RejectRangesWithMinimumAboveMaximum) {
    EXPECT_EQ(ErrorOf([] { CDataConstraint::CreateSignedValueConstraint("R", 9, 5, 4); }),
              "300 Constraint(ID: 9, Name: 'R') is invalid: MinValue(5)>MaxValue(4).");
    EXPECT_EQ(ErrorOf([] { CDataConstraint::CreateUnsignedValueConstraint("U", 8, 0xffffffffu, 0); }),
              "300 Constraint(ID: 8, Name: 'U') is invalid: MinValue(4294967295)>MaxValue(0).");
    EXPECT_EQ(ErrorOf([] { CDataConstraint::CreateSignedValueConstraint("S", 7, -1, 0); }), "");
    EXPECT_EQ(ErrorOf([] { CDataConstraint::CreateSignedValueConstraint("E", 6, 4, 4); }), "");
    EXPECT_EQ(ErrorOf([] { CDataConstraint::CreateLengthConstraint("L", 5, 1, 9); }), "");
    EXPECT_STREQ(CDataConstraint::CreateTimeFormatConstraint(4)->GetName(), "TimeFormat");
}

TEST(Grammar, DuplicateOrUnregisteredConstraintIsAnInternalError) {
    CBlobGrammar grammar;
    grammar.AddConstraint(CDataConstraint::CreateTimeFormatConstraint(7));
    my::CAutoPtr<CDataConstraint> again = CDataConstraint::CreateSignedValueConstraint("X", 7, 0, 1);
    EXPECT_EQ(ErrorOf([&] { grammar.AddConstraint(again); }), "300 Constraint (ID: 7) is already in grammar.");
    EXPECT_STREQ(grammar.GetConstraint(7)->GetName(), "TimeFormat");
    EXPECT_EQ(ErrorOf([&] { grammar.GetConstraint(8); }), "300 Constraint(ID: 8) is undefined in the grammar.");
    // An item without a constraint is never checked.
    EXPECT_EQ(Check(grammar, 0, Value::Narrow("no time")), "");
}

}  // namespace
