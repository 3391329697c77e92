// Every reference message gets exactly its expected code and text, through
// the exported C interface.
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "En_Validation.h"
#include "MessageJson.h"

namespace {

struct Case {
    int line;
    nlohmann::json message;
    nlohmann::json expected;
};

std::vector<Case> LoadCases() {
    std::ifstream cases(EN_CONFORMANCE_DIR "/cases.jsonl");
    std::ifstream expected(EN_CONFORMANCE_DIR "/expected.jsonl");
    std::vector<Case> out;
    std::string a, b;
    for (int line = 1; std::getline(cases, a) && std::getline(expected, b); ++line)
        out.push_back({line, nlohmann::json::parse(a), nlohmann::json::parse(b)});
    return out;
}

TEST(Conformance, EveryReferenceMessageGetsItsExactResult) {
    const std::vector<Case> cases = LoadCases();
    ASSERT_EQ(cases.size(), 503u);
    for (const Case& c : cases) {
        msgjson::Message m = msgjson::FromJson(c.message);
        msgjson::Handle h(m.blob);
        EN_VALIDATE_RESULT r;
        if (m.kind == msgjson::Kind::Log)
            En_Validate_Log(h.get(), m.msgType, &r);
        else
            En_Validate_RegisterData(h.get(), &r);
        EXPECT_EQ(r.nCode, c.expected["code"].get<int>()) << "line " << c.line << ": " << c.message["detail"];
        EXPECT_EQ(std::string(r.szMessage), c.expected["message"].get<std::string>())
            << "line " << c.line << ": " << c.message["detail"];
    }
}

}  // namespace
