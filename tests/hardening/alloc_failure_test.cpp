// Allocation failure injection (AllocHooks.h).  For every n, the n-th
// allocation of the first validation of every kind fails (its grammar and
// the thread's memory are built then); the validation must not crash or
// leak, must leave either the correct record or 100 "Unknown error", and
// the next validation without failures must give the correct record and
// later ones allocate nothing that stays.  Swept until a validation
// completes without reaching its n-th allocation.  Grammars are built once
// per process, so every n runs in a child process of its own, and the test
// must run before anything validates in this process.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AllocHooks.h"
#include "En_Msg.h"
#include "RecordChecks.h"
#include "Samples.h"

namespace {

using hardening::Sample;

// Far more than any validation allocates; reaching it means the sweep
// never ends.
constexpr long kMaxSweep = 20000;

// Test names of the two modes: only the n-th allocation fails, or every
// allocation from the n-th on.
std::string ModeName(const ::testing::TestParamInfo<bool>& mode) { return mode.param ? "FromNthOn" : "NthOnly"; }

struct Call {
    EN_VALIDATE_RESULT record;
    bool bFailed;  // an allocation was made to fail
};

Call Validate(const Sample& s, void* h, long failAt, bool bSticky) {
    Call c;
    if (failAt > 0) allochooks::Arm(failAt, bSticky);
    enfuzz::Validate(s.bLog, s.nMsgType, h, c.record);
    c.bFailed = failAt > 0 && allochooks::Disarm();
    return c;
}

// The record of a call in which an allocation failed.
std::string FailedCallProblem(const Sample& s, const EN_VALIDATE_RESULT& r) {
    if (r.nCode == EN_VALIDATE_UNKNOWN_ERROR && std::string(r.szMessage) == "Unknown error") return "";
    return hardening::Mismatch(s, r);
}

void* Load(const Sample& s) {
    void* h = En_Msg_Create();
    if (h != nullptr) En_Msg_Load(h, s.blob.data(), s.blob.size());
    return h;
}

// ------------------------------------------------- first validation of a kind

enum ChildExit { kChildFailed = 0, kChildNotReached = 1, kChildProblem = 2 };

struct ChildReport {
    int exit = kChildProblem;
    std::string text;  // "<last n> <blocks retained>", or the problem
};

// In a child process: first validations of s with the n-th allocation
// failing, for n = first, first + 1, ... as long as a failure leaves
// nothing behind (the grammar was not built, so the next n builds it again
// in this process); then two validations without failures.  With first 0
// there is no failure.  Writes the last n and the number of blocks left
// alive (the grammar), or a problem, to fd and exits.
[[noreturn]] void FirstCallChild(const Sample& s, long first, bool bSticky, long footprint, int fd) {
    void* h = Load(s);
    const long before = allochooks::Live();
    std::string problem;
    long n = first;
    Call call;
    for (;; ++n) {
        call = Validate(s, h, n, bSticky);
        if (!call.bFailed) {
            problem = hardening::Mismatch(s, call.record);
            break;
        }
        problem = FailedCallProblem(s, call.record);
        if (!problem.empty() || allochooks::Live() != before || n >= kMaxSweep) break;
    }
    const Call second = Validate(s, h, 0, false);
    const long retained = allochooks::Live() - before;
    const Call third = Validate(s, h, 0, false);
    const long afterThird = allochooks::Live() - before;

    if (problem.empty()) problem = hardening::Mismatch(s, second.record);
    if (problem.empty()) problem = hardening::Mismatch(s, third.record);
    if (problem.empty() && afterThird != retained)
        problem = "a validation with a built grammar leaked " + std::to_string(afterThird - retained) + " blocks";
    if (problem.empty() && footprint >= 0 && retained != footprint)
        problem = std::to_string(retained - footprint) + " blocks leaked";
    if (!problem.empty()) problem = "allocation " + std::to_string(n) + " failing: " + problem;
    const std::string report = problem.empty() ? std::to_string(n) + " " + std::to_string(retained) : problem;
    if (write(fd, report.data(), report.size()) < 0) _exit(kChildProblem);
    _exit(!problem.empty() ? kChildProblem : call.bFailed ? kChildFailed : kChildNotReached);
}

ChildReport RunChild(const Sample& s, long first, bool bSticky, long footprint) {
    ChildReport report;
    int fds[2];
    if (pipe(fds) != 0) return report;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        FirstCallChild(s, first, bSticky, footprint, fds[1]);
    }
    close(fds[1]);
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) report.text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return report;
    if (WIFEXITED(status)) report.exit = WEXITSTATUS(status);
    else report.text = "child ended by signal " + std::to_string(WTERMSIG(status));
    return report;
}

class FirstValidation : public ::testing::TestWithParam<bool> {};

TEST_P(FirstValidation, EveryKindSurvivesEveryFailedAllocationWhileItsGrammarIsBuilt) {
    const bool bSticky = GetParam();
    const std::vector<Sample> cases = hardening::ConformanceCases();
    const std::vector<const Sample*> firsts = hardening::FirstOfEachKind(cases, EN_VALIDATE_SUCCESS);
    long swept = 0, children = 0;
    for (size_t k = 0; k < firsts.size(); ++k) {
        ASSERT_NE(firsts[k], nullptr) << "no valid reference message of kind " << k;
        const Sample& s = *firsts[k];
        const ChildReport reference = RunChild(s, 0, false, -1);
        ASSERT_EQ(reference.exit, kChildNotReached) << reference.text;
        const long footprint = std::stol(reference.text.substr(reference.text.find(' ')));
        // A grammar is dozens of blocks: fewer means it existed before.
        ASSERT_GT(footprint, 20) << "kind " << k << " was validated in this process before the sweep";
        long n = 1;
        while (n < kMaxSweep) {
            const ChildReport r = RunChild(s, n, bSticky, footprint);
            ++children;
            ASSERT_NE(r.exit, kChildProblem) << "kind " << k << ": " << r.text;
            if (r.exit == kChildNotReached) break;
            n = std::stol(r.text) + 1;
        }
        EXPECT_LT(n, kMaxSweep);
        swept += n - 1;
    }
    std::printf("swept %ld failing allocations of first validations (%s), in %ld processes\n", swept,
                ModeName({bSticky, 0}).c_str(), children);
}

INSTANTIATE_TEST_SUITE_P(AllocFailure, FirstValidation, ::testing::Values(false, true),
                         ModeName);

}  // namespace
