#include "Jsonl.h"

#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "En_Validation.h"
#include "Input.h"
#include "Validation.h"

namespace tool {

namespace {

constexpr size_t kLinesPerJob = 2048;
constexpr size_t kBytesPerJob = 4 << 20;

bool IsBlankLine(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

// Validates one line and appends its output line, if it is not blank.
void ProcessLine(msgjson::Reader& reader, std::string& line, size_t number, const msgjson::Overrides& overrides,
                 std::string& out, BatchCounts& counts) {
    if (IsBlankLine(line)) return;
    try {
        Verdict verdict = Validate(reader.Read(line, overrides, number));
        ++counts.messages;
        if (verdict.code != 0) ++counts.failures;
        out += VerdictJson(verdict);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const InputError& e) {
        ++counts.inputErrors;
        const std::string where = "line " + std::to_string(number);
        const std::string position = where + ", column ";
        const std::string text = e.what();
        // Syntax errors already name line and column.
        out += ErrorJson(text.compare(0, position.size(), position) == 0 ? text : where + ": " + text);
    }
    out += '\n';
}

}  // namespace

namespace {

// One batch of lines: read whole, then validated in parts.
struct Batch {
    std::vector<std::string> lines;
    size_t n = 0;      // lines read into it
    size_t first = 0;  // number of lines[0]
    bool more = false; // the input may hold further lines
};

void ReadBatch(std::istream& in, Batch& batch, size_t first, unsigned jobs) {
    size_t bytes = 0;
    batch.n = 0;
    batch.first = first;
    while (batch.n < batch.lines.size() && bytes < kBytesPerJob * jobs && std::getline(in, batch.lines[batch.n]))
        bytes += batch.lines[batch.n++].size();
    batch.more = batch.n == batch.lines.size() || bytes >= kBytesPerJob * jobs;
}

}  // namespace

BatchCounts RunJsonl(std::istream& in, const std::function<void(std::string_view)>& out,
                     const msgjson::Overrides& overrides,
                     const std::function<void(const BatchCounts&)>& progress, unsigned jobs) {
    if (jobs == 0) jobs = 1;
    BatchCounts counts;
    // While the threads validate one batch, the next one is read.
    Batch batches[2];
    for (Batch& b : batches) b.lines.resize(kLinesPerJob * jobs);
    std::vector<std::string> outputs(jobs);
    std::vector<BatchCounts> partCounts(jobs);
    std::vector<std::exception_ptr> failures(jobs);
    std::vector<msgjson::Reader> readers(jobs);
    ReadBatch(in, batches[0], 1, jobs);
    for (size_t cur = 0;; cur ^= 1) {
        Batch& batch = batches[cur];
        counts.lines += batch.n;
        const unsigned parts = batch.n >= jobs ? jobs : 1;
        auto work = [&](unsigned part) {
            try {
                outputs[part].clear();
                partCounts[part] = {};
                for (size_t i = batch.n * part / parts; i < batch.n * (part + 1) / parts; ++i)
                    ProcessLine(readers[part], batch.lines[i], batch.first + i, overrides, outputs[part],
                                partCounts[part]);
            } catch (...) {
                failures[part] = std::current_exception();
            }
        };
        std::vector<std::thread> threads;
        for (unsigned part = 0; part < parts; ++part) threads.emplace_back(work, part);
        std::exception_ptr readFailure;
        try {
            if (batch.more) ReadBatch(in, batches[cur ^ 1], batch.first + batch.n, jobs);
        } catch (...) {
            readFailure = std::current_exception();
        }
        for (std::thread& t : threads) t.join();
        if (readFailure) std::rethrow_exception(readFailure);
        for (unsigned part = 0; part < parts; ++part) {
            if (failures[part]) std::rethrow_exception(failures[part]);
            out(outputs[part]);
            counts.messages += partCounts[part].messages;
            counts.failures += partCounts[part].failures;
            counts.inputErrors += partCounts[part].inputErrors;
        }
        if (progress) progress(counts);
        if (!batch.more) break;
    }
    return counts;
}

}  // namespace tool
