// Whole messages through the exported functions: every grammar accepts its
// complete message and names its missing required node; the cases below are
// those the reference messages (conformance_test) do not reach.
#include <functional>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "TestMessages.h"

namespace {

using testmsg::kRegistration;
using testmsg::Msg;

void ExpectResult(const EN_VALIDATE_RESULT& r, int code, const std::string& text) {
    EXPECT_EQ(r.nCode, code);
    EXPECT_EQ(std::string(r.szMessage), text);
    EXPECT_EQ(r.szMessage[EN_VALIDATE_MESSAGE_SIZE - 1], 0);
}

TEST(EveryGrammar, AcceptsItsCompleteMessageAndNamesItsLowestRequiredNode) {
    for (const auto& shape : testmsg::kGrammarShapes) {
        SCOPED_TRACE(::testing::Message() << "kind " << shape.kind);
        for (int instances : {1, 3}) {
            Msg m;
            testmsg::AppendCompleteMessage(m, testmsg::TableOf(shape.kind), {}, instances);
            ExpectResult(testmsg::Validate(m.get(), shape.kind), 0, "");
        }
        Msg m, empty;
        testmsg::AppendCompleteMessage(m, testmsg::TableOf(shape.kind), {shape.lowestRequiredID});
        ExpectResult(testmsg::Validate(m.get(), shape.kind), 101,
                     "Missing required node(ID: " + std::to_string(shape.lowestRequiredID) +
                         ", Name: " + shape.lowestRequiredName + ") under group 'Root'.");
        EXPECT_STREQ(testmsg::Validate(empty.get(), shape.kind).szMessage,
                     testmsg::Validate(m.get(), shape.kind).szMessage);
    }
}

TEST(EntryPoints, NullHandleComesBeforeTheTypeAndUnknownTypesGet104) {
    ExpectResult(testmsg::Validate(nullptr, 1502), 103, "pMsgHandle is NULL.");
    ExpectResult(testmsg::Validate(nullptr, kRegistration), 103, "pMsgHandle is NULL.");
    Msg m;
    testmsg::AppendCompleteMessage(m, testmsg::TableOf(1501));
    EN_VALIDATE_RESULT r;
    En_Validate_Log(m.get(), 0, &r);  // not testmsg::Validate, which reads 0 as registration
    ExpectResult(r, 104, "Unknown MsgType=0.");
}

// The complete message of `kind` without the root nodes in `omit` (or
// nothing at all), then what `extra` appends.
const struct {
    const char* what;
    int kind;
    bool complete;
    std::initializer_list<x_uint32> omit;
    std::function<void(Msg&)> extra;
    int code;
    std::string text;
} kCases[] = {
    {"an unclosed group misses a node", kRegistration, false, {}, [](Msg& m) { m.Begin(3002).Begin(3001).U32(2052, 1); },
     101, "Missing required node(ID: 2053, Name: Version) under group 'Info'."},
    {"root closed by ID 0, then the end", kRegistration, true, {}, [](Msg& m) { m.End(0); },
     101, "Group 'Root' is closed before the end of the message."},
    {"root closed by ID 0, then an entry", kRegistration, true, {}, [](Msg& m) { m.End(0).WStr(2022, L"p"); },
     101, "Node(ID: 2022) is unexpected after group 'Root' is closed."},
    {"root closed by ID 0 misses a node", kRegistration, false, {}, [](Msg& m) { m.End(0); },
     101, "Missing required node(ID: 1001, Name: ProductGUID) under group 'Root'."},
    // Order of the checks: type, count and repetition, constraint.
    {"a repeated item with a bad value is repeated", kRegistration, true, {}, [](Msg& m) { m.I16(2036, 50); },
     101, "Node (ID: 2036, Name: Status) is not allowed to exist in group 'Root' for more than once. "},
    {"a repeated item of the wrong type is mistyped", kRegistration, true, {}, [](Msg& m) { m.U32(2036, 1); },
     101, "Node(ID: 2036, Type: 4) expected under group 'Root', but Node(ID: 2036, Type: 7) is given."},
    {"violation statistics name 2059 differently", 1721, true, {2059}, nullptr,
     101, "Missing required node(ID: 2059, Name: ComponentCod) under group 'Root'."},
};

TEST(Messages, GetTheirExactResult) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Msg m;
        if (c.complete) testmsg::AppendCompleteMessage(m, testmsg::TableOf(c.kind), c.omit);
        if (c.extra) c.extra(m);
        ExpectResult(testmsg::Validate(m.get(), c.kind), c.code, c.text);
    }
}

TEST(Messages, EntityStatusAcceptsEitherRange) {
    for (short value : std::initializer_list<short>{0, 3, 100, 102, 4, 99, 103, -1}) {
        SCOPED_TRACE(value);
        const bool ok = (value >= 0 && value <= 3) || (value >= 100 && value <= 102);
        Msg m;
        testmsg::AppendCompleteMessage(m, testmsg::TableOf(kRegistration), {2036});
        m.I16(2036, value);
        ExpectResult(testmsg::Validate(m.get(), kRegistration), ok ? 0 : 102,
                     ok ? "" : "Data(ID: 2036, Name: 'Status', Value: " + std::to_string(value) +
                                   ") is not compliant with constraint(ID: 1002, Name: 'EntStatus_P2') [100<=Value<=102]");
    }
}

}  // namespace
