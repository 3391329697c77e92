#include "RegisterDataGrammar.h"

#include "RegisterDataGrammarTable.h"

std::atomic<CRegMessageGrammar*> CRegMessageGrammar::s_Instance{nullptr};

CRegMessageGrammar::CRegMessageGrammar() { _Build(grammar::RegisterDataGrammarTable()); }

const CBlobGrammar* CBlobGrammar::GetRegGrammar() { return _GetInstance(CRegMessageGrammar::s_Instance); }
