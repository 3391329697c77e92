// en-validate: checks messages with libEn_Validation.so.1, converts them
// between the JSON message form and blobs, and describes grammars.
// Exit status: 0 all conform, 1 some message does not, 2 usage, input or
// output error.  Every input error is reported and the run goes on; an
// output error ends it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "Describe.h"
#include "Input.h"
#include "Jsonl.h"
#include "Output.h"
#include "Validation.h"

#ifndef EN_VERSION
#define EN_VERSION "unknown"
#endif

namespace {

constexpr int kConforms = 0;
constexpr int kFails = 1;
constexpr int kInputError = 2;

struct Options {
    std::vector<std::string> files;
    x_int32 logType = 0;
    bool log = false, reg = false;
    bool jsonl = false, encode = false, decode = false;
    std::string describe;
    bool json = false, table = false;
    std::string output;
    std::string locale;
    unsigned jobs = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));

    msgjson::Overrides Overrides() const {
        msgjson::Overrides o;
        if (log) o.kind = msgjson::Kind::Log, o.msgType = logType;
        if (reg) o.kind = msgjson::Kind::Register;
        return o;
    }
};

int UsageError(const std::string& why) {
    std::cerr << "en-validate: " << why << "\nRun with --help for more information.\n";
    return kInputError;
}

int InputError(const std::string& why) {
    std::cerr << "en-validate: " << why << "\n";
    return kInputError;
}

// "FILE: why" for an input error, which names no file.
std::string InFile(const std::string& file, const std::string& what) {
    return (file == "-" ? "standard input" : file) + ": " + what;
}

// One file's outcome in the validation job.
struct FileResult {
    std::string file;
    std::string type;  // "log 1501", "register"; empty after an input error
    std::optional<tool::Verdict> verdict;
    std::string error;
};

FileResult CheckFile(const std::string& file, const msgjson::Overrides& overrides) {
    FileResult r{file, {}, {}, {}};
    try {
        msgjson::Message message = tool::LoadMessage(file, overrides);
        r.type = tool::DescribeKind(message);
        r.verdict = tool::Validate(message);
    } catch (const msgjson::InputError& e) {
        r.error = InFile(file, e.what());
    }
    return r;
}

void PrintTable(const std::vector<FileResult>& results, tool::Output& out) {
    size_t wFile = 4, wType = 4, wVerdict = 7;
    auto verdictOf = [](const FileResult& r) {
        return r.verdict ? std::to_string(r.verdict->code) + " " + tool::CodeName(r.verdict->code)
                         : std::string("input error");
    };
    for (const FileResult& r : results) {
        wFile = std::max(wFile, r.file.size());
        wType = std::max(wType, r.type.size());
        wVerdict = std::max(wVerdict, verdictOf(r).size());
    }
    auto row = [&](const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
        std::string line = a + std::string(wFile - a.size() + 2, ' ') + b + std::string(wType - b.size() + 2, ' ') +
                           c + std::string(wVerdict - c.size() + 2, ' ') + d;
        line.erase(line.find_last_not_of(' ') + 1);
        out.Write(line + '\n');
    };
    row("FILE", "TYPE", "VERDICT", "TEXT");
    for (const FileResult& r : results) {
        row(r.file, r.type, verdictOf(r), r.verdict ? r.verdict->text : r.error);
        if (r.verdict && !r.verdict->blobFault.empty()) row("", "", "", "blob: " + r.verdict->blobFault);
    }
}

int ValidateFiles(const Options& opt, tool::Output& out) {
    std::vector<FileResult> results;
    int status = kConforms;
    for (const std::string& file : opt.files) {
        FileResult r = CheckFile(file, opt.Overrides());
        if (!r.verdict)
            status = kInputError;
        else if (r.verdict->code != 0 && status == kConforms)
            status = kFails;
        if (opt.table) {
            results.push_back(std::move(r));
        } else if (opt.json) {
            std::string line = "{\"file\": " + tool::JsonString(r.file) + ", " +
                               (r.verdict ? "\"type\": " + tool::JsonString(r.type) + ", " + tool::VerdictJson(*r.verdict).substr(1)
                                          : tool::ErrorJson(r.error).substr(1));
            if (r.verdict && !r.verdict->blobFault.empty())
                line.insert(line.size() - 1, ", \"blob_error\": " + tool::JsonString(r.verdict->blobFault));
            out.Write(line + "\n");
        } else if (r.verdict) {
            out.Write(r.file + ": " + std::to_string(r.verdict->code) + " " +
                      (r.verdict->code == 0 ? "(conforms)" : r.verdict->text) + "\n");
            if (!r.verdict->blobFault.empty()) out.Write(r.file + ": blob: " + r.verdict->blobFault + "\n");
        } else {
            out.Flush();
            InputError(r.error);
        }
    }
    if (opt.table) {
        PrintTable(results, out);
        for (const FileResult& r : results)
            if (!r.verdict) InputError(r.error);
    }
    return status;
}

