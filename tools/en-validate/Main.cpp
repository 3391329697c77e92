// en-validate: checks messages with libEn_Validation.so.1, converts them
// between the JSON message form and blobs, and describes grammars.
// Exit status: 0 all conform, 1 some message does not, 2 usage, input or
// output error.  Every input error is reported and the run goes on; an
// output error ends it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
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
    bool quiet = false, summary = false;
    bool all = false;
    size_t maxViolations = EN_VALIDATE_DEFAULT_MAX_VIOLATIONS;
    std::string color = "auto";
    std::string output;
    std::string locale;
    size_t maxLine = size_t(256) << 20;
    unsigned jobs = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    size_t firstLine = 1;

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
    std::string warning, note;  // "msgtype" and MsgType entry disagree; a blob's kind was guessed
    msgjson::Kind kind = msgjson::Kind::Log;
    int32_t msgType = 0;
    std::string place;  // of the verdict, for the tally
};

// Whether the kind of a blob read with overrides was guessed: neither --log
// nor --register, and no MsgType entry, so taken for a registration message.
bool GuessedKind(const msgjson::Overrides& overrides, const msgjson::Message& message, const msgjson::Handle& blob) {
    return !overrides.kind && message.kind == msgjson::Kind::Register && !msgjson::MsgTypeEntry(blob.data(), blob.size());
}

// "en-validate: FILE: note: TEXT" (or warning) on standard error.
void NoticeLine(const std::string& file, const char* what, const std::string& text) {
    std::cerr << "en-validate: " << file << ": " << what << ": " << text << "\n";
}

FileResult CheckFile(const std::string& file, const msgjson::Overrides& overrides, size_t maxViolations) {
    FileResult r{file, {}, {}, {}, {}, {}, {}, 0, {}};
    try {
        tool::InputFile in(file);
        const bool json = in.IsJson();
        msgjson::Reader reader;
        std::string text;
        msgjson::Handle handle;  // the message's entries
        const msgjson::Message message =
            json ? in.ReadJson(reader, handle, overrides, &text) : in.ReadBlob(handle, overrides);
        const tool::JsonSource source{&reader, text, 1};  // of a JSON message, for the line of a place
        r.type = tool::DescribeKind(message);
        r.verdict = tool::Validate(handle, message, maxViolations, json ? &source : nullptr,
                                   file == "-" ? "standard input" : file);
        if (json && !overrides.kind) r.warning = tool::MsgTypeWarning(message, handle.data(), handle.size());
        if (!json && GuessedKind(overrides, message, handle)) r.note = tool::GuessedKindNote("validated");
        r.kind = message.kind;
        r.msgType = message.msgType;
        tool::PlaceOf(r.place, r.verdict->location ? &*r.verdict->location : nullptr);
    } catch (const msgjson::InputError& e) {
        r.error = InFile(file, e.what());
    }
    return r;
}

// The files checked by up to jobs threads, each result handed to use in
// argument order as soon as it and those before it are there.
class FileChecks {
public:
    FileChecks(const Options& opt, unsigned jobs) : m_opt(opt), m_overrides(opt.Overrides()) {
        const size_t threads = std::min<size_t>(jobs, opt.files.size());
        // Standard input named twice is read once to its end, then empty, as in one thread.
        if (threads < 2 || std::count(opt.files.begin(), opt.files.end(), "-") > 1) return;
        m_results.resize(opt.files.size());
        try {
            for (size_t t = 0; t < threads; ++t) m_threads.emplace_back([this] { Work(); });
        } catch (const std::system_error& e) {
            Stop();
            throw tool::ThreadError(std::string("cannot start a thread: ") + e.what());
        }
    }
    ~FileChecks() { Stop(); }
    FileChecks(const FileChecks&) = delete;
    FileChecks& operator=(const FileChecks&) = delete;

    FileResult Get(size_t i) {
        if (m_threads.empty()) return CheckFile(m_opt.files[i], m_overrides, MaxViolations());
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [&] { return m_results[i].done; });
        if (m_results[i].fault) std::rethrow_exception(m_results[i].fault);
        return std::move(m_results[i].result);
    }

