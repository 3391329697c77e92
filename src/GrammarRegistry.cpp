// The grammar registry: lazily built singletons, one per message kind.
#include "GrammarRegistry.h"

#include <atomic>
#include <mutex>

#include "MessageKindList.h"

namespace {

std::mutex g_Mutex;
std::atomic<const CBlobGrammar*> g_Grammars[grammar::kMessageKindCount];

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
    const size_t kind = grammar::KindIndex(true, nMsgType);
    return kind < grammar::kMessageKindCount ? GrammarOf(kind) : nullptr;
}

const CBlobGrammar* CGrammarRegistry::GetRegGrammar() { return GrammarOf(grammar::kRegistrationKind); }

const CBlobGrammar* CGrammarRegistry::GetCmdGrammar() { return nullptr; }
