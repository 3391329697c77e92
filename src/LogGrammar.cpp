// The log grammars and the log part of the grammar registry.
#include "LogGrammar.h"

#include "LogGrammarTables.h"

template <x_int32 MsgType>
std::atomic<CLogGrammar<MsgType>*> CLogGrammar<MsgType>::s_pInstance{nullptr};

template <x_int32 MsgType>
CLogGrammar<MsgType>::CLogGrammar() {
    const grammar::GrammarTable* table = grammar::FindLogGrammarTable(MsgType);
    MY_ASSERT(table);
    _Build(*table);
}

const CBlobGrammar* CBlobGrammar::GetLogGrammar(int nMsgType) {
    switch (nMsgType) {
        case 1501: return _GetInstance(CEventLogGrammar::s_pInstance);
        case 1503: return _GetInstance(CCommandTrackingLogGrammar::s_pInstance);
        case 1701: return _GetInstance(CStatusLogGrammar::s_pInstance);
        case 1703: return _GetInstance(CVirusLogGrammar::s_pInstance);
        case 1705: return _GetInstance(CSecurityLogGrammar::s_pInstance);
        case 1707: return _GetInstance(CWebSecurityLogGrammar::s_pInstance);
        case 1709: return _GetInstance(CURLUsageLogGrammar::s_pInstance);
        case 1711: return _GetInstance(CPerformanceMetricLogGrammar::s_pInstance);
        case 1713: return _GetInstance(CNetworkPacketLogGrammar::s_pInstance);
        case 1715: return _GetInstance(CVulnerabilityLogGrammar::s_pInstance);
        case 1717: return _GetInstance(CESVLogGrammar::s_pInstance);
        case 1719: return _GetInstance(CESCLogGrammar::s_pInstance);
        case 1721: return _GetInstance(CViolationStatsLogGrammar::s_pInstance);
        default: return nullptr;
    }
}
