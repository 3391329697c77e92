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

BatchCounts RunJsonl(std::istream& in, const std::function<void(std::string_view)>& out,
                     const msgjson::Overrides& overrides,
                     const std::function<void(const BatchCounts&)>& progress, unsigned jobs) {
    if (jobs == 0) jobs = 1;
    BatchCounts counts;
    std::vector<std::string> lines(kLinesPerJob * jobs);
    std::vector<std::string> outputs(jobs);
    std::vector<BatchCounts> partCounts(jobs);
    std::vector<std::exception_ptr> failures(jobs);
    std::vector<msgjson::Reader> readers(jobs);
    for (bool more = true; more;) {
        size_t n = 0, bytes = 0;
        while (n < lines.size() && bytes < kBytesPerJob * jobs && std::getline(in, lines[n])) bytes += lines[n++].size();
        more = n == lines.size() || bytes >= kBytesPerJob * jobs;
        const size_t first = counts.lines + 1;  // number of lines[0]
        counts.lines += n;
        const unsigned parts = n >= jobs ? jobs : 1;
        auto work = [&](unsigned part) {
            try {
                outputs[part].clear();
                partCounts[part] = {};
                for (size_t i = n * part / parts; i < n * (part + 1) / parts; ++i)
                    ProcessLine(readers[part], lines[i], first + i, overrides, outputs[part], partCounts[part]);
            } catch (...) {
                failures[part] = std::current_exception();
            }
        };
        std::vector<std::thread> threads;
        for (unsigned part = 1; part < parts; ++part) threads.emplace_back(work, part);
        work(0);
        for (std::thread& t : threads) t.join();
        for (unsigned part = 0; part < parts; ++part) {
            if (failures[part]) std::rethrow_exception(failures[part]);
            out(outputs[part]);
            counts.messages += partCounts[part].messages;
            counts.failures += partCounts[part].failures;
            counts.inputErrors += partCounts[part].inputErrors;
        }
        if (progress) progress(counts);
    }
    return counts;
}

}  // namespace tool