private:
    struct Slot {
        bool done = false;
        FileResult result;
        std::exception_ptr fault;  // out of memory, a fault of the tool
    };

    void Work() {
        for (size_t i; !m_stop && (i = m_next++) < m_results.size();) {
            Slot slot;
            try {
                slot.result = CheckFile(m_opt.files[i], m_overrides, MaxViolations());
            } catch (...) {
                slot.fault = std::current_exception();
            }
            slot.done = true;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_results[i] = std::move(slot);
            m_ready.notify_all();
        }
    }

    size_t MaxViolations() const { return m_opt.all ? m_opt.maxViolations : 0; }

    void Stop() {
        m_stop = true;
        for (std::thread& t : m_threads) t.join();
        m_threads.clear();
    }

    const Options& m_opt;
    const msgjson::Overrides m_overrides;
    std::vector<Slot> m_results;
    std::atomic<size_t> m_next{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::vector<std::thread> m_threads;
};

// Entries of a count, most frequent first (then in key order).
template <class Map>
std::vector<std::pair<typename Map::key_type, size_t>> ByCount(const Map& counts) {
    std::vector<std::pair<typename Map::key_type, size_t>> v(counts.begin(), counts.end());
    std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return v;
}

std::string TypeName(const std::pair<int, int32_t>& type) {
    return type.first ? "register" : "log " + std::to_string(type.second);
}

// The codes of each type, most frequent type first.
std::vector<std::pair<std::string, std::vector<std::pair<int, size_t>>>> TypesByCount(const tool::JsonlCounts& c) {
    std::map<std::pair<int, int32_t>, size_t> totals;
    for (const auto& [type, codes] : c.types)
        for (const auto& code : codes) totals[type] += code.second;
    std::vector<std::pair<std::string, std::vector<std::pair<int, size_t>>>> v;
    for (const auto& [type, n] : ByCount(totals)) v.emplace_back(TypeName(type), ByCount(c.types.at(type)));
    return v;
}

// --summary: as text on standard error, the messages and input errors, one
// line per code, per message type and per failing place; as JSON one line
// {"summary": ...} on standard output.
void PrintSummary(const tool::JsonlCounts& c) {
    std::fprintf(stderr, "en-validate: %zu messages, %zu input errors\n", c.messages, c.inputErrors);
    for (const auto& [code, n] : c.codes) std::fprintf(stderr, "  %d %s: %zu\n", code, tool::CodeName(code), n);
    for (const auto& [type, codes] : TypesByCount(c)) {
        std::string line;
        size_t total = 0;
        for (const auto& [code, n] : codes)
            total += n, line += (line.empty() ? "" : ", ") + std::to_string(code) + ": " + std::to_string(n);
        std::fprintf(stderr, "  %s: %zu (by code %s)\n", type.c_str(), total, line.c_str());
    }
    for (const auto& [place, n] : ByCount(c.places))
        std::fprintf(stderr, "  failing at %s: %zu\n", place.c_str(), n);
}

std::string SummaryJson(const tool::JsonlCounts& c) {
    std::string s = "{\"summary\": {\"messages\": " + std::to_string(c.messages) +
                    ", \"failing\": " + std::to_string(c.failures) +
                    ", \"input_errors\": " + std::to_string(c.inputErrors) + ", \"by_code\": {";
    auto codes = [](const std::vector<std::pair<int, size_t>>& v) {
        std::string t;
        for (const auto& [code, n] : v)
            t += (t.empty() ? "\"" : ", \"") + std::to_string(code) + "\": " + std::to_string(n);
        return t;
    };
    s += codes(ByCount(c.codes)) + "}, \"by_type\": {";
    bool first = true;
    for (const auto& [type, v] : TypesByCount(c))
        s += (std::exchange(first, false) ? "" : ", ") + tool::JsonString(type) + ": {" + codes(v) + "}";
    s += "}, \"by_place\": {";
    first = true;
    for (const auto& [place, n] : ByCount(c.places))
        s += (std::exchange(first, false) ? "" : ", ") + tool::JsonString(place) + ": " + std::to_string(n);
    return s + "}}}\n";
}

