#include "Jsonl.h"

#include <poll.h>
#include <unistd.h>

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

void JsonlCounts::Add(const JsonlCounts& part) {
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

void JsonlCounts::Tally(msgjson::Kind kind, int32_t msgType, int code, std::string_view place) {
    const bool reg = kind == msgjson::Kind::Register;
    ++types[{reg ? 1 : 0, reg ? 0 : msgType}][code];
    if (code != 0) CountPlace(place);
}

void JsonlCounts::CountPlace(std::string_view place) {
    const auto it = places.find(place);  // no allocation for a place seen before
    if (it == places.end()) places.emplace(std::string(place), 1);
    else ++it->second;
}

namespace {

using Clock = std::chrono::steady_clock;

// Lines are validated in chunks of at most kChunkLines lines, closed once
// they hold kChunkBytes or more, or once no further line has come for
// kSlice while no chunk waits for a thread (so that a slow producer sees
// every verdict soon after its line).
constexpr size_t kChunkLines = 512;
constexpr size_t kChunkBytes = 512 << 10;
// Chunks read and not yet written: at most kChunksPerJob for each thread,
// and no further one is begun while they hold kBytesPerJob of lines for each.
constexpr size_t kChunksPerJob = 4;
constexpr size_t kBytesPerJob = 4 << 20;
constexpr size_t kReadSize = 64 << 10;
// How long the reading waits for input at a time: before it looks whether
// to hand over the lines it has, and while chunks are being validated,
// before it writes those that are done.
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
                 JsonlCounts& counts) {
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

    // The next line, without its '\n'; the last line may lack one.  When no
    // input is at hand, waits for it as long as wait says, when given (kIdle
    // when none has come), else as long as it takes.  kEnd at the end of the
    // input, or when it cannot be read (Error(): "read error: REASON", "gzip
    // data: REASON").
    Result Next(std::string& line, std::optional<std::chrono::milliseconds> wait) {
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
                // A line within the block keeps the buffer that line had,
                // grown for lines before: most lines allocate nothing.
                if (m_overlong) line.assign(1, '\n');
                else if (m_partial.empty()) line.assign(begin, length);
                else line.swap(m_partial), line.append(begin, length);
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
            if (wait && !m_source.Pending() && !Wait(Clock::now() + *wait)) return kIdle;
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

// Consecutive lines of the input: read by the reading thread, validated by
// one thread, written by the reading thread in input order.  Chunks are
// used again, so that once their buffers have grown a line allocates
// nothing.
struct Chunk {
    std::vector<std::string> lines = std::vector<std::string>(kChunkLines);  // [0, n) are the chunk's
    size_t n = 0;
    size_t first = 0;  // number of lines[0]
    size_t bytes = 0;  // of its lines
    std::string out;   // its output lines
    JsonlCounts counts;
    std::exception_ptr failure;  // why it could not be validated
    bool ready = false;  // validated; under the mutex
};

}  // namespace

JsonlCounts RunJsonl(int in, const std::function<void(std::string_view)>& out, const JsonlOptions& options) {
    const unsigned jobs = options.jobs == 0 ? 1 : options.jobs;
    const size_t most = kChunksPerJob * jobs;  // chunks read and not yet written
    const size_t mostBytes = kBytesPerJob * jobs;
    JsonlCounts counts;
    LineReader reader(in, options.maxLine);
    std::vector<Chunk> ring(most);  // chunk c is ring[c % most]
    std::vector<Worker> workers(jobs);
    std::mutex mutex;
    std::condition_variable work;       // a chunk to take, or the end
    std::condition_variable validated;  // the chunk written next is ready
    // Chunks counted from the first: read (handed over), taken by a thread
    // and written.  Under the mutex; read and written change only in this
    // thread, which reads them without it.
    size_t read = 0, taken = 0, written = 0;
    bool stop = false;     // under the mutex
    size_t inFlight = 0;   // bytes of the chunks read and not yet written

    auto validate = [&](Worker& worker) {
        for (;;) {
            size_t c;
            {
                std::unique_lock<std::mutex> lock(mutex);
                work.wait(lock, [&] { return stop || taken < read; });
                if (stop) return;
                c = taken++;
            }
            Chunk& chunk = ring[c % most];
            try {
                chunk.out.clear();
                chunk.counts = {};
                for (size_t i = 0; i < chunk.n; ++i)
                    ProcessLine(worker, chunk.lines[i], chunk.first + i, options, chunk.out, chunk.counts);
            } catch (...) {
                chunk.failure = std::current_exception();
            }
            bool wake;
            {
                std::lock_guard<std::mutex> lock(mutex);
                chunk.ready = true;
                wake = c == written;
            }
            if (wake) validated.notify_one();
        }
    };
    std::vector<std::thread> threads;
    auto finish = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        work.notify_all();
        for (std::thread& t : threads) t.join();
        threads.clear();
    };
    // Writes the chunks that are validated, in order; with wait, waits for
    // the oldest first.  Rethrows the exception of a chunk that failed,
    // once the chunks before it are written.
    auto writeReady = [&](bool wait) {
        for (; written < read; wait = false) {
            Chunk& chunk = ring[written % most];
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (wait) validated.wait(lock, [&] { return chunk.ready; });
                if (!chunk.ready) return;
            }
            if (chunk.failure) std::rethrow_exception(chunk.failure);
            out(chunk.out);
            counts.Add(chunk.counts);
            counts.lines += chunk.n;
            inFlight -= chunk.bytes;
            // A line far longer than most keeps no buffer of its size.
            for (size_t i = 0; i < chunk.n; ++i)
                if (chunk.lines[i].capacity() > kChunkBytes) std::string().swap(chunk.lines[i]);
            {
                std::lock_guard<std::mutex> lock(mutex);
                chunk.ready = false;
                ++written;
            }
            if (options.progress) options.progress(counts);
        }
    };
    // Whether every chunk read has been taken by a thread.
    auto allTaken = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return taken == read;
    };
    try {
        try {
            for (unsigned t = 0; t < jobs; ++t) threads.emplace_back(validate, std::ref(workers[t]));
        } catch (const std::system_error& e) {
            throw ThreadError(std::string("cannot start a thread: ") + e.what());
        }
        size_t next = options.firstLine;  // number of the next line
        for (bool end = false; !end;) {
            while (read - written == most || (read != written && inFlight >= mostBytes)) writeReady(true);
            Chunk& chunk = ring[read % most];
            chunk.n = chunk.bytes = 0;
            chunk.first = next;
            chunk.failure = nullptr;
            while (chunk.n < kChunkLines && chunk.bytes < kChunkBytes) {
                // Waits for input as long as it takes only when nothing is
                // being validated; else in slices, writing what is done.
                std::optional<std::chrono::milliseconds> wait;
                if (chunk.n != 0 || read != written) wait = kSlice;
                const LineReader::Result r = reader.Next(chunk.lines[chunk.n], wait);
                if (r == LineReader::kEnd) {
                    end = true;
                    break;
                }
                if (r == LineReader::kIdle) {
                    writeReady(false);
                    if (chunk.n != 0 && allTaken()) break;  // no chunk waits for a thread: hand these over
                    continue;
                }
                // Room for the parser's padding, made here rather than by the
                // thread that validates the line.
                std::string& line = chunk.lines[chunk.n++];
                if (line.capacity() < line.size() + msgjson::kPadding)
                    line.reserve(line.size() + line.size() / 4 + msgjson::kPadding);
                chunk.bytes += line.size();
            }
            if (chunk.n != 0) {
                next += chunk.n;
                inFlight += chunk.bytes;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    ++read;
                }
                work.notify_one();
            }
            writeReady(false);
        }
        while (written < read) writeReady(true);
    } catch (...) {
        finish();
        throw;
    }
    finish();
    counts.readError = reader.Error();
    return counts;
}

}  // namespace tool
