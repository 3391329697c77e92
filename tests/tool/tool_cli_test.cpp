// en-validate as its users run it: exit statuses, messages, every job, and
// every reference message through --jsonl.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

const std::string kExamples = EN_EXAMPLES_DIR;
const std::string kEvent = kExamples + "/valid/1501-event.json";
const std::string kStatus = kExamples + "/valid/1701-status.json";
const std::string kFaulty = kExamples + "/faulty/event-missing-msgtype.json";

std::string Scratch(const std::string& name) {
    return ::testing::TempDir() + "en-validate-" + std::to_string(getpid()) + "-" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
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

TEST(Cli, EveryReferenceMessageThroughJsonLines) {
    const Outcome run = Tool("--jsonl " EN_CONFORMANCE_DIR "/cases.jsonl");
    EXPECT_EQ(run.status, 1) << run.err;
    const std::vector<std::string> got = Lines(run.out);
    const std::vector<std::string> want = Lines(ReadFile(EN_CONFORMANCE_DIR "/expected.jsonl"));
    ASSERT_EQ(want.size(), 503u);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        const json g = json::parse(got[i]), w = json::parse(want[i]);
        EXPECT_EQ(g["code"], w["code"]) << "line " << i + 1;
        EXPECT_EQ(g["message"], w["message"]) << "line " << i + 1;
    }
}

TEST(Cli, JsonLinesFromStandardInput) {
    const std::string event = json::parse(ReadFile(kEvent)).dump();
    for (const char* args : {"--jsonl", "--jsonl -"}) {
        const Outcome run = Tool(args, event + "\n\n{\"kind\": 3}\n" + event + "\n");
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "{\"code\": 0, \"message\": \"\"}\n"
                           "{\"error\": \"line 3: kind: expected \\\"log\\\" or \\\"register\\\"\"}\n"
                           "{\"code\": 0, \"message\": \"\"}\n");
        EXPECT_EQ(run.err, "");  // no progress: standard error is not a terminal
    }
    EXPECT_EQ(Tool("--jsonl --log 1701", event + "\n").status, 1);
    EXPECT_EQ(Tool("--jsonl", "").status, 0);
}

struct UsageCase {
    std::string args;
    int status;
    std::string output;  // expected in standard output or standard error
};

TEST(Cli, UsageErrorsExitWithTwo) {
    const UsageCase cases[] = {
        {"--help", 0, "Usage: en-validate [OPTIONS] [files...]"},
        {"--version", 0, "en-validate 1."},
        {"", 2, "no input: give message files, --jsonl, --describe, --encode or --decode"},
        {"--frobnicate", 2, "--frobnicate"},
        {"--log abc " + kEvent, 2, "abc"},
        {"--log 1501 --register " + kEvent, 2, "excludes"},
        {"--describe 1502", 2, "no grammar \"1502\": give one of 1501, 1503,"},
        {"--describe 1701 " + kEvent, 2, "--describe takes no files"},
        {"--describe 1701 --jsonl", 2, "excludes"},
        {"--encode", 2, "exactly one file"},
        {"--decode a b", 2, "exactly one file"},
        {"--jsonl a b", 2, "one file"},
        {"-o out.blob " + kEvent, 2, "-o is for --encode and --decode"},
        {"--locale no_SUCH.locale " + kEvent, 2, "unknown locale \"no_SUCH.locale\""},
    };
    for (const UsageCase& c : cases) {
        const Outcome run = Tool(c.args);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
        EXPECT_NE((run.out + run.err).find(c.output), std::string::npos) << c.args << "\n" << run.out << run.err;
        if (c.status == 2) {
            EXPECT_EQ(run.out, "") << c.args;
        }
    }
}

TEST(Cli, FilesGetOneLineEachAndTheWorstStatus) {
    Outcome run = Tool(kEvent + " " + kStatus);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kEvent + ": 0 (conforms)\n" + kStatus + ": 0 (conforms)\n");

    run = Tool(kFaulty + " " + kEvent);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kFaulty + ": 101 Missing required node(ID: 11, Name: MsgType) under group 'Root'.\n" + kEvent +
                           ": 0 (conforms)\n");

    const std::string missing = Scratch("missing.json");
    run = Tool(missing + " " + kFaulty);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Lines(run.out).size(), 1u);
    EXPECT_EQ(run.err.rfind("en-validate: " + missing + ": cannot open: No such file or directory", 0), 0u) << run.err;

    // The command line decides kind and type over the file.
    EXPECT_EQ(Tool("--log 1701 " + kEvent).status, 1);
    EXPECT_EQ(Tool("--register " + kEvent).status, 1);
}

