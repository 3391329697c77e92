// en_corpus_tool - makes the corpora of the hardening stages.
//
//   en_corpus_tool seeds OUTDIR JSON...
//       Seed corpora for the fuzz targets from JSON message files or folders:
//       OUTDIR/blob/* (encoded messages), OUTDIR/entries/* (entry streams
//       that decode into the same messages) and OUTDIR/blob.dict (the
//       grammars' node IDs and entry headers as libFuzzer dictionary tokens).
//
//   en_corpus_tool pack OUTFILE COUNT [--json PATH]... [--blobs DIR]... [--streams DIR]...
//       A packed corpus (Samples.h) of at least COUNT messages: the JSON
//       messages, every blob file (validated against every grammar), every
//       entry stream decoded, then seeded mutations of the JSON messages
//       until COUNT is reached.  The same arguments give the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "En_Msg.h"
#include "EntryStream.h"
#include "MessageKinds.h"
#include "Samples.h"

namespace fs = std::filesystem;
using hardening::Sample;

namespace {

typedef std::vector<unsigned char> Bytes;

uint64_t Fnv1a(const Bytes& b) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : b) h = (h ^ c) * 1099511628211ull;
    return h;
}

void WriteFile(const fs::path& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Writes the bytes under a name made from their hash; false if present.
bool WriteUnique(const fs::path& dir, const Bytes& bytes) {
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(Fnv1a(bytes)));
    const fs::path path = dir / name;
    if (fs::exists(path)) return false;
    WriteFile(path, bytes.data(), bytes.size());
    return true;
}

std::string DictToken(const unsigned char* p, size_t n) {
    std::string token = "\"";
    char hex[5];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, "\\x%02X", p[i]);
        token += hex;
    }
    return token + "\"";
}

std::vector<Sample> LoadJson(const std::vector<std::string>& paths) {
    std::vector<Sample> out;
    size_t skipped = 0;
    for (const std::string& p : paths) {
        std::vector<Sample> more = hardening::JsonMessages(p, &skipped);
        out.insert(out.end(), more.begin(), more.end());
    }
    if (skipped) std::printf("%zu JSON objects are no message and were skipped\n", skipped);
    return out;
}

int Seeds(const fs::path& outdir, const std::vector<std::string>& json) {
    const std::vector<Sample> samples = LoadJson(json);
    fs::create_directories(outdir / "blob");
    fs::create_directories(outdir / "entries");
    size_t blobs = 0, streams = 0;
    for (const Sample& s : samples) {
        blobs += WriteUnique(outdir / "blob", s.blob);
        const size_t kind = enfuzz::KindIndex(s.bLog, s.nMsgType);
        std::vector<uint8_t> stream;
        if (kind < enfuzz::kKindCount && enfuzz::EncodeStream(kind, s.blob, stream))
            streams += WriteUnique(outdir / "entries", stream);
    }
    // Dictionary: every node ID, and every entry header a grammar expects
    // (ID and type, then a zero length for groups).
    std::set<std::string> tokens;
    for (size_t k = 0; k < enfuzz::kKindCount; ++k)
        grammar::ForEachRow(*enfuzz::KindAt(k).pTable, [&](const grammar::NodeRow& row, const char*) {
            const x_uint32 header[3] = {row.nID, row.nDataType, 0};
            const unsigned char* p = reinterpret_cast<const unsigned char*>(header);
            tokens.insert(DictToken(p, 4));
            tokens.insert(DictToken(p, row.nDataType == DT_GROUP ? 12 : 8));
            const x_uint32 end[3] = {row.nID, DT_END_OF_GROUP, 0};
            if (row.nDataType == DT_GROUP) tokens.insert(DictToken(reinterpret_cast<const unsigned char*>(end), 12));
        });
    std::string dict;
    for (const std::string& t : tokens) dict += t + "\n";
    WriteFile(outdir / "blob.dict", dict.data(), dict.size());
    std::printf("%zu messages: %zu blob seeds, %zu entry-stream seeds, %zu dictionary tokens\n", samples.size(), blobs,
                streams, tokens.size());
    return 0;
}

// ------------------------------------------------------------------ pack

class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

private:
    uint64_t m_state;
};

// The entries of a blob as separate byte strings (header, value, padding);
// empty if the blob does not split into entries.
std::vector<Bytes> SplitEntries(const Bytes& blob) {
    std::vector<Bytes> out;
    for (size_t pos = 0; pos < blob.size();) {
        if (blob.size() - pos < BLOB_ENTRY_HEADER_SIZE) return {};
        x_uint32 length;
        std::memcpy(&length, blob.data() + pos + 8, 4);
        size_t end = pos + BLOB_ENTRY_HEADER_SIZE + length;
        if (length > blob.size() || end > blob.size()) return {};
        end = std::min(blob.size(), end + (4 - length % 4) % 4);
        out.emplace_back(blob.begin() + static_cast<std::ptrdiff_t>(pos), blob.begin() + static_cast<std::ptrdiff_t>(end));
        pos = end;
    }
    return out;
}

