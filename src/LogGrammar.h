// LogGrammar.h - the thirteen log message grammars.
//
// Each log message type has one grammar class whose default constructor
// builds the type's table (LogGrammarTables.h) and whose s_pInstance is the
// process's only instance, set by CBlobGrammar::GetLogGrammar.
#ifndef EN_LOGGRAMMAR_H
#define EN_LOGGRAMMAR_H

#include "BlobGrammar.h"

template <x_int32 MsgType>
class CLogGrammar : public CBlobGrammar {
public:
    CLogGrammar();

private:
    friend class CBlobGrammar;
    static std::atomic<CLogGrammar*> s_pInstance;
};

using CEventLogGrammar = CLogGrammar<1501>;
using CCommandTrackingLogGrammar = CLogGrammar<1503>;
using CStatusLogGrammar = CLogGrammar<1701>;
using CVirusLogGrammar = CLogGrammar<1703>;
using CSecurityLogGrammar = CLogGrammar<1705>;
using CWebSecurityLogGrammar = CLogGrammar<1707>;
using CURLUsageLogGrammar = CLogGrammar<1709>;
using CPerformanceMetricLogGrammar = CLogGrammar<1711>;
using CNetworkPacketLogGrammar = CLogGrammar<1713>;
using CVulnerabilityLogGrammar = CLogGrammar<1715>;
using CESVLogGrammar = CLogGrammar<1717>;
using CESCLogGrammar = CLogGrammar<1719>;
using CViolationStatsLogGrammar = CLogGrammar<1721>;

#endif  // EN_LOGGRAMMAR_H
