// Several threads validate messages of every kind at once, from the first
// call of the process on.  Every thread must see exactly the reference
// results.  Meant to run under the thread sanitizer too.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "RecordChecks.h"
#include "Samples.h"
#include "En_Msg.h"

namespace {

using hardening::Sample;

constexpr size_t kThreads = 8;
constexpr size_t kRounds = 2;

struct Outcome {
    std::vector<std::string> mismatches;
    size_t validations = 0;
};

// Thread t first takes one message of every kind, in an order that half of
// the threads share (so several threads ask for the same grammar first)
// and the other half reverse; then all reference messages, starting at an
// offset of its own.
std::vector<const Sample*> Schedule(size_t t, const std::vector<Sample>& cases, const std::vector<const Sample*>& firsts) {
    std::vector<const Sample*> order;
    for (size_t i = 0; i < firsts.size(); ++i) {
        const size_t k = t % 2 == 0 ? i : firsts.size() - 1 - i;
        if (firsts[k] != nullptr) order.push_back(firsts[k]);
    }
    for (size_t round = 0; round < kRounds; ++round)
        for (size_t i = 0; i < cases.size(); ++i) order.push_back(&cases[(i + t * cases.size() / kThreads) % cases.size()]);
    return order;
}

TEST(Threads, EveryThreadGetsTheReferenceResultsWhileGrammarsAreBuilt) {
    const std::vector<Sample> cases = hardening::ConformanceCases();
    const std::vector<const Sample*> firsts = hardening::FirstOfEachKind(cases, EN_VALIDATE_SUCCESS);
    for (size_t k = 0; k < firsts.size(); ++k) ASSERT_NE(firsts[k], nullptr) << "no valid reference message of kind " << k;

    // Handles are made before the threads start and only read by them.
    std::vector<void*> handles(cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        handles[i] = En_Msg_Create();
        ASSERT_EQ(En_Msg_Load(handles[i], cases[i].blob.data(), cases[i].blob.size()), EN_MSG_OK);
    }
    auto handleOf = [&](const Sample* s) { return handles[static_cast<size_t>(s - cases.data())]; };

    std::vector<Outcome> outcomes(kThreads);
    std::atomic<size_t> ready{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const std::vector<const Sample*> order = Schedule(t, cases, firsts);
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (const Sample* s : order) {
                EN_VALIDATE_RESULT r;
                enfuzz::Validate(s->bLog, s->nMsgType, handleOf(s), r);
                const std::string mismatch = hardening::Mismatch(*s, r);
                if (!mismatch.empty()) outcomes[t].mismatches.push_back(mismatch);
                ++outcomes[t].validations;
            }
        });
    for (std::thread& th : threads) th.join();

    for (size_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(outcomes[t].validations, firsts.size() + kRounds * cases.size()) << "thread " << t;
        EXPECT_TRUE(outcomes[t].mismatches.empty())
            << "thread " << t << ": " << outcomes[t].mismatches.size() << " wrong results, first: "
            << outcomes[t].mismatches.front();
    }
    for (void* h : handles) En_Msg_Destroy(h);
}

}  // namespace
