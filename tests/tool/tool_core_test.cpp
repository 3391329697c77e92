// The parts of en-validate: reading files, JSON Lines, verdict output,
// grammar descriptions (checked against the library's own verdicts) and the
// examples.
#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Describe.h"
#include "Input.h"
#include "Jsonl.h"
#include "LogGrammarTables.h"
#include "RegisterDataGrammarTable.h"
#include "Validation.h"

namespace {

using nlohmann::json;

TEST(Input, JsonIsToldFromBlobsByContent) {
    const struct {
        std::string bytes;
        bool json;
    } cases[] = {
        {"{}", true},
        {" \r\n\t{\"kind\": 1}", true},
        {"\xEF\xBB\xBF{}", true},
        {"", false},
        {"   ", false},
        {"[{}]", false},
        {std::string("{\0}", 3), false},
        {std::string("{\x0b\0\0\0", 5), false},
        {"x{}", false},
    };
    for (const auto& c : cases) EXPECT_EQ(tool::IsJsonText(c.bytes), c.json) << '"' << c.bytes << '"';
}

TEST(Input, SyntaxErrorsNameLineAndColumn) {
    const struct {
        std::string text;
        size_t firstLine;
        std::string prefix;
    } cases[] = {
        {"{x", 1, "line 1, column 2: syntax error while parsing object key"},
        {"{\n  \"a\": 1,\n  \"b\" 2}", 1, "line 3, column 7: syntax error while parsing object separator"},
        {"{\"a\": [1, 2}", 40, "line 40, column 12: syntax error while parsing array"},
        {"{\"a\": 1", 1, "line 1, column 8: syntax error while parsing object"},
        {"{} {}", 7, "line 7, column 4: syntax error while parsing value - unexpected '{'"},
        {"{\"a\": \"\xFF\"}", 1, "line 1, column 8: syntax error while parsing value - invalid string: ill-formed UTF-8"},
    };
    for (const auto& c : cases) {
        try {
            tool::ParseJson(c.text, c.firstLine);
            ADD_FAILURE() << c.text;
        } catch (const tool::InputError& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, c.prefix.size()), c.prefix) << e.what();
        }
    }
    EXPECT_EQ(tool::ParseJson("\xEF\xBB\xBF{\"a\": 1}")["a"], 1);
}

TEST(Input, BlobsNeedKindFromTheCommandLine) {
    const std::string blob("\x0b\0\0\0\x07\0\0\0\x04\0\0\0\xdd\x05\0\0", 16);
    EXPECT_THROW(tool::LoadMessage(blob, {}), tool::InputError);
    msgjson::Overrides o;
    o.kind = msgjson::Kind::Log;
    o.msgType = 1501;
    const msgjson::Message m = tool::LoadMessage(blob, o);
    EXPECT_EQ(m.kind, msgjson::Kind::Log);
    EXPECT_EQ(m.msgType, 1501);
    EXPECT_EQ(m.blob, std::vector<unsigned char>(blob.begin(), blob.end()));
    EXPECT_THROW(tool::ReadAll("/nonexistent/message.json"), tool::InputError);
}

TEST(Output, TextsThatAreNotUtf8StillGiveValidJson) {
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"", "\"\""},
        {"'a\"b\\c' \x01", "\"'a\\\"b\\\\c' \\u0001\""},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        {"'\xC3\xA4\xC3", "\"'\xC3\xA4\xEF\xBF\xBD\""},     // cut in the middle of a character
        {"\xFF\xFEx", "\"\xEF\xBF\xBD\xEF\xBF\xBDx\""},  // each stray byte becomes U+FFFD
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tool::JsonString(c.text), c.json);
        EXPECT_NO_THROW(json::parse(tool::VerdictJson({102, c.text})));
    }
    EXPECT_EQ(tool::VerdictJson({0, ""}), R"({"code": 0, "message": ""})");
    EXPECT_EQ(tool::ErrorJson("line 3: x"), R"({"error": "line 3: x"})");
}

std::string ReadText(const std::string& path) { return tool::ReadAll(path); }

TEST(Jsonl, OneLinePerMessageAndErrorsLoseNoOtherLine) {
    const std::string valid = ReadText(EN_EXAMPLES_DIR "/valid/1501-event.json");
    std::string oneLine = json::parse(valid).dump();
    std::istringstream in(oneLine + "\n" +                                   // 1
                          "\n" +                                             // 2 blank
                          "{\"kind\": \"log\", \"msgtype\": 1501\n" +         // 3 syntax
                          "  \t\r\n" +                                       // 4 blank
                          "[1]\n" +                                          // 5 not an object
                          R"({"kind": "register", "entries": [{"id": 1, "type": "INT16", "value": 1e3}]})" "\n" +
                          R"({"kind": "log", "msgtype": 1502, "entries": []})" "\r\n" +  // 7, CRLF
                          oneLine);                                          // 8, no final newline
    const std::string input = in.str();
    const std::string expected =
        "{\"code\": 0, \"message\": \"\"}\n"
        "{\"error\": \"line 3, column 32: syntax error while parsing object - unexpected end of input; expected '}'\"}\n"
        "{\"error\": \"line 5: message: expected an object, found an array\"}\n"
        "{\"error\": \"line 6: entries[0].value: expected an integer, found a non-integer number\"}\n"
        "{\"code\": 104, \"message\": \"Unknown MsgType=1502.\"}\n"
        "{\"code\": 0, \"message\": \"\"}\n";
    for (unsigned jobs : {1u, 2u, 3u, 8u, 9u}) {
        std::istringstream lines(input);
        std::ostringstream out;
        const tool::BatchCounts counts = tool::RunJsonl(lines, out, {}, {}, jobs);
        EXPECT_EQ(out.str(), expected) << jobs << " jobs";
        EXPECT_EQ(counts.lines, 8u);
        EXPECT_EQ(counts.messages, 3u);
        EXPECT_EQ(counts.failures, 1u);
        EXPECT_EQ(counts.inputErrors, 3u);
        EXPECT_EQ(counts.ExitStatus(), 2);
    }
}

