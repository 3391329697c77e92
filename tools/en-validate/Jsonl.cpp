#include "Jsonl.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "Input.h"
#include "Validation.h"

namespace tool {

void BatchCounts::Add(const BatchCounts& part) {
    messages += part.messages;
    failures += part.failures;
    inputErrors += part.inputErrors;
    for (const auto& [code, n] : part.codes) codes[code] += n;
    for (const auto& [type, byCode] : part.types)
        for (const auto& [code, n] : byCode) types[type][code] += n;
    for (const auto& [place, n] : part.places) {
        const auto it = places.find(place);
        if (it == places.end()) places.emplace(place, n);
        else it->second += n;
    }
}

void BatchCounts::Tally(msgjson::Kind kind, int32_t msgType, int code, std::string_view place) {
    const bool reg = kind == msgjson::Kind::Register;
    ++types[{reg ? 1 : 0, reg ? 0 : msgType}][code];
    if (code != 0) CountPlace(place);
}

void BatchCounts::CountPlace(std::string_view place) {
    const auto it = places.find(place);  // no allocation for a place seen before
    if (it == places.end()) places.emplace(std::string(place), 1);
    else ++it->second;
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kLinesPerJob = 2048;
constexpr size_t kBytesPerJob = 4 << 20;
constexpr size_t kReadSize = 64 << 10;
// A batch is validated in chunks, which the threads take one at a time:
// with more than one thread, at most this many lines and about this many
// bytes each, and at least kLastChunkLines lines (but the batch's last).
constexpr size_t kChunkLines = 256;
constexpr size_t kChunkBytes = 256 << 10;
constexpr size_t kLastChunkLines = 8;
// How long a batch that holds a line waits for more.
constexpr std::chrono::milliseconds kBatchWait(50);
// How often a read during validation looks whether the validation is done.
constexpr std::chrono::milliseconds kSlice(5);

bool IsBlankLine(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

// What one thread keeps from line to line: once its buffers have grown,
// a line allocates nothing.
struct Worker {
    msgjson::Reader reader;
    msgjson::Handle handle;  // the message of the line
    std::string place;       // where its verdict was decided, for the tally
    ViolationList all;       // --all: the library's array, sized once
};

// Validates one line and appends its output line, if it is not blank and
// not a conforming message (without notes) left out by quiet.
void ProcessLine(Worker& worker, std::string& line, size_t number, const JsonlOptions& options, std::string& out,
                 BatchCounts& counts) {
    if (IsBlankLine(line)) return;
    const size_t start = out.size();
    try {
        if (line[0] == '\n')  // what LineReader leaves of a line over the limit
            throw InputError("longer than " + std::to_string(options.maxLine) + " bytes (--max-line)");
        const msgjson::Message message = worker.reader.Read(line, worker.handle, options.overrides, number);
        out += '{';
        out += options.file;
        out += "\"line\": ";
        AppendNumber(out, static_cast<long long>(number));
        out += ", ";
        AppendKindJsonKeys(out, message);
        out += ", ";
        ViolationList* all = options.maxViolations != 0 ? &worker.all : nullptr;
        if (all != nullptr && all->records.size() != options.maxViolations) all->records.resize(options.maxViolations);
        const JsonSource source{&worker.reader, line, number};
        const int code = ValidateJson(worker.handle, message, out, options.tally ? &worker.place : nullptr, all, &source);
        if (!options.overrides.kind) {
            const std::string warning = MsgTypeWarning(message, worker.handle.data(), worker.handle.size());
            if (!warning.empty()) out += ", \"warning\": " + JsonString(warning);
        }
        ++counts.messages;
        ++counts.codes[code];
        if (options.tally) counts.Tally(message.kind, message.msgType, code, worker.place);
        // The first violation's place is the verdict's, counted above.
        for (size_t i = 1; options.tally && all != nullptr && i < all->count; ++i)
            if (!all->records[i].bNote) PlaceOf(worker.place, all->records[i]), counts.CountPlace(worker.place);
        if (code != 0) ++counts.failures;
        if (code == 0 && options.quiet && (all == nullptr || all->count == 0)) {  // notes are shown
            out.resize(start);
            return;
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const InputError& e) {
        out.resize(start);
        ++counts.inputErrors;
        const std::string where = "line " + std::to_string(number);
        const std::string position = where + ", column ";
        const std::string text = e.what();
        // Syntax errors already name line and column.
        out += "{" + options.file + "\"line\": " + std::to_string(number) + ", " +
               ErrorJsonKey(text.compare(0, position.size(), position) == 0 ? text : where + ": " + text);
    }
    out += "}\n";
}

// Lines of a file descriptor, read in large blocks; waits for input only
// as long as the caller allows.  The bytes of a line longer than maxLine
// are dropped as they come; the line is then "\n", which no line holds.
class LineReader {
public:
    enum Result { kLine, kIdle, kEnd };

    LineReader(int fd, size_t maxLine) : m_source(fd), m_maxLine(maxLine), m_buffer(kReadSize) {}

    // The next line, without its '\n'; the last line may lack one.  Waits
    // for input until deadline, when given (kIdle when none has come), else
    // as long as it takes.  kEnd at the end of the input, or when it cannot
    // be read (Error(): "read error: REASON", "gzip data: REASON").
    Result Next(std::string& line, const std::optional<Clock::time_point>& deadline) {
        for (;;) {
            const char* begin = m_buffer.data() + m_begin;
            const size_t n = m_end - m_begin;
            const void* nl = std::memchr(begin, '\n', n);
            const size_t length = nl ? static_cast<size_t>(static_cast<const char*>(nl) - begin) : n;
            if (!m_overlong && length > m_maxLine - m_partial.size()) {
                m_overlong = true;
                std::string().swap(m_partial);
            }
            if (nl) {
                line.swap(m_partial);
                if (m_overlong) line.assign(1, '\n');
                else line.append(begin, length);
                m_partial.clear();
                m_overlong = false;
                m_begin += length + 1;
                return kLine;
            }
            if (!m_overlong) m_partial.append(begin, n);  // a line that goes on in the next block
            m_begin = m_end = 0;
            if (m_eof) {
                if (m_partial.empty() && !m_overlong) return kEnd;
                line.swap(m_partial);
                if (m_overlong) line.assign(1, '\n');
                m_partial.clear();
                m_overlong = false;
                return kLine;
            }
            if (deadline && !m_source.Pending() && !Wait(*deadline)) return kIdle;
            try {
                m_end = m_source.Read(m_buffer.data(), m_buffer.size());
            } catch (const InputError& e) {
                m_error = e.what();
                m_end = 0;
            }
            m_eof = m_end == 0;
        }
    }

    const std::string& Error() const { return m_error; }

private:
    // True when input (or its end) is there before deadline.
    bool Wait(Clock::time_point deadline) const {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{m_source.Fd(), POLLIN, 0};
            const int rc = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
            if (rc >= 0 || errno != EINTR) return rc != 0;  // a failed poll: let read report it
        }
    }

    Source m_source;  // inflated when it is gzip data
    size_t m_maxLine;
    std::vector<char> m_buffer;
    size_t m_begin = 0, m_end = 0;
    std::string m_partial;
    bool m_overlong = false;  // the line being read is over m_maxLine; its bytes are dropped
    bool m_eof = false;
    std::string m_error;
};

// One batch of lines: read whole, then validated chunk by chunk.
struct Batch {
    std::vector<std::string> lines;
    size_t n = 0;       // lines read into it
    size_t first = 0;   // number of lines[0]
    bool more = false;  // the input may hold further lines
};

// Reads lines into batch until it is full, the input ends, or 50 ms have
// passed since its first line.  While a batch is being validated (done
// given), also as soon as done() says it is validated, so that its
// verdicts are written first; waits then in slices of 5 ms.
void ReadBatch(LineReader& reader, Batch& batch, size_t first, unsigned jobs, const std::function<bool()>& done = {}) {
    size_t bytes = 0;
    batch.n = 0;
    batch.first = first;
    batch.more = true;
    std::optional<Clock::time_point> close;  // 50 ms after the first line
    while (batch.n < batch.lines.size() && bytes < kBytesPerJob * jobs) {
        std::optional<Clock::time_point> wait = close;
        if (done) wait = std::min(close.value_or(Clock::time_point::max()), Clock::now() + kSlice);
        const LineReader::Result r = reader.Next(batch.lines[batch.n], wait);
        if (r == LineReader::kIdle) {
            if ((close && Clock::now() >= *close) || (done && done())) return;
            continue;
        }
        if (r == LineReader::kEnd) {
            batch.more = false;
            return;
        }
        // Room for the parser's padding, made here rather than by the
        // thread that validates the line.
        std::string& line = batch.lines[batch.n++];
        if (line.capacity() < line.size() + msgjson::kPadding) line.reserve(line.size() + line.size() / 4 + msgjson::kPadding);
        bytes += line.size();
        if (!close) close = Clock::now() + kBatchWait;
    }
}

// Cuts the lines of batch into chunks: ends[c] is the end of chunk c, the
// start of chunk c + 1.  A chunk holds a quarter of the lines left for each
// of jobs threads, within the bounds above: the chunks get smaller towards
// the end of the batch, so that the threads finish at about the same time,
// and there are few of them, so that handing over their outputs costs
// little.  One thread has nothing to share: its batch is one chunk, whose
// output is handed over once, as the whole batch is validated.
void CutChunks(const Batch& batch, unsigned jobs, std::vector<size_t>& ends) {
    ends.clear();
    if (jobs == 1) {
        if (batch.n != 0) ends.push_back(batch.n);
        return;
    }
    size_t start = 0, bytes = 0;
    size_t most = 0;  // lines of the chunk being cut
    for (size_t i = 0; i < batch.n; ++i) {
        if (i == start) most = std::clamp<size_t>((batch.n - i) / (size_t(4) * jobs), kLastChunkLines, kChunkLines);
        bytes += batch.lines[i].size();
        if (i + 1 - start == most || bytes >= kChunkBytes || i + 1 == batch.n) {
            ends.push_back(i + 1);
            start = i + 1;
            bytes = 0;
        }
    }
}

// What a chunk of a batch gives: its output lines and counts, or why it
// could not be validated; ready once its thread is done with it.
struct Chunk {
    std::string out;
    BatchCounts counts;
    std::exception_ptr failure;
    bool ready = false;  // under the batch's mutex
};

}  // namespace

BatchCounts RunJsonl(int in, const std::function<void(std::string_view)>& out, const JsonlOptions& options) {
    const unsigned jobs = options.jobs == 0 ? 1 : options.jobs;
    BatchCounts counts;
    LineReader reader(in, options.maxLine);
    // While the threads validate one batch, the next one is read.
    Batch batches[2];
    for (Batch& b : batches) b.lines.resize(kLinesPerJob * jobs);
    std::vector<size_t> ends;
    ends.reserve(kLinesPerJob * jobs);
    std::vector<Chunk> chunks;  // grows to the most chunks of a batch
    std::vector<Worker> workers(jobs);
    std::vector<std::thread> threads;
    threads.reserve(jobs);
    std::mutex mutex;
    std::condition_variable validated;  // a chunk is ready
    ReadBatch(reader, batches[0], options.firstLine, jobs);
    for (size_t cur = 0;; cur ^= 1) {
        Batch& batch = batches[cur];
        Batch& next = batches[cur ^ 1];
        counts.lines += batch.n;
        CutChunks(batch, jobs, ends);
        const size_t n = ends.size();
        if (chunks.size() < n) chunks.resize(n);
        for (size_t c = 0; c < n; ++c) {
            chunks[c].failure = nullptr;
            chunks[c].ready = false;
        }
        std::atomic<size_t> taken{0};  // chunks handed to a thread; n or more: take no further
        std::atomic<size_t> finished{0};  // threads that take no further chunk
        size_t awaited = 0;  // the chunk whose output is written next; under mutex
        auto work = [&](Worker& worker) {
            for (size_t c; (c = taken++) < n;) {
                Chunk& chunk = chunks[c];
                try {
                    chunk.out.clear();
                    chunk.counts = {};
                    for (size_t i = c == 0 ? 0 : ends[c - 1]; i < ends[c]; ++i)
                        ProcessLine(worker, batch.lines[i], batch.first + i, options, chunk.out, chunk.counts);
                } catch (...) {
                    chunk.failure = std::current_exception();
                    taken = n;
                }
                bool wake;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    chunk.ready = true;
                    wake = c == awaited;
                }
                if (wake) validated.notify_one();
                if (chunk.failure) break;
            }
            ++finished;
        };
        auto stop = [&] {
            taken = n;
            for (std::thread& t : threads) t.join();
            threads.clear();
        };
        try {
            // jobs threads, fewer for a batch of fewer lines; a thread may find no chunk left.
            for (size_t t = 0; t < std::min<size_t>(jobs, batch.n); ++t)
                threads.emplace_back(work, std::ref(workers[t]));
        } catch (const std::system_error& e) {
            stop();
            throw ThreadError(std::string("cannot start a thread: ") + e.what());
        } catch (...) {
            stop();
            throw;
        }
        std::exception_ptr failure;  // of the first chunk that failed, after the outputs before it
        try {
            if (batch.more)
                ReadBatch(reader, next, batch.first + batch.n, jobs, [&] { return finished == threads.size(); });
            // Then the chunks' outputs in order, each as soon as it is ready.
            for (size_t c = 0; c < n; ++c) {
                Chunk& chunk = chunks[c];
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    awaited = c;
                    validated.wait(lock, [&] { return chunk.ready; });
                }
                if (chunk.failure) {
                    failure = chunk.failure;
                    break;
                }
                out(chunk.out);
                counts.Add(chunk.counts);
            }
        } catch (...) {
            stop();
            throw;
        }
        stop();
        if (failure) std::rethrow_exception(failure);
        if (options.progress) options.progress(counts);
        if (!batch.more) break;
        // Nothing came while the batch was validated: now wait as long as it takes.
        if (next.n == 0 && next.more) ReadBatch(reader, next, next.first, jobs);
    }
    counts.readError = reader.Error();
    return counts;
}

}  // namespace tool
