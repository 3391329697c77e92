// GrammarRegistry.h - one grammar per message kind (MessageKindList.h).
//
// Each grammar is built on its first request and kept for the life of the
// process; a construction that fails (a broken table: 300, or memory
// exhaustion) leaves nothing behind and is tried again on the next
// request.  Safe to call from several threads: concurrent first requests
// build one grammar.
#ifndef EN_GRAMMARREGISTRY_H
#define EN_GRAMMARREGISTRY_H

#include "BlobGrammar.h"

class CGrammarRegistry {
public:
    static const CBlobGrammar* GetLogGrammar(int nMsgType);  // null: no grammar of that type
    static const CBlobGrammar* GetRegGrammar();               // never null
    static const CBlobGrammar* GetCmdGrammar();               // always null: no command grammar
};

#endif  // EN_GRAMMARREGISTRY_H