// Several threads give the same lines in the same order, across batches.
TEST(Jsonl, ThreadsKeepTheOrder) {
    const std::string cases = ReadText(EN_CONFORMANCE_DIR "/cases.jsonl");
    std::string input;
    for (int i = 0; i < 10; ++i) input += cases;
    std::istringstream one(input), three(input);
    std::ostringstream byOne, byThree;
    const tool::BatchCounts a = tool::RunJsonl(one, byOne, {}, {}, 1);
    const tool::BatchCounts b = tool::RunJsonl(three, byThree, {}, {}, 3);
    EXPECT_EQ(a.messages, 5030u);
    EXPECT_EQ(byThree.str(), byOne.str());
    EXPECT_EQ(b.failures, a.failures);
    std::string expected;
    const std::string once = ReadText(EN_CONFORMANCE_DIR "/expected.jsonl");
    for (int i = 0; i < 10; ++i) expected += once;
    EXPECT_EQ(byOne.str(), expected);
}

TEST(Jsonl, ProgressIsReportedWhileReading) {
    std::string lines;
    for (int i = 0; i < 10000; ++i) lines += "{}\n";
    std::istringstream in(lines);
    std::ostringstream out;
    std::vector<size_t> seen;
    tool::RunJsonl(in, out, {}, [&](const tool::BatchCounts& c) { seen.push_back(c.lines); });
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back(), 10000u);
}

// --describe must agree with the library: a message made of the required
// root items that the description lists conforms; leaving out any one is
// reported under the listed name; a value outside a listed constraint is
// reported with the listed bounds.
const json* FindConstraint(const json& grammar, const json& id) {
    for (const json& c : grammar["constraints"])
        if (c["id"] == id) return &c;
    return nullptr;
}

long long InRange(const json& c) { return c.contains("members") ? InRange(c["members"][0]) : c["min"].get<long long>(); }

json ValueFor(const json& grammar, const json& node) {
    const std::string type = node["type"];
    if (type == "WSTRING" || type == "STRING") return "2008/7/15 13:05:09";
    if (type == "BYTES") return "";
    if (node.contains("constraint")) return InRange(*FindConstraint(grammar, node["constraint"]["id"]));
    return 1;
}

std::vector<const grammar::GrammarTable*> AllGrammars() {
    std::vector<const grammar::GrammarTable*> all;
    for (const grammar::GrammarTable& t : grammar::log::kTables) all.push_back(&t);
    all.push_back(&grammar::RegisterDataGrammarTable());
    return all;
}

msgjson::Message MessageOf(const json& grammar, const json& entries) {
    json m = {{"kind", grammar["kind"]}, {"entries", entries}};
    if (grammar.contains("msgtype")) m["msgtype"] = grammar["msgtype"];
    return msgjson::FromJson(m);
}

TEST(Describe, AgreesWithTheLibrary) {
    for (const grammar::GrammarTable* table : AllGrammars()) {
        const json g = json::parse(tool::DescribeJson(*table).dump());
        SCOPED_TRACE(g["grammar"].get<std::string>());
        json required = json::array();
        std::vector<const json*> nodes;  // the node of each required entry
        for (const json& node : g["nodes"])
            if (node["required"]) {
                required.push_back({{"id", node["id"]}, {"type", node["type"]}, {"value", ValueFor(g, node)}});
                nodes.push_back(&node);
            }
        ASSERT_FALSE(required.empty());
        tool::Verdict v = tool::Validate(MessageOf(g, required));
        EXPECT_EQ(v.code, 0) << v.text;

        for (size_t i = 0; i < required.size(); ++i) {
            json fewer = required;
            fewer.erase(i);
            const json& node = *nodes[i];
            v = tool::Validate(MessageOf(g, fewer));
            EXPECT_EQ(v.code, 101);
            EXPECT_EQ(v.text, "Missing required node(ID: " + node["id"].dump() + ", Name: " +
                                  node["name"].get<std::string>() + ") under group 'Root'.");
        }

        for (size_t i = 0; i < required.size(); ++i) {
            const json& node = *nodes[i];
            if (!node.contains("constraint")) continue;
            const json& c = *FindConstraint(g, node["constraint"]["id"]);
            json broken = required;
            std::string text;
            const std::string id = node["id"].dump(), name = node["name"];
            if (c["kind"] == "time_format") {
                broken[i]["value"] = "2008.7.15 13:05:09";
                text = "'2008.7.15 13:05:09' is not a valid time string";
            } else {
                // Above every range; the last member tried reports.
                const json& last = c.contains("members") ? c["members"].back() : c;
                long long above = 0;
                for (const json& r : c.contains("members") ? c["members"] : json::array({c}))
                    above = std::max(above, r["max"].get<long long>() + 1);
                broken[i]["value"] = above;
                text = "Data(ID: " + id + ", Name: '" + name + "', Value: " + std::to_string(above) +
                       ") is not compliant with constraint(ID: " + last["id"].dump() + ", Name: '" +
                       last["name"].get<std::string>() + "') [" + last["min"].dump() + "<=Value<=" +
                       last["max"].dump() + "]";
            }
            v = tool::Validate(MessageOf(g, broken));
            EXPECT_EQ(v.code, 102);
            EXPECT_EQ(v.text, text);
        }
    }
}

