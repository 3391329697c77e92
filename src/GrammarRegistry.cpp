// The grammar registry: the addresses of the fourteen grammars.
#include "GrammarRegistry.h"

#include <utility>

namespace {

constexpr size_t kKinds = grammar::kMessageKindCount;

// The grammar of every kind, in the order of the kind list.
struct CGrammarList {
    const CBlobGrammar* pGrammar[kKinds];
};

template <size_t... K>
constexpr CGrammarList MakeGrammarList(std::index_sequence<K...>) {
    return {{&grammar::kImage<*grammar::kMessageKinds[K].pTable>.grammar...}};
}
constexpr CGrammarList kGrammars = MakeGrammarList(std::make_index_sequence<kKinds>());

// The kind of every log message type from the lowest to the highest, as
// one index per type (kKinds: none): a request finds its grammar in one
// step.  The log kinds come first, in ascending type order.
struct CLogKindIndex {
    static constexpr x_int32 kLowest = grammar::kMessageKinds[0].MsgType();
    static constexpr x_int32 kHighest = grammar::kMessageKinds[grammar::kRegistrationKind - 1].MsgType();

    unsigned char nKind[kHighest - kLowest + 1];
};
static_assert(kKinds < 256, "kind indices fit a byte");

constexpr CLogKindIndex MakeLogKindIndex() {
    CLogKindIndex index{};
    for (unsigned char& kind : index.nKind) kind = kKinds;
    for (size_t i = 0; i < kKinds; ++i)
        if (grammar::kMessageKinds[i].bLog)
            index.nKind[grammar::kMessageKinds[i].MsgType() - CLogKindIndex::kLowest] = static_cast<unsigned char>(i);
    return index;
}
constexpr CLogKindIndex kLogKindIndex = MakeLogKindIndex();

}  // namespace

const CBlobGrammar* CGrammarRegistry::GetLogGrammar(int nMsgType) {
    if (nMsgType < CLogKindIndex::kLowest || nMsgType > CLogKindIndex::kHighest) return nullptr;
    const size_t kind = kLogKindIndex.nKind[nMsgType - CLogKindIndex::kLowest];
    return kind < kKinds ? kGrammars.pGrammar[kind] : nullptr;
}

const CBlobGrammar* CGrammarRegistry::GetRegGrammar() { return kGrammars.pGrammar[grammar::kRegistrationKind]; }
