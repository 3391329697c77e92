// en-validate as its users run it: exit statuses, messages, several jobs,
// and every reference message through --jsonl.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

const std::string kEvent = EN_EXAMPLES_DIR "/valid/1501-event.json", kStatus = EN_EXAMPLES_DIR "/valid/1701-status.json",
                  kFaulty = EN_EXAMPLES_DIR "/faulty/event-missing-msgtype.json";

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

// The output must be the expected records byte for byte, split over jobs.
TEST(Cli, EveryReferenceMessageThroughJsonLines) {
    const Outcome run = Tool("--jsonl -j 3 " EN_CONFORMANCE_DIR "/cases.jsonl");
    EXPECT_EQ(run.status, 1) << run.err;
    ASSERT_EQ(Lines(run.out).size(), 503u);
    EXPECT_EQ(run.out, ReadFile(EN_CONFORMANCE_DIR "/expected.jsonl"));
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
        {"--jsonl -", 2, "{\"code\": 0, \"message\": \"\"}\n{\"error\": \"line 3: kind: expected \\\"log\\\" or",
         kEventLine + "\n{\"kind\": 3}\n" + kEventLine},
        {"--jsonl --log 1701", 1, "{\"code\": 10", kEventLine},
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

// One line a file in each output form; the worst status.
TEST(Cli, FilesInEachOutputForm) {
    const std::string none = Scratch("none.json"), files = " " + kEvent + " " + kFaulty + " " + none;
    Outcome run = Tool(files);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, kEvent + ": 0 (conforms)\n" + kFaulty +
                           ": 101 Missing required node(ID: 11, Name: MsgType) under group 'Root'.\n");
    EXPECT_EQ(run.err, "en-validate: " + none + ": cannot open: No such file or directory\n");
    EXPECT_EQ(Tool(kEvent + " " + kFaulty).status, 1);

    run = Tool("--table" + files);
    const std::vector<std::string> rows = Lines(run.out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].substr(0, 4), "FILE");
    EXPECT_NE(rows[1].find("  log 1501  0 conforms"), std::string::npos) << rows[1];
    EXPECT_NE(rows[2].find("  log 1501  101 syntax error  Missing required node"), std::string::npos) << rows[2];
    EXPECT_NE(rows[3].find("input error"), std::string::npos) << rows[3];

    const std::vector<std::string> lines = Lines(Tool("--json" + files).out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(json::parse(lines[1]), json({{"file", kFaulty}, {"type", "log 1501"}, {"code", 101},
                                           {"message", "Missing required node(ID: 11, Name: MsgType) under group 'Root'."}}));
    EXPECT_NE(json::parse(lines[2])["error"].get<std::string>().find("cannot open"), std::string::npos);
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
    EXPECT_EQ(Tool("--jsonl", line).out, "{\"code\": 102, \"message\": \"'' is not a valid time string\"}\n");
    const Outcome utf8 = Tool("--locale C.UTF-8 --jsonl", line);
    if (utf8.status == 2) GTEST_SKIP() << "no C.UTF-8 locale: " << utf8.err;
    EXPECT_EQ(utf8.out, "{\"code\": 102, \"message\": \"'\xC3\xA4 2008/7/15 13:05:09' is not a valid time string\"}\n");
}

}  // namespace