int RunJsonl(const Options& opt, tool::Output& out) {
    const std::string file = opt.files.empty() ? "-" : opt.files.front();
    std::ifstream in;
    if (file != "-") {
        struct stat st {};
        if (stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return InputError(file + ": is a directory");
        in.open(file, std::ios::binary);
        if (!in) return InputError(file + ": cannot open: " + std::strerror(errno));
    }
    const bool showProgress = isatty(STDERR_FILENO) != 0;
    auto last = std::chrono::steady_clock::now();
    bool shown = false;
    auto progress = [&](const tool::BatchCounts& c) {
        auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(250)) return;
        last = now;
        shown = true;
        std::fprintf(stderr, "\ren-validate: %zu lines, %zu messages, %zu not conforming, %zu input errors", c.lines,
                     c.messages, c.failures, c.inputErrors);
    };
    tool::BatchCounts counts = tool::RunJsonl(
        file == "-" ? std::cin : in, [&](std::string_view text) { out.Write(text); }, opt.Overrides(),
        showProgress ? std::function<void(const tool::BatchCounts&)>(progress) : std::function<void(const tool::BatchCounts&)>(),
        opt.jobs);
    if (shown) std::fputs("\r\x1b[K", stderr);
    if (in.bad() || std::cin.bad()) return InputError(InFile(file, "read error"));
    return counts.ExitStatus();
}

int Describe(const Options& opt, tool::Output& out) {
    const grammar::GrammarTable* table = tool::FindGrammar(opt.describe);
    if (table == nullptr)
        return UsageError("no grammar \"" + opt.describe + "\": give one of " + tool::GrammarNames());
    out.Write(opt.json ? tool::DescribeJson(*table).dump(2) + "\n" : tool::DescribeText(*table));
    return kConforms;
}

// The file of --encode (json) or --decode.
tool::InputFile OpenFor(const std::string& file, bool json) {
    tool::InputFile in(file);
    if (in.IsJson() != json) throw msgjson::InputError(json ? "not a JSON message object" : "holds a JSON message, not a blob");
    return in;
}

// Writes through a new output, which an input or output error deletes when
// it is a file: no incomplete -o FILE is left.
template <class Write>
int WriteTo(const std::string& path, const Write& write) {
    tool::Output out(path);
    try {
        write(out);
        out.Close();
    } catch (...) {
        out.Discard();
        throw;
    }
    return kConforms;
}

// Each entry is written as soon as it is read.
int Encode(const Options& opt) {
    tool::InputFile in = OpenFor(opt.files.front(), true);
    if ((opt.output.empty() || opt.output == "-") && isatty(STDOUT_FILENO))
        return UsageError("will not write a blob to a terminal: redirect standard output or give -o FILE");
    return WriteTo(opt.output, [&](tool::Output& out) {
        in.ReadJson(opt.Overrides(), [&](const unsigned char* p, size_t n) {
            out.Write(std::string_view(reinterpret_cast<const char*>(p), n));
        });
    });
}

// The JSON message form of a blob, written as it is decoded
// (msgjson::DecodeMessage).  A broken blob writes nothing.
int Decode(const Options& opt) {
    const std::vector<unsigned char> bytes = OpenFor(opt.files.front(), false).ReadBlob();
    return WriteTo(opt.output, [&](tool::Output& out) {
        msgjson::DecodeMessage(bytes.data(), bytes.size(), opt.Overrides(), [&](std::string_view text) { out.Write(text); });
    });
}

