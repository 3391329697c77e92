// GrammarRegistry.h - one grammar per message kind (MessageKindList.h).
//
// The grammars are constant data (GrammarImage.h): asking for one is an
// index into a table of their addresses, made when the library is
// compiled.  Nothing is built, locked or allocated; any thread may ask at
// any time, a forked child included.
#ifndef EN_GRAMMARREGISTRY_H
#define EN_GRAMMARREGISTRY_H

#include <cstddef>

#include "BlobGrammar.h"
#include "GrammarImage.h"
#include "MessageKindList.h"

namespace grammar {

// The largest of a size over the grammars of every kind.
template <class Size>
constexpr size_t MostOfAnyKind(Size size) {
    size_t most = 0;
    for (const MessageKind& kind : kMessageKinds) most = image::Max(most, size(image::DimsOf(*kind.pTable)));
    return most;
}

}  // namespace grammar

class CGrammarRegistry {
public:
    static const CBlobGrammar* GetLogGrammar(int nMsgType);  // null: no grammar of that type
    static const CBlobGrammar* GetRegGrammar();               // never null

    // The most groups open at once in any grammar, the root included, and
    // the most slots of any group: the room a walk's context needs.
    static constexpr size_t kMaxDepth = grammar::MostOfAnyKind([](const grammar::image::Dims& d) { return d.nDepth; });
    static constexpr size_t kMaxGroupSlots =
        grammar::MostOfAnyKind([](const grammar::image::Dims& d) { return d.nLargest; });
};

#endif  // EN_GRAMMARREGISTRY_H
