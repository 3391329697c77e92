#include "Jsonl.h"

#include <string>

#include "Input.h"
#include "Validation.h"

namespace tool {

namespace {

constexpr size_t kFlushBytes = 1 << 16;
constexpr size_t kProgressLines = 4096;

bool IsBlankLine(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

}  // namespace

BatchCounts RunJsonl(std::istream& in, std::ostream& out, const msgjson::Overrides& overrides,
                     const std::function<void(const BatchCounts&)>& progress) {
    BatchCounts counts;
    std::string line, buffer;
    buffer.reserve(kFlushBytes + 4096);
    while (std::getline(in, line)) {
        ++counts.lines;
        if (progress && counts.lines % kProgressLines == 0) progress(counts);
        if (IsBlankLine(line)) continue;
        try {
            Verdict verdict = Validate(msgjson::FromJson(ParseJson(line, counts.lines), overrides));
            ++counts.messages;
            if (verdict.code != 0) ++counts.failures;
            buffer += VerdictJson(verdict);
        } catch (const InputError& e) {
            ++counts.inputErrors;
            const std::string where = "line " + std::to_string(counts.lines);
            const std::string position = where + ", column ";
            const std::string text = e.what();
            // Syntax errors already name line and column.
            buffer += ErrorJson(text.compare(0, position.size(), position) == 0 ? text : where + ": " + text);
        }
        buffer += '\n';
        if (buffer.size() >= kFlushBytes) {
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            buffer.clear();
        }
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    out.flush();
    if (progress) progress(counts);
    return counts;
}

}  // namespace tool
