// Whole messages through the exported functions: every grammar accepts its
// complete message and names its missing required node; structure, order of
// the checks and value constraints as a caller sees them.
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestMessages.h"

namespace {

using testmsg::kGrammarShapes;
using testmsg::kRegistration;
using testmsg::Msg;

void ExpectResult(const EN_VALIDATE_RESULT& r, int code, const std::string& text) {
    EXPECT_EQ(r.nCode, code);
    EXPECT_EQ(std::string(r.szMessage), text);
    EXPECT_EQ(r.szMessage[EN_VALIDATE_MESSAGE_SIZE - 1], 0);
}

TEST(EveryGrammar, AcceptsItsCompleteMessageAlsoWithRepeatedGroups) {
    for (const auto& shape : kGrammarShapes) {
        for (int instances : {1, 3}) {
            SCOPED_TRACE(::testing::Message() << "kind " << shape.kind << ", group instances " << instances);
            Msg m;
            testmsg::AppendCompleteMessage(m, testmsg::TableOf(shape.kind), {}, instances);
            ExpectResult(testmsg::Validate(m.get(), shape.kind), 0, "");
        }
    }
}

TEST(EveryGrammar, NamesItsLowestRequiredNodeWhenMissing) {
    for (const auto& shape : kGrammarShapes) {
        SCOPED_TRACE(::testing::Message() << "kind " << shape.kind);
        Msg m;
        testmsg::AppendCompleteMessage(m, testmsg::TableOf(shape.kind), {shape.lowestRequiredID});
        ExpectResult(testmsg::Validate(m.get(), shape.kind), 101,
                     "Missing required node(ID: " + std::to_string(shape.lowestRequiredID) +
                         ", Name: " + shape.lowestRequiredName + ") under group 'Root'.");
        Msg empty;
        EXPECT_STREQ(testmsg::Validate(empty.get(), shape.kind).szMessage,
                     testmsg::Validate(m.get(), shape.kind).szMessage);
    }
}

TEST(EntryPoints, NullHandleComesBeforeTheTypeAndUnknownTypesGet104) {
    ExpectResult(testmsg::Validate(nullptr, 1502), 103, "pMsgHandle is NULL.");
    ExpectResult(testmsg::Validate(nullptr, kRegistration), 103, "pMsgHandle is NULL.");
    Msg m;
    testmsg::AppendCompleteMessage(m, testmsg::TableOf(1501));
    for (int type : {1502, 0, -1, 1702, 1723, 1500}) {
        EN_VALIDATE_RESULT r;
        En_Validate_Log(m.get(), type, &r);  // not testmsg::Validate, which reads 0 as registration
        ExpectResult(r, 104, "Unknown MsgType=" + std::to_string(type) + ".");
    }
}

// A message: the complete message of `kind` without the root nodes in
// `omit` (or nothing at all), then what `extra` appends.
struct MessageCase {
    const char* what;
    int kind;
    bool complete;
    std::initializer_list<x_uint32> omit;
    std::function<void(Msg&)> extra;
    int code;
    std::string text;
};

const std::wstring kLongValue(300, L'x');

const MessageCase kCases[] = {
    // Structure.
    {"status: an item twice in one Info", 1701, true, {3002}, [](Msg& m) {
         m.Begin(3002).Begin(3001).U32(2052, 1).U32(2052, 2);
     }, 101, "Node (ID: 2052, Name: Name) is not allowed to exist in group 'Info' for more than once. "},
    {"status has no LogMinorVersion", 1701, true, {}, [](Msg& m) { m.WStr(2055, L"1"); },
     101, "Node(ID: 2055) is unexpected under group 'Root'."},
    {"registration: the Cluster name is wide", kRegistration, true, {3007}, [](Msg& m) {
         m.Begin(3007).WStr(2052, L"c").End(3007);
     }, 0, ""},
    {"registration: a numeric name in Cluster", kRegistration, true, {3007}, [](Msg& m) { m.Begin(3007).U32(2052, 1); },
     101, "Node(ID: 2052, Type: 2) expected under group 'Cluster', but Node(ID: 2052, Type: 7) is given."},
    {"registration: a wide name in PatternInfo/Info", kRegistration, true, {}, [](Msg& m) {
         m.Begin(3002).Begin(3001).WStr(2052, L"n");
     }, 101, "Node(ID: 2052, Type: 7) expected under group 'Info', but Node(ID: 2052, Type: 2) is given."},
    {"registration: PatternInfo/Info has no ACKey", kRegistration, true, {}, [](Msg& m) {
         m.Begin(3002).Begin(3001).WStr(2050, L"k");
     }, 101, "Node(ID: 2050) is unexpected under group 'Info'."},
    {"registration: an empty EngineInfo/Info", kRegistration, true, {}, [](Msg& m) { m.Begin(3003).Begin(3001).End(3001); },
     101, "Missing required node(ID: 2052, Name: Name) under group 'Info'."},
    {"registration: an empty PRInfo/Info", kRegistration, true, {}, [](Msg& m) { m.Begin(3006).Begin(3001).End(3001); },
     101, "Missing required node(ID: 2050, Name: ACKey) under group 'Info'."},
    {"end of group names the enclosing group", kRegistration, true, {}, [](Msg& m) {
         m.Begin(3002).Begin(3001).End(3002);
     }, 101, "EndOfGroup tag of ID(3001) is expected, but ID(3002) is given."},
    {"end of group that was never opened", kRegistration, true, {}, [](Msg& m) { m.End(3002); },
     101, "EndOfGroup tag of ID(0) is expected, but ID(3002) is given."},
    {"an unclosed group is judged alone at the end", kRegistration, false, {}, [](Msg& m) {
         m.Begin(3002).Begin(3001).U32(2052, 1).WStr(2053, L"v").WStr(2054, testmsg::kValidTime);
     }, 0, ""},
    {"an unclosed group misses a node", kRegistration, false, {}, [](Msg& m) { m.Begin(3002).Begin(3001).U32(2052, 1); },
     101, "Missing required node(ID: 2053, Name: Version) under group 'Info'."},
    {"root closed by ID 0, then the end", kRegistration, true, {}, [](Msg& m) { m.End(0); },
     101, "Group 'Root' is closed before the end of the message."},
    {"root closed by ID 0, then an entry", kRegistration, true, {}, [](Msg& m) { m.End(0).WStr(2022, L"p"); },
     101, "Node(ID: 2022) is unexpected after group 'Root' is closed."},
    {"root closed by ID 0 misses a node", kRegistration, false, {}, [](Msg& m) { m.End(0); },
     101, "Missing required node(ID: 1001, Name: ProductGUID) under group 'Root'."},
    {"root closed by ID 0, then a broken entry", kRegistration, true, {}, [](Msg& m) { m.End(0).Raw(11, DT_INT16, "abcd", 4); },
     300, "CBlobReader::Pop() failed. -1003 is returned."},
    {"a begin of group with an item's ID", kRegistration, true, {}, [](Msg& m) { m.Begin(2036); },
     101, "Node(ID: 2036, Type: 4) expected under group 'Root', but Node(ID: 2036, Type: 100) is given."},
    {"a group's ID with an item type", kRegistration, true, {}, [](Msg& m) { m.WStr(3002, L"g"); },
     101, "Node(ID: 3002, Type: 100) expected under group 'Root', but Node(ID: 3002, Type: 2) is given."},
    // Order of the checks: type, count and repetition, constraint.
    {"a repeated item with a bad value is repeated", kRegistration, true, {}, [](Msg& m) { m.I16(2036, 50); },
     101, "Node (ID: 2036, Name: Status) is not allowed to exist in group 'Root' for more than once. "},
    {"a repeated item of the wrong type is mistyped", kRegistration, true, {}, [](Msg& m) { m.U32(2036, 1); },
     101, "Node(ID: 2036, Type: 4) expected under group 'Root', but Node(ID: 2036, Type: 7) is given."},
    {"a bad status is rejected by the second range", kRegistration, true, {2036}, [](Msg& m) { m.I16(2036, 50); },
     102, "Data(ID: 2036, Name: 'Status', Value: 50) is not compliant with constraint(ID: 1002, Name: "
          "'EntStatus_P2') [100<=Value<=102]"},
    {"a bad type", kRegistration, true, {2020}, [](Msg& m) { m.I16(2020, 4); },
     102, "Data(ID: 2020, Name: 'Type', Value: 4) is not compliant with constraint(ID: 1003, Name: 'EntType') "
          "[1<=Value<=3]"},
    // Log header.
    {"event log: the lower of two missing IDs", 1501, true, {2058, 2008}, nullptr,
     101, "Missing required node(ID: 2008, Name: ComputerName) under group 'Root'."},
    {"MsgType of the wrong type", 1501, true, {11}, [](Msg& m) { m.I16(11, 1501); },
     101, "Node(ID: 11, Type: 7) expected under group 'Root', but Node(ID: 11, Type: 4) is given."},
    {"MsgType is not compared with the type asked for", 1501, true, {11}, [](Msg& m) { m.U32(11, 1703); }, 0, ""},
    {"violation statistics name 2059 differently", 1721, true, {2059}, nullptr,
     101, "Missing required node(ID: 2059, Name: ComponentCod) under group 'Root'."},
    {"ESV has no LogMinorVersion", 1717, true, {}, [](Msg& m) { m.WStr(2055, L"1"); },
     101, "Node(ID: 2055) is unexpected under group 'Root'."},
    // Texts as they reach the record.
    {"a bad log time", 1703, true, {2001}, [](Msg& m) { m.WStr(2001, L"2008.7.15 13:05:09"); },
     102, "'2008.7.15 13:05:09' is not a valid time string"},
    {"percent signs in a value stay literal", 1701, true, {2001}, [](Msg& m) { m.WStr(2001, L"%s%n%d %%"); },
     102, "'%s%n%d %%' is not a valid time string"},
    {"a long text is cut at 254 characters", kRegistration, true, {3002}, [](Msg& m) {
         m.Begin(3002).Begin(3001).U32(2052, 1).WStr(2053, L"v").WStr(2054, kLongValue.c_str());
     }, 102, "'" + std::string(253, 'x')},
};

TEST(Messages, GetTheirExactResult) {
    for (const MessageCase& c : kCases) {
        SCOPED_TRACE(c.what);
        Msg m;
        if (c.complete) testmsg::AppendCompleteMessage(m, testmsg::TableOf(c.kind), c.omit);
        if (c.extra) c.extra(m);
        ExpectResult(testmsg::Validate(m.get(), c.kind), c.code, c.text);
    }
}

TEST(Messages, EntityStatusAcceptsEitherRange) {
    const struct {
        short value;
        int code;
    } kStatus[] = {{0, 0}, {3, 0}, {100, 0}, {102, 0}, {4, 102}, {99, 102}, {103, 102}, {-1, 102}};
    for (const auto& s : kStatus) {
        SCOPED_TRACE(s.value);
        Msg m;
        testmsg::AppendCompleteMessage(m, testmsg::TableOf(kRegistration), {2036});
        m.I16(2036, s.value);
        const EN_VALIDATE_RESULT r = testmsg::Validate(m.get(), kRegistration);
        ExpectResult(r, s.code,
                     s.code == 0 ? std::string()
                                 : "Data(ID: 2036, Name: 'Status', Value: " + std::to_string(s.value) +
                                       ") is not compliant with constraint(ID: 1002, Name: 'EntStatus_P2') "
                                       "[100<=Value<=102]");
    }
}

}  // namespace