const char* const kFooter = R"(Jobs:
  en-validate --log 1501 msg.json other.blob   validate files; one line per file
  en-validate --jsonl [FILE|-]                 one message object a line; one verdict line each
  en-validate --describe 1701|register [--json]
  en-validate --encode msg.json -o msg.blob    JSON message form to blob
  en-validate --decode msg.blob                blob to JSON message form

A file is a JSON message when its first 64 KiB hold no NUL byte and its first
non-blank character is '{' or '['; otherwise it is a blob, which needs
--log TYPE or --register.

Exit status: 0 all messages conform, 1 some message does not, 2 usage error,
unreadable or malformed input, or output that cannot be written.
See en-validate(1).)";

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    Options opt;
    CLI::App app{"Validates agent messages with libEn_Validation.so.1.", "en-validate"};
    app.footer(kFooter);
    app.set_version_flag("--version", "en-validate " EN_VERSION);
    app.add_option("files", opt.files, "Message files (JSON or blob); - is standard input");
    auto* log = app.add_option("--log", opt.logType, "Validate as log message of this type (overrides \"msgtype\")");
    auto* reg = app.add_flag("--register", opt.reg, "Validate as registration message");
    log->excludes(reg);
    auto* jsonl = app.add_flag("--jsonl", opt.jsonl, "Validate JSON Lines from FILE or standard input");
    auto* describe = app.add_option("--describe", opt.describe, "Describe a grammar: a log type or \"register\"")
                         ->option_text("GRAMMAR");
    auto* encode = app.add_flag("--encode", opt.encode, "Convert a JSON message into a blob");
    auto* decode = app.add_flag("--decode", opt.decode, "Convert a blob into a JSON message");
    auto* json = app.add_flag("--json", opt.json, "JSON output (file verdicts, --describe)");
    auto* table = app.add_flag("--table", opt.table, "Print the file verdicts as a table");
    app.add_option("-o,--output", opt.output, "Where --encode/--decode write (default: standard output)");
    app.add_option("-j,--jobs", opt.jobs, "Threads that validate --jsonl lines (default: one per processor, at most 8)")
        ->check(CLI::Range(1u, 64u));
    app.add_option("--locale", opt.locale, "Set the process locale (LC_CTYPE) first; default \"C\"");
    const std::vector<CLI::Option*> jobs = {jsonl, describe, encode, decode};
    for (size_t i = 0; i < jobs.size(); ++i)
        for (size_t k = i + 1; k < jobs.size(); ++k) jobs[i]->excludes(jobs[k]);
    json->excludes(table);
    for (CLI::Option* job : {jsonl, encode, decode}) {
        job->excludes(json);
        job->excludes(table);
    }
    table->excludes(describe);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help, --version
            app.exit(e);
            std::cout.flush();
            return std::cout ? kConforms : InputError("cannot write standard output");
        }
        return UsageError(e.what());
    }
    opt.log = log->count() > 0;
    if (!opt.locale.empty() && std::setlocale(LC_CTYPE, opt.locale.c_str()) == nullptr)
        return UsageError("unknown locale \"" + opt.locale + "\"");
    if (opt.output.size() && !opt.encode && !opt.decode) return UsageError("-o is for --encode and --decode");

    try {
        if (describe->count()) {
            if (!opt.files.empty()) return UsageError("--describe takes no files");
            tool::Output out;
            const int status = Describe(opt, out);
            out.Close();
            return status;
        }
        if (opt.encode || opt.decode) {
            if (opt.files.size() != 1) return UsageError("--encode and --decode convert exactly one file");
            return opt.encode ? Encode(opt) : Decode(opt);
        }
        if (opt.jsonl && opt.files.size() > 1) return UsageError("--jsonl reads one file (or standard input)");
        if (!opt.jsonl && opt.files.empty())
            return UsageError("no input: give message files, --jsonl, --describe, --encode or --decode");
        tool::Output out;
        const int status = opt.jsonl ? RunJsonl(opt, out) : ValidateFiles(opt, out);
        out.Close();
        return status;
    } catch (const msgjson::InputError& e) {  // of --encode or --decode
        return InputError(InFile(opt.files.front(), e.what()));
    } catch (const tool::OutputError& e) {
        return e.closedPipe ? kInputError : InputError(e.what());
    } catch (const std::bad_alloc&) {
        return InputError("out of memory");
    } catch (const std::exception& e) {  // a fault of the tool itself
        return InputError(std::string("internal error: ") + e.what());
    }
}
