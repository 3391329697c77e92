// The grammar registry: lazily built singletons, one per message kind.
#include "GrammarRegistry.h"

#include <atomic>
#include <mutex>

#include "MessageKindList.h"

namespace {

std::mutex g_Mutex;
std::atomic<const CBlobGrammar*> g_Grammars[grammar::kMessageKindCount];

// The kind of every log message type from the lowest to the highest, as
// one index per type (kMessageKindCount: none), derived from the kind list
// when the library is compiled: a request finds its grammar in one step.
// The log kinds come first, in ascending type order (MessageKindList.h).
struct CLogKindIndex {
    static constexpr x_int32 kLowest = grammar::kMessageKinds[0].MsgType();
    static constexpr x_int32 kHighest = grammar::kMessageKinds[grammar::kRegistrationKind - 1].MsgType();

    unsigned char nKind[kHighest - kLowest + 1];
};
static_assert(grammar::kMessageKindCount < 256, "kind indices fit a byte");

constexpr CLogKindIndex MakeLogKindIndex() {
    CLogKindIndex index{};
    for (unsigned char& kind : index.nKind) kind = grammar::kMessageKindCount;
    for (size_t i = 0; i < grammar::kMessageKindCount; ++i)
        if (grammar::kMessageKinds[i].bLog)
            index.nKind[grammar::kMessageKinds[i].MsgType() - CLogKindIndex::kLowest] = static_cast<unsigned char>(i);
    return index;
}
constexpr CLogKindIndex kLogKindIndex = MakeLogKindIndex();

// Double-checked lazy construction.  The slot is set only after the
// constructor has returned; a constructor that throws leaves it null.
const CBlobGrammar* GrammarOf(size_t kind) {
    const CBlobGrammar* p = g_Grammars[kind].load(std::memory_order_acquire);
    if (p != nullptr) return p;
    std::lock_guard<std::mutex> lock(g_Mutex);
    p = g_Grammars[kind].load(std::memory_order_relaxed);
    if (p == nullptr) {
        p = new CBlobGrammar(*grammar::kMessageKinds[kind].pTable);
        g_Grammars[kind].store(p, std::memory_order_release);
    }
    return p;
}

}  // namespace

const CBlobGrammar* CGrammarRegistry::GetLogGrammar(int nMsgType) {
    if (nMsgType < CLogKindIndex::kLowest || nMsgType > CLogKindIndex::kHighest) return nullptr;
    const size_t kind = kLogKindIndex.nKind[nMsgType - CLogKindIndex::kLowest];
    return kind < grammar::kMessageKindCount ? GrammarOf(kind) : nullptr;
}

const CBlobGrammar* CGrammarRegistry::GetRegGrammar() { return GrammarOf(grammar::kRegistrationKind); }

const CBlobGrammar* CGrammarRegistry::GetCmdGrammar() { return nullptr; }
