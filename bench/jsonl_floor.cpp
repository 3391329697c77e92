// en-jsonl-floor FILE: the JSON floor of scripts/bench-tool.  Walks a JSON
// Lines file of messages with simdjson On-Demand (iterate_many), touching
// every entry's id, type and value, with the kernel the tool's own walk
// would take; prints "MESSAGES BYTES KERNEL".  What en-validate --jsonl
// costs beyond this is its own.
#include <cstdint>
#include <cstdio>
#include <string>

#include <simdjson.h>

namespace floorwalk {
long long FallbackFloorWalk(const char* text, size_t size, size_t capacity, uint64_t& sum);
long long WestmereFloorWalk(const char* text, size_t size, size_t capacity, uint64_t& sum);
long long HaswellFloorWalk(const char* text, size_t size, size_t capacity, uint64_t& sum);
long long IcelakeFloorWalk(const char* text, size_t size, size_t capacity, uint64_t& sum);
}  // namespace floorwalk

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: en-jsonl-floor FILE\n");
        return 2;
    }
    simdjson::padded_string text;
    if (simdjson::padded_string::load(argv[1]).get(text)) {
        std::fprintf(stderr, "en-jsonl-floor: cannot read %s\n", argv[1]);
        return 2;
    }
    const std::string kernel = simdjson::get_active_implementation()->name();
    auto walk = floorwalk::FallbackFloorWalk;
    std::string used = "fallback";
#ifdef EN_KERNEL_WESTMERE
    if (kernel != "fallback") walk = floorwalk::WestmereFloorWalk, used = "westmere";
#endif
#ifdef EN_KERNEL_HASWELL
    if (kernel == "haswell" || kernel == "icelake") walk = floorwalk::HaswellFloorWalk, used = "haswell";
#endif
#ifdef EN_KERNEL_ICELAKE
    if (kernel == "icelake") walk = floorwalk::IcelakeFloorWalk, used = "icelake";
#endif
    uint64_t sum = 0;
    const long long messages = walk(text.data(), text.size(), text.size() + simdjson::SIMDJSON_PADDING, sum);
    if (messages < 0) {
        std::fprintf(stderr, "en-jsonl-floor: %s is not JSON Lines of message objects\n", argv[1]);
        return 1;
    }
    std::printf("%lld %zu %s (checksum %llu)\n", messages, text.size(), used.c_str(), static_cast<unsigned long long>(sum));
    return 0;
}
