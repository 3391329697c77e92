// The parts of en-validate in-process: telling JSON from blobs, JSON
// output of any text, JSON Lines from a slow producer,
// and grammar descriptions (checked against the library's own verdicts).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Describe.h"
#include "Input.h"
#include "Jsonl.h"
#include "MessageKindList.h"
#include "Validation.h"

namespace {

using nlohmann::json;

TEST(Input, JsonIsToldFromBlobsByContent) {
    const std::pair<std::string, bool> cases[] = {
        {" \r\n\t{\"kind\": 1}", true}, {"\xEF\xBB\xBF{}", true}, {"", false},
        {"[{}]", true}, {std::string("{\0}", 3), false}, {"x{}", false},
    };
    for (const auto& c : cases) EXPECT_EQ(tool::IsJsonText(c.first), c.second) << '"' << c.first << '"';
}

TEST(Output, TextsThatAreNotUtf8StillGiveValidJson) {
    const std::pair<std::string, std::string> cases[] = {
        {"'a\"b\\c' \x01", "\"'a\\\"b\\\\c' \\u0001\""},
        {"'\xC3\xA4\xC3", "\"'\xC3\xA4\xEF\xBF\xBD\""},     // cut in the middle of a character
        {"\xFF\xFEx", "\"\xEF\xBF\xBD\xEF\xBF\xBDx\""},  // each stray byte becomes U+FFFD
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tool::JsonString(c.first), c.second);
        EXPECT_NO_THROW(json::parse("{" + tool::VerdictJsonKeys({102, c.first, {}, {}, false, {}, false}) + "}"));
    }
    // Texts are checked sixteen bytes at a time: a quote anywhere is found.
    for (size_t at = 0; at < 40; ++at) {
        std::string text(40, 'a');
        text[at] = '"';
        EXPECT_EQ(tool::JsonString(text), json(text).dump()) << at;
    }
}

// A producer that waits for each verdict before it writes the next line
// gets it while the input is still open.
TEST(Jsonl, VerdictComesWhileTheInputStaysOpen) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::promise<std::string> first;
    bool told = false;
    std::thread run([&] {
        tool::JsonlOptions options;
        options.jobs = 2;
        tool::RunJsonl(p[0], [&](std::string_view text) {
            if (!told && !text.empty()) first.set_value(std::string(text)), told = true;
        }, options);
    });
    const std::string line = "{\"kind\": \"register\", \"entries\": []}\n";
    ASSERT_EQ(write(p[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
    std::future<std::string> verdict = first.get_future();
    const bool came = verdict.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    close(p[1]);
    run.join();
    ASSERT_TRUE(came);
    EXPECT_EQ(verdict.get().rfind("{\"line\": 1, \"kind\": \"register\", \"code\": 101, ", 0), 0u);
}

// --describe must agree with the library: a message made of the required
// root items that the description lists conforms; leaving out any one is
// reported under the listed name; a value outside a listed constraint is
// reported with the listed bounds.
const json& FindConstraint(const json& grammar, const json& id) {
    for (const json& c : grammar["constraints"])
        if (c["id"] == id) return c;
    throw std::runtime_error("no constraint " + id.dump());
}

long long InRange(const json& c) { return c.contains("members") ? InRange(c["members"][0]) : c["min"].get<long long>(); }

json ValueFor(const json& grammar, const json& node) {
    const std::string type = node["type"];
    if (type == "WSTRING" || type == "STRING") return "2008/7/15 13:05:09";
    if (type == "BYTES") return "";
    if (node.contains("constraint")) return InRange(FindConstraint(grammar, node["constraint"]["id"]));
    return 1;
}


// A group that --describe says repeats, as entries: its required items and
// every sub-group twice.
void AddGroup(const json& grammar, const json& group, json& entries) {
    entries.push_back({{"id", group["id"]}, {"type", "GROUP"}});
    for (const json& node : group["children"])
        if (node["repeats"])
            for (int i = 0; i < 2; ++i) AddGroup(grammar, node, entries);
        else if (node["required"])
            entries.push_back({{"id", node["id"]}, {"type", node["type"]}, {"value", ValueFor(grammar, node)}});
    entries.push_back({{"id", group["id"]}, {"type", "END_OF_GROUP"}});
}

tool::Verdict ValidateEntries(const json& grammar, const json& entries) {
    std::string text = json{{"kind", grammar["kind"]}, {"msgtype", grammar.value("msgtype", 0)}, {"entries", entries}}.dump();
    msgjson::Handle h;
    return tool::Validate(h, msgjson::Reader().Read(text, h));
}

TEST(Describe, AgreesWithTheLibrary) {
    for (const grammar::MessageKind& kind : grammar::kMessageKinds) {
        const grammar::GrammarTable* table = kind.pTable;
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
        tool::Verdict v = ValidateEntries(g, required);
        EXPECT_EQ(v.code, 0) << v.text;
        json repeated = required;  // and every group twice, at every level
        for (const json& node : g["nodes"])
            for (int i = 0; node["repeats"] && i < 2; ++i) AddGroup(g, node, repeated);
        v = ValidateEntries(g, repeated);
        EXPECT_EQ(v.code, 0) << v.text;
        EXPECT_EQ(g["repeating_groups"].empty(), repeated.size() == required.size());

        for (size_t i = 0; i < required.size(); ++i) {
            const json& node = *nodes[i];
            const std::string id = node["id"].dump(), name = node["name"];
            json fewer = required;
            fewer.erase(i);
            v = ValidateEntries(g, fewer);
            EXPECT_EQ(v.code, 101);
            EXPECT_EQ(v.text, "Missing required node(ID: " + id + ", Name: " + name + ") under group 'Root'.");
            if (!node.contains("constraint")) continue;

            const json& c = FindConstraint(g, node["constraint"]["id"]);
            json broken = required;
            std::string text;
            if (c["kind"] == "time_format") {
                // Each example of the time string rules: "TEXT" passes, or "TEXT" fails.
                size_t examples = 0;
                for (const std::string rule : g["time_strings"])
                    for (size_t open = rule.find('"'), close; open != std::string::npos &&
                                                             (close = rule.find('"', open + 1)) != std::string::npos;
                         open = rule.find('"', open + 1)) {
                        const bool passes = rule.compare(close + 1, 7, " passes") == 0;
                        if (!passes && rule.compare(close + 1, 6, " fails") != 0) continue;
                        broken[i]["value"] = rule.substr(open + 1, close - open - 1);
                        EXPECT_EQ(ValidateEntries(g, broken).code, passes ? 0 : 102) << rule.substr(open, close - open + 7);
                        ++examples;
                        open = close;
                    }
                EXPECT_EQ(examples, 9u);
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
            v = ValidateEntries(g, broken);
            EXPECT_EQ(v.code, 102);
            EXPECT_EQ(v.text, text);
        }
    }
}

}  // namespace