TEST(Cli, MalformedFilesSayWhereAndWhy) {
    const struct {
        std::string content;
        std::string error;
    } cases[] = {
        {"{\"kind\": \"log\",\n \"msgtype\": 1501,\n \"entries\": [}\n", "line 3, column 14: syntax error"},
        {"{\"kind\": \"log\", \"msgtype\": 1501, \"entries\": [{\"id\": 11, \"type\": \"UINT32\", \"value\": -1}]}",
         "entries[0].value: value -1 is out of range 0..4294967295"},
        {std::string("\x0b\0\0\0\x07\0\0\0\x04\0\0\0\xdd\x05\0\0", 16), "a blob names no message kind: give --log TYPE or --register"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string file = Scratch("malformed-" + std::to_string(n++));
        WriteFile(file, c.content);
        const Outcome run = Tool(file + " " + kEvent);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err.rfind("en-validate: " + file + ": " + c.error, 0), 0u) << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u);
        EXPECT_EQ(run.out, kEvent + ": 0 (conforms)\n");
    }
}

TEST(Cli, TableAndJsonVerdicts) {
    Outcome run = Tool("--table " + kEvent + " " + kFaulty + " " + Scratch("none.json"));
    EXPECT_EQ(run.status, 2);
    const std::vector<std::string> rows = Lines(run.out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].substr(0, 4), "FILE");
    EXPECT_NE(rows[1].find("  log 1501  0 conforms"), std::string::npos) << rows[1];
    EXPECT_NE(rows[2].find("  log 1501  101 syntax error  Missing required node"), std::string::npos) << rows[2];
    EXPECT_NE(rows[3].find("input error"), std::string::npos) << rows[3];

    run = Tool("--json " + kFaulty + " " + Scratch("none.json"));
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(json::parse(lines[0]), json({{"file", kFaulty}, {"type", "log 1501"}, {"code", 101},
                                           {"message", "Missing required node(ID: 11, Name: MsgType) under group 'Root'."}}));
    EXPECT_NE(json::parse(lines[1])["error"].get<std::string>().find("cannot open"), std::string::npos);
}

TEST(Cli, DescribeAsJson) {
    const Outcome run = Tool("--describe register --json");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(json::parse(run.out)["grammar"], "CRegMessageGrammar");
}

TEST(Cli, DecodeThenEncodeGivesTheSameBytes) {
    const std::string blob = Scratch("event.blob"), decoded = Scratch("event.json"), again = Scratch("again.blob");
    ASSERT_EQ(Tool("--encode " + kStatus + " -o " + blob).status, 0);
    EXPECT_EQ(Tool("--log 1701 " + blob).out, blob + ": 0 (conforms)\n");

    Outcome run = Tool("--decode " + blob);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"kind\": \"log\", \"msgtype\": 1701, \"entries\": [\n  {\"id\":11,\"type\":\"UINT32\",\"value\":1701},\n", 0), 0u)
        << run.out;
    WriteFile(decoded, run.out);
    ASSERT_EQ(Tool("--encode " + decoded + " -o " + again).status, 0);
    EXPECT_EQ(ReadFile(again), ReadFile(blob));
    EXPECT_EQ(Tool("--encode " + decoded).out, ReadFile(blob));  // to standard output
    EXPECT_EQ(json::parse(ReadFile(decoded))["entries"], json::parse(ReadFile(kStatus))["entries"]);

    EXPECT_EQ(Tool("--decode --register " + blob).out.rfind("{\"kind\": \"register\", \"entries\": [", 0), 0u);

    const std::string cut = Scratch("cut.blob");
    WriteFile(cut, ReadFile(blob).substr(0, 30));
    run = Tool("--decode " + cut);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "en-validate: " + cut + ": byte offset 16: entry 1 (id 1001, type 2): value of 156 bytes runs past the end (2 bytes left)\n");
    EXPECT_EQ(run.out, "");

    run = Tool("--decode " + kStatus);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("holds a JSON message, not a blob"), std::string::npos);
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

    // A text cut inside a character is still written as valid JSON.
    for (json& e : message["entries"])
        if (e["id"] == 2001) {
            std::string many;
            for (int i = 0; i < 200; ++i) many += "\xC3\xA4";
            e["value"] = many;
        }
    const Outcome cutText = Tool("--locale C.UTF-8 --jsonl", message.dump() + "\n");
    EXPECT_EQ(cutText.status, 1);
    const json verdict = json::parse(cutText.out);
    EXPECT_EQ(verdict["code"], 102);
    EXPECT_NE(verdict["message"].get<std::string>().find("\xEF\xBF\xBD"), std::string::npos);
}

}  // namespace
