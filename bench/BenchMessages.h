// BenchMessages.h - the messages the benchmarks validate.
#ifndef EN_BENCH_BENCHMESSAGES_H
#define EN_BENCH_BENCHMESSAGES_H

#include <benchmark/benchmark.h>

#include "BlobReader.h"
#include "GeneratedMessages.h"

namespace benchmsg {

// Number of entries in a message, as the reader sees them.
inline int64_t CountEntries(const testmsg::Msg& m) {
    CBlobReader* reader = CreateINVPBlobReader();
    reader->Attach(m.bytes(), m.size());
    CMsgEntry e;
    int64_t n = 0;
    while (reader->Pop(&e.m_nID, &e.m_nDataType, &e.m_pData, &e.m_nDataLength) == 0) ++n;
    FreeINVPBlobReader(reader);
    return n;
}

// Reports throughput in entries and bytes per second.
inline void SetThroughput(benchmark::State& state, const testmsg::Msg& m) {
    state.SetItemsProcessed(state.iterations() * CountEntries(m));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(m.size()));
    state.counters["entries"] = static_cast<double>(CountEntries(m));
}

}  // namespace benchmsg

#endif  // EN_BENCH_BENCHMESSAGES_H