size_t CountNodes(const json& nodes) {
    size_t n = 0;
    for (const json& node : nodes) n += 1 + (node.contains("children") ? CountNodes(node["children"]) : 0);
    return n;
}

TEST(Describe, TreeHoldsEveryRowAtItsDepth) {
    for (const grammar::GrammarTable* table : AllGrammars()) {
        size_t rows = 0;
        grammar::ForEachRow(*table, [&](const grammar::NodeRow&, const char*) { ++rows; });
        const json g = json::parse(tool::DescribeJson(*table).dump());
        EXPECT_EQ(CountNodes(g["nodes"]), rows) << table->pszClass;
        const std::string text = tool::DescribeText(*table);
        EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')),
                  4 + table->nConstraints + rows) << text;
    }
    const json status = json::parse(tool::DescribeJson(*tool::FindGrammar("1701")).dump());
    const json& info = status["nodes"][14]["children"][0];
    EXPECT_EQ(status["nodes"][14]["name"], "PatternInfo");
    EXPECT_EQ(info["name"], "Info");
    EXPECT_EQ(info["children"][2], json::parse(R"({"id": 2054, "name": "LastUpdateTime", "type": "WSTRING",
        "type_code": 2, "required": true, "constraint": {"id": 1000, "name": "TimeFormat"}})"));
}

TEST(Describe, ConstraintsWithTheirBounds) {
    const json reg = json::parse(tool::DescribeJson(*tool::FindGrammar("register")).dump());
    EXPECT_EQ(reg["constraints"][4], json::parse(R"({"id": 2001, "name": "EntityStatus", "kind": "any_of", "members": [
        {"id": 1001, "name": "EntStatus_P1", "kind": "signed_range", "min": 0, "max": 3},
        {"id": 1002, "name": "EntStatus_P2", "kind": "signed_range", "min": 100, "max": 102}]})"));
    const std::string text = tool::DescribeText(*tool::FindGrammar("register"));
    EXPECT_NE(text.find("  2001 EntityStatus: any of (1001 EntStatus_P1: signed value 0..3; "
                        "1002 EntStatus_P2: signed value 100..102)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  2036   Status"), std::string::npos);
    // Renamed root nodes appear under their grammar's name.
    EXPECT_NE(tool::DescribeText(*tool::FindGrammar("1721")).find(" ComponentCod "), std::string::npos);
}

TEST(Describe, GrammarNames) {
    for (const char* name : {"1501", "1721", "register", "registration"}) EXPECT_NE(tool::FindGrammar(name), nullptr) << name;
    for (const char* name : {"1502", "", "17o1", "1701 ", "+1701", "0", "99999999999", "Register"})
        EXPECT_EQ(tool::FindGrammar(name), nullptr) << name;
    EXPECT_EQ(tool::GrammarNames(), "1501, 1503, 1701, 1703, 1705, 1707, 1709, 1711, 1713, 1715, 1717, 1719, 1721, register");
}

// Every example yields what examples/manifest.json says, and the valid ones
// cover every grammar.
TEST(Examples, EachYieldsItsExpectedResult) {
    const json manifest = json::parse(ReadText(EN_EXAMPLES_DIR "/manifest.json"));
    std::set<std::string> grammars;
    for (const json& entry : manifest) {
        const std::string file = entry["file"];
        SCOPED_TRACE(file);
        const msgjson::Message m = tool::LoadMessage(ReadText(EN_EXAMPLES_DIR "/" + file), {});
        const tool::Verdict v = tool::Validate(m);
        EXPECT_EQ(v.code, entry["code"].get<int>());
        EXPECT_EQ(v.text, entry["message"].get<std::string>());
        if (file.rfind("valid/", 0) == 0) grammars.insert(tool::DescribeKind(m));
    }
    EXPECT_EQ(grammars.size(), 14u);
    EXPECT_GE(manifest.size(), 14u + 5u);
}

}  // namespace