Bytes Join(const std::vector<Bytes>& entries) {
    Bytes out;
    for (const Bytes& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

Bytes HandleBytes(void* h) {
    const unsigned char* p = static_cast<const unsigned char*>(En_Msg_GetBuffer(h));
    return Bytes(p, p + En_Msg_BytesUsed(h));
}

// A few entries of the kind's grammar made by the entry stream decoder
// from random bytes.
std::vector<Bytes> RandomEntries(Random& rnd, size_t kind) {
    std::vector<uint8_t> stream(2 + rnd.Below(12));
    for (uint8_t& b : stream) b = static_cast<uint8_t>(rnd.Next());
    stream[0] = static_cast<uint8_t>(kind);
    if ((stream[1] & 7) == 6) stream[1] ^= 1;  // not the whole header
    void* h = En_Msg_Create();
    enfuzz::DecodeStream(stream.data(), stream.size(), h);
    std::vector<Bytes> out = SplitEntries(HandleBytes(h));
    En_Msg_Destroy(h);
    return out;
}

// One to three steps: drop, repeat or swap entries, put entries the
// grammar knows (groups included) in, flip a bit, cut an entry short, or
// validate as another kind.
Sample Mutate(const Sample& base, Random& rnd) {
    size_t kind = enfuzz::KindIndex(base.bLog, base.nMsgType) % enfuzz::kKindCount;
    std::vector<Bytes> entries = SplitEntries(base.blob);
    for (size_t step = 0, steps = 1 + rnd.Below(3); step < steps; ++step) {
        const size_t n = entries.size(), at = rnd.Below(n + 1);
        const auto pos = entries.begin() + static_cast<std::ptrdiff_t>(at);
        Bytes* one = n ? &entries[rnd.Below(n)] : nullptr;
        switch (rnd.Below(8)) {
            case 0: if (at < n) entries.erase(pos); break;
            case 1: if (one) entries.insert(pos, Bytes(*one)); break;
            case 2: if (one) std::swap(*one, entries[rnd.Below(n)]); break;
            case 3: if (one && !one->empty()) (*one)[rnd.Below(one->size())] ^= static_cast<unsigned char>(1u << rnd.Below(8)); break;
            case 4: if (one) one->resize(rnd.Below(one->size())); break;
            case 5: kind = rnd.Below(enfuzz::kKindCount); break;
            default: {
                const std::vector<Bytes> made = RandomEntries(rnd, kind);
                entries.insert(pos, made.begin(), made.end());
            }
        }
    }
    Sample s;
    s.bLog = enfuzz::KindAt(kind).bLog;
    s.nMsgType = enfuzz::KindAt(kind).nMsgType;
    s.blob = Join(entries);
    return s;
}

std::vector<fs::path> FilesIn(const std::vector<std::string>& dirs) {
    std::vector<fs::path> files;
    for (const std::string& d : dirs) {
        if (!fs::is_directory(d)) continue;
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(d))
            if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes FileBytes(const fs::path& f) {
    const std::string s = hardening::ReadFile(f.string());
    return Bytes(s.begin(), s.end());
}

int Pack(const std::string& outfile, size_t count, const std::vector<std::string>& json,
         const std::vector<std::string>& blobDirs, const std::vector<std::string>& streamDirs) {
    const std::vector<Sample> samples = LoadJson(json);
    std::string pack;
    size_t records = 0;
    auto add = [&](const Sample& s) {
        hardening::AppendRecord(pack, s.bLog ? hardening::kPackLog : hardening::kPackRegister, s.nMsgType, s.blob);
        ++records;
    };
    for (const Sample& s : samples) add(s);
    size_t blobs = 0, streams = 0;
    for (const fs::path& f : FilesIn(blobDirs)) {
        hardening::AppendRecord(pack, hardening::kPackEveryGrammar, 0, FileBytes(f));
        ++records, ++blobs;
    }
    for (const fs::path& f : FilesIn(streamDirs)) {
        const Bytes stream = FileBytes(f);
        void* h = En_Msg_Create();
        const enfuzz::MessageKind& k = enfuzz::KindAt(enfuzz::DecodeStream(stream.data(), stream.size(), h));
        Sample s;
        s.bLog = k.bLog;
        s.nMsgType = k.nMsgType;
        s.blob = HandleBytes(h);
        En_Msg_Destroy(h);
        add(s);
        ++streams;
    }
    Random rnd(20261205);
    for (size_t i = 0; records < count && !samples.empty(); ++i) add(Mutate(samples[i % samples.size()], rnd));
    WriteFile(outfile, pack.data(), pack.size());
    std::printf("%zu messages (%zu JSON, %zu blobs, %zu entry streams, %zu mutations), %zu bytes\n", records,
                samples.size(), blobs, streams, records - samples.size() - blobs - streams, pack.size());
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: en_corpus_tool seeds OUTDIR JSON...\n"
                 "       en_corpus_tool pack OUTFILE COUNT [--json PATH]... [--blobs DIR]... [--streams DIR]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() >= 3 && args[0] == "seeds") return Seeds(args[1], {args.begin() + 2, args.end()});
        if (args.size() >= 3 && args[0] == "pack") {
            std::vector<std::string> json, blobs, streams;
            for (size_t i = 3; i + 1 < args.size(); i += 2) {
                std::vector<std::string>* list = args[i] == "--json" ? &json : args[i] == "--blobs" ? &blobs
                                                 : args[i] == "--streams" ? &streams : nullptr;
                if (list == nullptr) return Usage();
                list->push_back(args[i + 1]);
            }
            if (args.size() % 2 == 0) return Usage();
            return Pack(args[1], std::stoul(args[2]), json, blobs, streams);
        }
        return Usage();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "en_corpus_tool: %s\n", e.what());
        return 1;
    }
}