// Escape sequences of plain output on a terminal: the code (green when it
// conforms, else bold red) and the path.
struct Colors {
    const char *pass = "", *fail = "", *path = "", *off = "";
    explicit Colors(bool on) {
        if (on) pass = "\x1b[32m", fail = "\x1b[1;31m", path = "\x1b[36m", off = "\x1b[0m";
    }
};

void PrintTable(const std::vector<FileResult>& results, tool::Output& out) {
    auto verdictOf = [](const FileResult& r) {
        return r.verdict ? std::to_string(r.verdict->code) + " " + tool::CodeName(r.verdict->code)
                         : std::string("input error");
    };
    auto locationOf = [](const FileResult& r) {
        return r.verdict && r.verdict->location ? tool::LocationText(*r.verdict->location, false) : std::string();
    };
    size_t w[4] = {4, 4, 7, 8};
    for (const FileResult& r : results) {
        const std::string cells[] = {r.file, r.type, verdictOf(r), locationOf(r)};
        for (size_t i = 0; i < 4; ++i) w[i] = std::max(w[i], cells[i].size());
    }
    auto row = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (size_t i = 0; i < 4; ++i) line += cells[i] + std::string(w[i] - cells[i].size() + 2, ' ');
        line += cells[4];
        line.erase(line.find_last_not_of(' ') + 1);
        out.Write(line + '\n');
    };
    // With --all, a row for each further violation, under the verdict's.
    auto further = [](const FileResult& r) {
        std::vector<std::vector<std::string>> rows;
        if (!r.verdict) return rows;
        const auto& list = r.verdict->violations;
        for (size_t i = r.verdict->code != 0 ? 1 : 0; i < list.size(); ++i)
            rows.push_back({"", "", list[i].note ? std::string("note") : std::to_string(list[i].code) + " " + tool::CodeName(list[i].code),
                            list[i].location ? tool::LocationText(*list[i].location, false) : std::string(), list[i].text});
        return rows;
    };
    for (const FileResult& r : results)
        for (const auto& cells : further(r))
            for (size_t i = 0; i < 4; ++i) w[i] = std::max(w[i], cells[i].size());
    row({"FILE", "TYPE", "VERDICT", "LOCATION", "TEXT"});
    for (const FileResult& r : results) {
        row({r.file, r.type, verdictOf(r), locationOf(r), r.verdict ? r.verdict->text : r.error});
        for (const auto& cells : further(r)) row(cells);
        if (r.verdict && !r.verdict->blobFault.empty()) row({"", "", "", "", "blob: " + r.verdict->blobFault});
    }
}

bool UseColor(const std::string& color) {
    if (color != "auto") return color == "always";
    const char* noColor = std::getenv("NO_COLOR");
    return isatty(STDOUT_FILENO) && (noColor == nullptr || *noColor == 0);
}

// A warning or note of a file, on standard error.
void Notice(tool::Output& out, const FileResult& r) {
    if (r.warning.empty() && r.note.empty()) return;
    out.Flush();
    if (!r.warning.empty()) NoticeLine(r.file, "warning", r.warning);
    if (!r.note.empty()) NoticeLine(r.file, "note", r.note);
    std::cerr.flush();
}

