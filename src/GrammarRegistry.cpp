// The grammar registry: lazily built singletons, one per message kind.
#include "GrammarRegistry.h"

#include <atomic>
#include <mutex>

#include "MessageKindList.h"

namespace {

std::mutex g_Mutex;
std::atomic<const CBlobGrammar*> g_Grammars[grammar::kMessageKindCount];

// The message types of the kinds side by side, for a quick scan on every
// request (the registration message's 0 is never looked for).
struct CKindTypes {
    x_int32 nMsgType[grammar::kMessageKindCount];
};
constexpr CKindTypes KindTypes() {
    CKindTypes types{};
    for (size_t i = 0; i < grammar::kMessageKindCount; ++i)
        types.nMsgType[i] = grammar::kMessageKinds[i].bLog ? grammar::kMessageKinds[i].MsgType() : 0;
    return types;
}
constexpr CKindTypes kKindTypes = KindTypes();

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
    if (nMsgType == 0) return nullptr;
    for (size_t kind = 0; kind < grammar::kMessageKindCount; ++kind)
        if (kKindTypes.nMsgType[kind] == nMsgType) return GrammarOf(kind);
    return nullptr;
}

const CBlobGrammar* CGrammarRegistry::GetRegGrammar() { return GrammarOf(grammar::kRegistrationKind); }

const CBlobGrammar* CGrammarRegistry::GetCmdGrammar() { return nullptr; }
