// en-validate as its users run it: exit statuses, messages, several jobs,
// and every reference message through --jsonl.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "MessageJson.h"

namespace {

using nlohmann::json;

const std::string kEvent = EN_EXAMPLES_DIR "/valid/1501-event.json", kStatus = EN_EXAMPLES_DIR "/valid/1701-status.json";

std::string Scratch(const std::string& name) { return ::testing::TempDir() + "en-validate-" + std::to_string(getpid()) + "-" + name; }
void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outcome {
    int status;
    std::string out, err;
};

// Runs the tool with arguments (already quoted for sh) and standard input.
Outcome Tool(const std::string& args, const std::string& input = "") {
    const std::string in = Scratch("stdin"), out = Scratch("stdout"), err = Scratch("stderr");
    WriteFile(in, input);
    const std::string command = std::string(EN_EMULATOR) + " " + EN_TOOL + " " + args + " <" + in + " >" + out +
                                " 2>" + err;
    const int rc = std::system(command.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(out), ReadFile(err)};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Ten copies of the reference cases, over batches and jobs: line by line
// the expected records, in order, with line numbers.
TEST(Cli, EveryReferenceMessageThroughJsonLines) {
    std::string input;
    for (int i = 0; i < 10; ++i) input += ReadFile(EN_CONFORMANCE_DIR "/cases.jsonl");
    const Outcome run = Tool("--jsonl -j 2 -", input);
    EXPECT_EQ(run.status, 1) << run.err;
    const std::vector<std::string> out = Lines(run.out), expected = Lines(ReadFile(EN_CONFORMANCE_DIR "/expected.jsonl"));
    ASSERT_EQ(out.size(), 10 * expected.size());
    size_t wrong = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        json got = json::parse(out[i]);
        wrong += got["line"] != i + 1;
        for (const char* key : {"line", "entry", "offset", "path"}) got.erase(key);
        if (got != json::parse(expected[i % expected.size()]) && ++wrong < 10) ADD_FAILURE() << "line " << i + 1 << ": " << out[i];
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(Cli, ExitStatusesAndUsageErrors) {
    const std::string kEventLine = json::parse(ReadFile(kEvent)).dump() + "\n";
    const struct {
        std::string args;
        int status;
        std::string output;  // expected in standard output or standard error
        std::string input = "";
    } cases[] = {
        {"--help", 0, "Usage: en-validate [OPTIONS] [files...]"},
        {"--version", 0, "en-validate 1."},
        {"--jsonl", 0, ""},
        {"--jsonl -", 2, "{\"line\": 1, \"code\": 0, \"message\": \"\"}\n{\"line\": 3, \"error\": \"line 3: kind: expected \\\"log\\\" or",
         kEventLine + "\n{\"kind\": 3}\n" + kEventLine},
        {"--jsonl --log 1701", 1, "{\"line\": 1, \"code\": 10", kEventLine},
        {"--color=sometimes " + kEvent, 2, "sometimes"},
        {"--describe registration --json", 0, "\"CRegMessageGrammar\""},
        {"--log 1701 " + kEvent, 1, ": 10"},  // the command line decides kind and type over the file
        {"", 2, "no input: give message files, --jsonl, --describe, --encode or --decode"},
        {"--frobnicate", 2, "--frobnicate"},
        {"--log abc " + kEvent, 2, "abc"},
        {"--log 1501 --register " + kEvent, 2, "excludes"},
        {"--describe 1502", 2, "no grammar \"1502\": give one of 1501, 1503, 1701, 1703, 1705, 1707, 1709, 1711, 1713, 1715, "
                                   "1717, 1719, 1721, register"},
        {"--describe 1701 " + kEvent, 2, "--describe takes no files"},
        {"--decode a b", 2, "exactly one file"},
        {"--jsonl a b", 2, "one file"},
        {"-o out.blob " + kEvent, 2, "-o is for --encode and --decode"},
        {"--locale no_SUCH.locale " + kEvent, 2, "unknown locale \"no_SUCH.locale\""},
    };
    for (const auto& c : cases) {
        const Outcome run = Tool(c.args, c.input);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
        EXPECT_NE((run.out + run.err).find(c.output), std::string::npos) << c.args << "\n" << run.out << run.err;
        if (!c.input.empty()) {
            EXPECT_EQ(run.err, "");  // no progress: standard error is not a terminal
        } else if (c.status == 2) {
            EXPECT_EQ(run.out, "") << c.args;
        }
    }
}

// The man page documents every option of --help.
TEST(Cli, ManPageHasEveryOption) {
    const std::string help = Tool("--help").out, page = ReadFile(EN_EXAMPLES_DIR "/../docs/en-validate.1");
    size_t options = 0;
    for (size_t at = help.find("\n  -"); at != std::string::npos; at = help.find("\n  -", at + 1), ++options) {
        const size_t from = help.find("--", at), to = help.find_first_of(" \n", from);
        EXPECT_NE(page.find("\\-\\-" + help.substr(from + 2, to - from - 2)), std::string::npos) << help.substr(from, to - from);
    }
    EXPECT_EQ(options, 16u);
}

// Crafted faults whose place is known, in a status log with two Info
// groups under PatternInfo, each through --jsonl (blank lines between),
// plain, --json and --table output, and once as a blob that names its
// kind by its MsgType entry.  The expected offset of entry i is the size of
// entries 0..i-1 encoded.  -q leaves out the message that conforms.
TEST(Cli, VerdictsSayWhereInEveryOutputForm) {
    json base = json::parse(ReadFile(kStatus));
    json& e = base["entries"];
    for (int i = 0; i < 5; ++i) e.insert(e.begin() + 20 + i, e[15 + i]);  // a second Info
    ASSERT_EQ(e[24]["type"], "END_OF_GROUP");
    const struct {
        std::function<void(json&)> edit;
        int code;
        size_t entry;  // SIZE_MAX: at the end of the data
        std::string path;
    } rows[] = {
        {[](json& m) { m[23]["value"] = "17.05.2024"; }, 102, 23, "Root/PatternInfo[1]/Info[2]/LastUpdateTime"},
        {[](json& m) { m.erase(22); }, 101, 23, "Root/PatternInfo[1]/Info[2]"},  // Version, missed at the end of its group
        {[](json& m) { m.erase(0); }, 101, SIZE_MAX, "Root"},                  // MsgType, missed at the end of the data
        {[](json& m) { m.insert(m.begin() + 21, json{{"id", 9999}, {"type", "UINT32"}, {"value", 1}}); }, 101, 21,
         "Root/PatternInfo[1]/Info[2]"},
        {[](json& m) { m[2]["type"] = "INT32"; }, 101, 2, "Root/ProductID"},
        {[](json& m) { m[16] = {{"id", 2052}, {"type", "UINT32"}, {"raw", "0100"}}; }, 300, 16, "Root/PatternInfo[1]/Info[1]"},
    };
    std::string lines = base.dump() + "\n", files = Scratch("ok.json");
    WriteFile(files, base.dump());
    std::vector<json> want;  // line, code, entry, offset, path of each row
    for (size_t r = 0; r < std::size(rows); ++r) {
        json m = base;
        rows[r].edit(m["entries"]);
        json prefix = m;
        const size_t entry = std::min(rows[r].entry, m["entries"].size());
        prefix["entries"].erase(prefix["entries"].begin() + static_cast<long>(entry), prefix["entries"].end());
        std::string text = prefix.dump();
        want.push_back({{"line", 3 + 2 * r}, {"code", rows[r].code}, {"entry", entry},
                        {"offset", msgjson::Reader().Read(text).blob.size()}, {"path", rows[r].path}});
        lines += "\n" + m.dump() + "\n";
        files += " " + Scratch("row" + std::to_string(r) + ".json");
        WriteFile(Scratch("row" + std::to_string(r) + ".json"), m.dump());
    }
    auto same = [&](const json& got, size_t r) {
        for (const char* key : {"code", "entry", "offset", "path"}) EXPECT_EQ(got.at(key), want[r][key]) << r << " " << key;
    };

    Outcome run = Tool("-j 2 --jsonl", lines);
    std::vector<std::string> out = Lines(run.out);
    ASSERT_EQ(out.size(), 1 + want.size()) << run.out << run.err;
    EXPECT_EQ(out[0], "{\"line\": 1, \"code\": 0, \"message\": \"\"}");
    for (size_t r = 0; r < want.size(); ++r) {
        EXPECT_EQ(json::parse(out[1 + r])["line"], want[r]["line"]);
        same(json::parse(out[1 + r]), r);
    }

    out = Lines(Tool("--json " + files).out);
    ASSERT_EQ(out.size(), 1 + want.size());
    EXPECT_FALSE(json::parse(out[0]).contains("entry"));
    for (size_t r = 0; r < want.size(); ++r) same(json::parse(out[1 + r]), r);

    run = Tool("-q --summary " + files);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "en-validate: 7 messages, 0 input errors\n  0 conforms: 1\n  101 syntax error: 4\n"
                       "  102 constraint violation: 1\n  300 internal error: 1\n");
    out = Lines(run.out);
    ASSERT_EQ(out.size(), 2 * want.size() + 1) << run.out;  // and the blob line of the 300
    for (size_t r = 0; r < want.size(); ++r)
        EXPECT_EQ(out[2 * r + 1], "  at entry " + want[r]["entry"].dump() + " (byte " + want[r]["offset"].dump() +
                                      "): " + want[r]["path"].get<std::string>());

    const std::vector<std::string> rowsOut = Lines(Tool("--table " + files).out);
    EXPECT_NE(rowsOut[0].find(" LOCATION "), std::string::npos) << rowsOut[0];
    EXPECT_NE(rowsOut[2].find(" entry 23 (byte "), std::string::npos) << rowsOut[2];

    run = Tool("--color=always " + Scratch("row0.json"));
    EXPECT_NE(run.out.find("\x1b[1;31m102\x1b[0m '17.05.2024'"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\x1b[36mRoot/PatternInfo[1]/Info[2]/LastUpdateTime\x1b[0m\n"), std::string::npos) << run.out;

    const std::string blob = Scratch("row0.blob");
    ASSERT_EQ(Tool("--encode " + Scratch("row0.json") + " -o " + blob).status, 0);
    run = Tool("--json " + blob);
    same(json::parse(run.out), 0);
    EXPECT_EQ(json::parse(run.out)["type"], "log 1701");
}

TEST(Cli, DecodeThenEncodeGivesTheSameBytes) {
    const std::string blob = Scratch("event.blob"), decoded = Scratch("event.json"), again = Scratch("again.blob");
    ASSERT_EQ(Tool("--encode " + kStatus + " -o " + blob).status, 0);
    EXPECT_EQ(Tool("--log 1701 " + blob).out, blob + ": 0 (conforms)\n");

    Outcome run = Tool("--decode " + blob);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"kind\": \"log\", \"msgtype\": 1701, \"entries\": [\n", 0), 0u)
        << run.out;
    WriteFile(decoded, run.out);
    ASSERT_EQ(Tool("--encode " + decoded + " -o " + again).status, 0);
    EXPECT_EQ(ReadFile(again), ReadFile(blob));
    EXPECT_EQ(Tool("--encode " + decoded).out, ReadFile(blob));  // to standard output
    EXPECT_EQ(Tool("--decode --register " + blob).out.rfind("{\"kind\": \"register\", \"entries\": [", 0), 0u);

    EXPECT_NE(Tool("--decode " + kStatus).err.find("holds a JSON message, not a blob"), std::string::npos);
    EXPECT_EQ(Tool("--encode " + blob).status, 2);
}

// The process locale stays "C" unless --locale names another: in "C" a wide
// value with a non-ASCII character converts to nothing.
TEST(Cli, LocaleOnlyOnRequest) {
    json message = json::parse(ReadFile(kStatus));
    for (json& e : message["entries"])
        if (e["id"] == 2001) e["value"] = "\xC3\xA4 2008/7/15 13:05:09";
    const std::string line = message.dump() + "\n";
    EXPECT_NE(Tool("--jsonl", line).out.find("\"code\": 102, \"message\": \"'' is not a valid time string\""), std::string::npos);
    const Outcome utf8 = Tool("--locale C.UTF-8 --jsonl", line);
    if (utf8.status == 2) GTEST_SKIP() << "no C.UTF-8 locale: " << utf8.err;
    EXPECT_NE(utf8.out.find("\"code\": 102, \"message\": \"'\xC3\xA4 2008/7/15 13:05:09' is not a valid time string\""),
              std::string::npos);
}

}  // namespace