int ValidateFiles(const Options& opt, tool::Output& out, tool::JsonlCounts& summary) {
    std::vector<FileResult> results;
    int status = kConforms;
    const Colors color(!opt.json && !opt.table && UseColor(opt.color));
    FileChecks checks(opt, opt.jobs);
    for (size_t i = 0; i < opt.files.size(); ++i) {
        FileResult r = checks.Get(i);
        if (!r.verdict) {
            status = kInputError;
            ++summary.inputErrors;
        } else {
            ++summary.messages;
            ++summary.codes[r.verdict->code];
            summary.Tally(r.kind, r.msgType, r.verdict->code, r.place);
            const auto& list = r.verdict->violations;  // --all: every further place too
            for (size_t k = 1; k < list.size(); ++k)
                if (!list[k].note) tool::PlaceOf(r.place, list[k].location ? &*list[k].location : nullptr), summary.CountPlace(r.place);
            if (r.verdict->code != 0) ++summary.failures, status = std::max(status, kFails);
        }
        if (!opt.json) Notice(out, r);
        // A conforming message with notes (--all) is printed: the notes are what was asked for.
        if (r.verdict && r.verdict->code == 0 && r.verdict->violations.empty() && opt.quiet) continue;
        if (opt.table) {
            results.push_back(std::move(r));
        } else if (opt.json) {
            std::string line = "{\"file\": " + tool::JsonString(r.file) + ", " +
                               (r.verdict ? "\"type\": " + tool::JsonString(r.type) + ", " + tool::VerdictJsonKeys(*r.verdict)
                                          : tool::ErrorJsonKey(r.error));
            if (r.verdict && !r.verdict->blobFault.empty())
                line += ", \"blob_error\": " + tool::JsonString(r.verdict->blobFault);
            if (!r.warning.empty()) line += ", \"warning\": " + tool::JsonString(r.warning);
            if (!r.note.empty()) line += ", \"note\": " + tool::JsonString(r.note);
            out.Write(line + "}\n");
        } else if (r.verdict) {
            const tool::Verdict& v = *r.verdict;
            out.Write(r.file + ": " + (v.code == 0 ? color.pass : color.fail) + std::to_string(v.code) + color.off + " " +
                      (v.code == 0 ? "(conforms)" : v.text) + "\n");
            auto at = [&](const tool::Location& location, const char* indent) {
                const std::string where = tool::LocationText(location);
                const size_t path = where.size() - location.path.size();
                out.Write(indent + ("at " + where.substr(0, path)) + color.path + location.path + color.off + "\n");
            };
            if (v.location) at(*v.location, "  ");
            // --all: the further violations, numbered from the verdict's 1, then the notes.
            for (size_t k = v.code != 0 ? 1 : 0; k < v.violations.size(); ++k) {
                const tool::Violation& x = v.violations[k];
                out.Write(x.note ? "  note: " + x.text + "\n"
                                 : "  [" + std::to_string(k + 1) + "] " + color.fail + std::to_string(x.code) + color.off +
                                       " " + x.text + "\n");
                if (x.location) at(*x.location, "      ");
            }
            if (v.cut) out.Write("  (at most " + std::to_string(opt.maxViolations) + " listed: --max-violations)\n");
            if (!v.blobFault.empty()) out.Write(r.file + ": blob: " + v.blobFault + "\n");
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

// One input of --jsonl.  With several inputs each output line starts with
// "file": NAME, and an input that cannot be read gives an error line too.
int RunJsonlFile(const Options& opt, const std::string& file, bool named, tool::Output& out,
                 tool::JsonlCounts& summary) {
    auto fail = [&](const std::string& why) {
        if (named) out.Write("{\"file\": " + tool::JsonString(file) + ", " + tool::ErrorJsonKey(why) + "}\n");
        out.Flush();
        return InputError(why);
    };
    int in = STDIN_FILENO;
    if (file != "-") {
        struct stat st {};
        if (stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return fail(file + ": is a directory");
        in = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return fail(file + ": cannot open: " + std::strerror(errno));
    }
    const bool showProgress = isatty(STDERR_FILENO) != 0;
    auto last = std::chrono::steady_clock::now();
    bool shown = false;
    auto progress = [&](const tool::JsonlCounts& c) {
        auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(250)) return;
        last = now;
        shown = true;
        std::fprintf(stderr, "\ren-validate: %zu lines, %zu messages, %zu not conforming, %zu input errors", c.lines,
                     c.messages, c.failures, c.inputErrors);
    };
    tool::JsonlOptions options;
    options.overrides = opt.Overrides();
    options.jobs = opt.jobs;
    options.quiet = opt.quiet;
    options.firstLine = opt.firstLine;
    options.maxLine = opt.maxLine;
    options.tally = opt.summary;
    if (opt.all) options.maxViolations = opt.maxViolations;
    if (named) options.file = "\"file\": " + tool::JsonString(file) + ", ";
    if (showProgress) options.progress = progress;
    // Each chunk's verdicts are written at once, for whoever waits for them.
    const tool::JsonlCounts counts = tool::RunJsonl(in, [&](std::string_view text) {
        out.Write(text);
        out.Flush();
    }, options);
    if (in != STDIN_FILENO) close(in);
    if (shown) std::fputs("\r\x1b[K", stderr);
    summary.Add(counts);
    if (!counts.readError.empty()) fail(InFile(file, counts.readError));
    return counts.ExitStatus();
}

int RunJsonl(const Options& opt, tool::Output& out, tool::JsonlCounts& summary) {
    if (opt.files.empty()) return RunJsonlFile(opt, "-", false, out, summary);
    int status = kConforms;
    for (const std::string& file : opt.files)
        status = std::max(status, RunJsonlFile(opt, file, opt.files.size() > 1, out, summary));
    return status;
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

// Writes through a new output, which replaces -o FILE only when complete:
// after an input or output error FILE is as it was.
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
        msgjson::Reader reader;
        in.ReadJson(reader, [&](const unsigned char* p, size_t n) {
            out.Write(std::string_view(reinterpret_cast<const char*>(p), n));
        }, opt.Overrides());
    });
}

// The JSON message form of a blob, of the kind validation takes it for,
// written as it is decoded (msgjson::DecodeBlob), with a note when that
// kind was guessed.  A broken blob writes nothing.
int Decode(const Options& opt) {
    msgjson::Handle blob;
    const msgjson::Overrides overrides = opt.Overrides();
    const msgjson::Message message = OpenFor(opt.files.front(), false).ReadBlob(blob, overrides);
    const int status = WriteTo(opt.output, [&](tool::Output& out) {
        msgjson::DecodeBlob(blob.data(), blob.size(), message.kind, message.msgType,
                            [&](std::string_view text) { out.Write(text); });
    });
    if (GuessedKind(overrides, message, blob)) NoticeLine(opt.files.front(), "note", tool::GuessedKindNote("decoded"));
    return status;
}

const char* const kFooter = R"(Jobs:
  en-validate --log 1501 msg.json other.blob   validate files; one line per file, and
                                               where the walk stopped when one fails
  en-validate --all msg.json                   every violation of a message, each with its place
  en-validate --jsonl [FILE|-]...              one message object a line; one verdict line each
  en-validate --describe 1701|register [--json]
  en-validate --encode msg.json -o msg.blob    JSON message form to blob
  en-validate --decode msg.blob                blob to JSON message form

A file is a JSON message when its first 64 KiB hold no NUL byte and its first
non-blank character is '{' or '['; otherwise it is a blob: a log of the type
of its MsgType entry (ID 11) when it has one, else a registration message,
unless --log TYPE or --register say otherwise.  Input that is gzip data is
read inflated.

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
    auto* jsonl = app.add_flag("--jsonl", opt.jsonl, "Validate JSON Lines from the files (- or none: standard input)");
    auto* describe = app.add_option("--describe", opt.describe, "Describe a grammar: a log type or \"register\"")
                         ->option_text("GRAMMAR");
    auto* encode = app.add_flag("--encode", opt.encode, "Convert a JSON message into a blob");
    auto* decode = app.add_flag("--decode", opt.decode, "Convert a blob into a JSON message");
    auto* json = app.add_flag("--json", opt.json, "JSON output (file verdicts, --describe)");
    auto* table = app.add_flag("--table", opt.table, "Print the file verdicts as a table");
    app.add_option("-o,--output", opt.output, "Where --encode/--decode write (default: standard output)");
    app.add_option("-j,--jobs", opt.jobs, "Threads that validate --jsonl lines or files (default: one per processor, at most 8)")
        ->check(CLI::Range(1u, 64u));
    auto* firstLine = app.add_option("--first-line", opt.firstLine, "Number of the first --jsonl line (default 1), for a part of a file")
        ->check(CLI::Validator([](const std::string& n) {
            // Digits only, at least 1, far from where the numbering would wrap.
            errno = 0;
            const unsigned long long v = std::strtoull(n.c_str(), nullptr, 10);
            const bool ok = !n.empty() && n.find_first_not_of("0123456789") == std::string::npos && v >= 1 &&
                            errno == 0 && v <= std::numeric_limits<size_t>::max() / 2;
            return ok ? std::string() : "not a line number: " + n;
        }, ""))
        ->needs(jsonl)
        ->option_text("N");
    auto* maxLine = app.add_option("--max-line", opt.maxLine, "Longest --jsonl line in bytes; a longer one is an input error (default: 256 MiB)")
        ->check(CLI::PositiveNumber)
        ->option_text("BYTES");
    app.add_option("--locale", opt.locale, "Set the process locale (LC_CTYPE) first; default \"C\"");
    auto* quiet = app.add_flag("-q,--quiet", opt.quiet, "Print only what does not conform: failed verdicts and errors");
    auto* all = app.add_flag("-a,--all", opt.all, "List every violation of each message, each with its place, not only the first");
    app.add_option("--max-violations", opt.maxViolations, "Most violations --all lists per message (default 100)")
        ->check(CLI::Range(size_t(1), size_t(1) << 20))
        ->needs(all)
        ->option_text("N");
    auto* summary = app.add_flag("--summary", opt.summary, "End with the verdicts counted by code, type and place (JSON output: one more line)");
    app.add_option("--color", opt.color, "Highlight code and path of plain output: auto (when standard output is a "
                                         "terminal and NO_COLOR is unset), always, never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->option_text("WHEN");
    const std::vector<CLI::Option*> kinds = {jsonl, describe, encode, decode};
    for (size_t i = 0; i < kinds.size(); ++i)
        for (size_t k = i + 1; k < kinds.size(); ++k) kinds[i]->excludes(kinds[k]);
    json->excludes(table);
    for (CLI::Option* job : {jsonl, encode, decode}) {
        job->excludes(json);
        job->excludes(table);
    }
    table->excludes(describe);
    for (CLI::Option* job : {describe, encode, decode}) {
        job->excludes(quiet);
        job->excludes(summary);
        job->excludes(all);
    }

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
    if (maxLine->count() && !opt.jsonl) return UsageError("--max-line is for --jsonl");

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
        if (opt.jsonl && opt.files.size() > 1 && firstLine->count())
            return UsageError("--first-line numbers the lines of one input");
        if (!opt.jsonl && opt.files.empty())
            return UsageError("no input: give message files, --jsonl, --describe, --encode or --decode");
        tool::Output out;
        tool::JsonlCounts counts;
        const int status = opt.jsonl ? RunJsonl(opt, out, counts) : ValidateFiles(opt, out, counts);
        if (opt.summary && (opt.json || opt.jsonl)) out.Write(SummaryJson(counts));
        out.Close();
        if (opt.summary && !opt.json && !opt.jsonl) PrintSummary(counts);
        return status;
    } catch (const msgjson::InputError& e) {  // of --encode or --decode
        return InputError(InFile(opt.files.front(), e.what()));
    } catch (const tool::ThreadError& e) {
        return InputError(e.what());
    } catch (const tool::OutputError& e) {
        return e.closedPipe ? kInputError : InputError(e.what());
    } catch (const std::bad_alloc&) {
        return InputError("out of memory");
    } catch (const std::exception& e) {  // a fault of the tool itself
        return InputError(std::string("internal error: ") + e.what());
    }
}
