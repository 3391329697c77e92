// en-validate as its users run it, beyond the transcript
// (transcript_test.sh): every reference message through --jsonl, and the
// man page against --help.
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
// the expected records, in order, with line numbers, kinds and types.
TEST(Cli, EveryReferenceMessageThroughJsonLines) {
    std::string input;
    for (int i = 0; i < 10; ++i) input += ReadFile(EN_CONFORMANCE_DIR "/cases.jsonl");
    const Outcome run = Tool("--jsonl -j 2 -", input);
    EXPECT_EQ(run.status, 1) << run.err;
    const std::vector<std::string> out = Lines(run.out), expected = Lines(ReadFile(EN_CONFORMANCE_DIR "/expected.jsonl"));
    const std::vector<std::string> cases = Lines(input);
    ASSERT_EQ(out.size(), 10 * expected.size());
    size_t wrong = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        json got = json::parse(out[i]), message = json::parse(cases[i]);
        wrong += got["line"] != i + 1;
        // Kind and type as the message gives them.
        wrong += got["kind"] != message["kind"] || got.value("msgtype", 0) != message.value("msgtype", 0);
        wrong += got.contains("json_line") && got["json_line"] != got["line"];  // one message a line
        for (const char* key : {"line", "kind", "msgtype", "entry", "offset", "path", "json_line", "json_column", "warning"})
            got.erase(key);
        if (got != json::parse(expected[i % expected.size()]) && ++wrong < 10) ADD_FAILURE() << "line " << i + 1 << ": " << out[i];
    }
    EXPECT_EQ(wrong, 0u);
}

// The man page documents every option of --help.
TEST(Cli, ManPageHasEveryOption) {
    const std::string help = Tool("--help").out, page = ReadFile(EN_EXAMPLES_DIR "/../docs/en-validate.1");
    size_t options = 0;
    for (size_t at = help.find("\n  -"); at != std::string::npos; at = help.find("\n  -", at + 1), ++options) {
        const size_t from = help.find("--", at), to = help.find_first_of(" \n", from);
        std::string roff;  // every hyphen written \-
        for (size_t i = from; i < to; ++i) roff += help[i] == '-' ? std::string("\\-") : std::string(1, help[i]);
        EXPECT_NE(page.find(roff), std::string::npos) << help.substr(from, to - from);
    }
    EXPECT_EQ(options, 20u);
}

}  // namespace
