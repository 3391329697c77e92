// The walk of the JSON floor (jsonl_floor.cpp), compiled once for each of
// simdjson's kernels as the tool's own walk is (cmake/SimdjsonKernels.cmake).
#include <cstddef>
#include <cstdint>

#if defined(EN_KERNEL_IS_FALLBACK)
#define SIMDJSON_BUILTIN_IMPLEMENTATION fallback
#define EN_FLOOR_WALK FallbackFloorWalk
#elif defined(EN_KERNEL_IS_WESTMERE)
#define SIMDJSON_BUILTIN_IMPLEMENTATION westmere
#define EN_FLOOR_WALK WestmereFloorWalk
#elif defined(EN_KERNEL_IS_HASWELL)
#define SIMDJSON_BUILTIN_IMPLEMENTATION haswell
#define EN_FLOOR_WALK HaswellFloorWalk
#elif defined(EN_KERNEL_IS_ICELAKE)
#define SIMDJSON_BUILTIN_IMPLEMENTATION icelake
#define EN_FLOOR_WALK IcelakeFloorWalk
#endif

#include <simdjson.h>

namespace floorwalk {

namespace od = simdjson::SIMDJSON_BUILTIN_IMPLEMENTATION::ondemand;

// The messages of text, one a line (iterate_many), each entry's id, type and
// value touched: a sum of the numbers and string lengths, so that nothing is
// skipped.  Counts the messages; -1 for text that is not JSON.
long long EN_FLOOR_WALK(const char* text, size_t size, size_t capacity, uint64_t& sum) {
    (void)capacity;
    od::parser parser;
    od::document_stream stream;
    if (parser.iterate_many(text, size, 4 << 20).get(stream)) return -1;
    long long messages = 0;
    for (auto doc : stream) {
        od::object message;
        if (doc.get_object().get(message)) return -1;
        for (auto member : message) {
            od::field field;
            if (std::move(member).get(field) || !field.key().unsafe_is_equal("entries")) continue;
            od::array entries;
            if (field.value().get_array().get(entries)) return -1;
            for (auto item : entries) {
                od::object entry;
                if (item.get_object().get(entry)) return -1;
                for (auto entryMember : entry) {
                    od::field f;
                    if (std::move(entryMember).get(f)) return -1;
                    od::value v = f.value();
                    od::json_type type;
                    if (v.type().get(type)) return -1;
                    std::string_view s;
                    int64_t n = 0;
                    if (type == od::json_type::string && v.get_string().get(s) == simdjson::SUCCESS) sum += s.size();
                    if (type == od::json_type::number && v.get_int64().get(n) == simdjson::SUCCESS) sum += uint64_t(n);
                }
            }
        }
        ++messages;
    }
    return messages;
}

}  // namespace floorwalk
