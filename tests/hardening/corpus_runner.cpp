// en_corpus_runner PACK [OUT] - validates every message of a packed corpus
// (Samples.h) and writes one line per validation, "code<TAB>text" (control
// characters and backslashes as \xNN), to OUT
// or standard output; a summary goes to standard error.  Records for every
// grammar are validated as each of the fourteen kinds and as a log type
// without grammar.  Built for both word sizes, whose outputs must be equal.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "En_Msg.h"
#include "MessageKinds.h"
#include "Samples.h"

namespace {

void Append(std::string& out, std::map<int, size_t>& codes, const EN_VALIDATE_RESULT& r) {
    char code[16];
    std::snprintf(code, sizeof code, "%d\t", r.nCode);
    out += code;
    // One line per result: control characters and backslashes escaped.
    for (const char* p = r.szMessage; *p != 0; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += *p;
        }
    }
    out += '\n';
    ++codes[r.nCode];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: en_corpus_runner PACK [OUT]\n");
        return 2;
    }
    std::string pack;
    try {
        pack = hardening::ReadFile(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "en_corpus_runner: %s\n", e.what());
        return 1;
    }
    if (pack.compare(0, 4, "ENPK") != 0) {
        std::fprintf(stderr, "en_corpus_runner: %s is not a packed corpus\n", argv[1]);
        return 1;
    }
    void* h = En_Msg_Create();
    std::string out;
    out.reserve(pack.size());
    std::map<int, size_t> codes;
    size_t messages = 0;
    EN_VALIDATE_RESULT r;
    for (size_t pos = 4; pos < pack.size(); ++messages) {
        uint32_t header[3];
        if (pack.size() - pos < sizeof header) break;
        std::memcpy(header, pack.data() + pos, sizeof header);
        pos += sizeof header;
        if (header[2] > pack.size() - pos) break;
        En_Msg_Load(h, pack.data() + pos, header[2]);
        pos += header[2] + (4 - header[2] % 4) % 4;
        const x_int32 msgType = static_cast<x_int32>(header[1]);
        switch (header[0]) {
            case hardening::kPackLog:
            case hardening::kPackRegister:
                enfuzz::Validate(header[0] == hardening::kPackLog, msgType, h, r);
                Append(out, codes, r);
                break;
            default:
                for (size_t k = 0; k < enfuzz::kKindCount; ++k) {
                    enfuzz::Validate(enfuzz::KindAt(k), h, r);
                    Append(out, codes, r);
                }
                En_Validate_Log(h, 1502, &r);
                Append(out, codes, r);
                break;
        }
    }
    En_Msg_Destroy(h);
    FILE* f = argc == 3 ? std::fopen(argv[2], "wb") : stdout;
    if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size()) {
        std::fprintf(stderr, "en_corpus_runner: cannot write the results\n");
        return 1;
    }
    if (f != stdout) std::fclose(f);
    std::fprintf(stderr, "%zu messages, codes:", messages);
    for (const auto& c : codes) std::fprintf(stderr, " %d: %zu", c.first, c.second);
    std::fprintf(stderr, "\n");
    return 0;
}
