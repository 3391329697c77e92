// RegisterDataGrammar.h - the grammar of the registration message.
#ifndef EN_REGISTERDATAGRAMMAR_H
#define EN_REGISTERDATAGRAMMAR_H

#include "BlobGrammar.h"

// Builds the registration table (RegisterDataGrammarTable.h); s_Instance is
// the process's only instance, set by CBlobGrammar::GetRegGrammar.
class CRegMessageGrammar : public CBlobGrammar {
public:
    CRegMessageGrammar();

private:
    friend class CBlobGrammar;
    static std::atomic<CRegMessageGrammar*> s_Instance;
};

#endif  // EN_REGISTERDATAGRAMMAR_H
