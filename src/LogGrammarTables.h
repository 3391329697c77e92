// LogGrammarTables.h - the node tables of the thirteen log grammars.
//
// Columns: depth in the outline, kind, name, node ID, data type, required,
// constraint ID.  Every log grammar registers one constraint, the time
// format check with ID 1000, and every constrained item names it.  Node IDs
// mean the same node in every log grammar.
#ifndef EN_LOGGRAMMARTABLES_H
#define EN_LOGGRAMMARTABLES_H

#include "GrammarTable.h"

namespace grammar {
namespace log {

constexpr NodeKind I = NodeKind::Item;
constexpr NodeKind G = NodeKind::Group;
constexpr bool Y = true;
constexpr bool N = false;
constexpr x_uint32 TF = 1000;  // the time format constraint

inline constexpr ConstraintRow kConstraints[] = {
    {ConstraintKind::TimeFormat, "TimeFormat", TF, 0, 0, nullptr, 0},
};

// The common header: fifteen root items.  Short headers omit row 4.
inline constexpr NodeRow kHeader[] = {
    {0, I, "MsgType", 11, DT_UINT32, Y, 0},
    {0, I, "ProductGUID", 1001, DT_WSTRING, Y, 0},
    {0, I, "ProductID", 2021, DT_INT16, Y, 0},
    {0, I, "LogMinorVersion", 2055, DT_WSTRING, Y, 0},
    {0, I, "ComputerName", 2008, DT_WSTRING, Y, 0},
    {0, I, "ProductVersion", 2014, DT_WSTRING, Y, 0},
    {0, I, "ProductPlatformCode", 2056, DT_INT16, Y, 0},
    {0, I, "ProductLanguageCode", 2057, DT_UINT32, Y, 0},
    {0, I, "SeverityCode", 2058, DT_INT16, Y, 0},
    {0, I, "ComponentCode", 2059, DT_INT16, Y, 0},
    {0, I, "LogGenerationTime", 2001, DT_WSTRING, Y, TF},
    {0, I, "LogGenerationTimeZone", 2002, DT_INT16, Y, 0},
    {0, I, "IsDayLightSaving", 2060, DT_INT16, Y, 0},
    {0, I, "ReasonCode", 2061, DT_WSTRING, Y, 0},
    {0, I, "ReasonCodeSource", 2062, DT_INT16, Y, 0},
};
constexpr size_t kMinorVersionRow = 3;

inline constexpr NodeRow kPrivateAttribute[] = {
    {0, I, "PrivateAttribute_ZR35", 2067, DT_BYTES, Y, 0},
};

inline constexpr NodeRow kEventRows[] = {
    {0, I, "EventType", 2063, DT_UINT32, Y, 0},
    {0, I, "ErrorDescription", 2064, DT_WSTRING, Y, 0},
    {0, I, "CommandStatusCode", 2066, DT_INT16, Y, 0},
    {0, I, "DarqUnprotectedComputer", 2178, DT_WSTRING, Y, 0},
    {0, I, "DarqUnprotectedDomain", 2179, DT_WSTRING, Y, 0},
    {0, I, "DarqUnprotectedIpAddr", 2180, DT_WSTRING, Y, 0},
    {0, I, "DarqUnprotectedMacAddr", 2181, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kCommandTrackingRows[] = {
    {0, I, "EventType", 2063, DT_UINT32, Y, 0},
    {0, I, "ErrorDescription", 2064, DT_WSTRING, Y, 0},
    {0, I, "TrackingID", 1005, DT_WSTRING, Y, 0},
    {0, I, "OriginalMesssage", 2065, DT_INT16, Y, 0},
    {0, I, "CommandStatusCode", 2066, DT_INT16, Y, 0},
};

inline constexpr NodeRow kStatusRows[] = {
    {0, I, "MsgType", 11, DT_UINT32, Y, 0},
    {0, I, "ProductGUID", 1001, DT_WSTRING, Y, 0},
    {0, I, "ProductID", 2021, DT_INT16, Y, 0},
    {0, I, "LogGenerationTime", 2001, DT_WSTRING, Y, TF},
    {0, I, "LogGenerationTimeZone", 2002, DT_INT16, Y, 0},
    {0, I, "IPAddressList", 2010, DT_WSTRING, Y, 0},
    {0, I, "MACAddressList", 2011, DT_WSTRING, Y, 0},
    {0, I, "ProductVersion", 2014, DT_WSTRING, Y, 0},
    {0, I, "ProductBuildNumber", 2015, DT_WSTRING, Y, 0},
    {0, I, "ServicePack", 2016, DT_WSTRING, Y, 0},
    {0, I, "Hotfix", 2017, DT_WSTRING, Y, 0},
    {0, I, "Status", 2036, DT_INT16, Y, 0},
    {0, I, "TimeZone", 2040, DT_INT16, Y, 0},
    {0, I, "TimeSaving", 2041, DT_INT16, Y, 0},
    {0, G, "PatternInfo", 3002, DT_GROUP, N, 0},
    {1, G, "Info", 3001, DT_GROUP, N, 0},
    {2, I, "Name", 2052, DT_UINT32, Y, 0},
    {2, I, "Version", 2053, DT_WSTRING, Y, 0},
    {2, I, "LastUpdateTime", 2054, DT_WSTRING, Y, TF},
    {0, G, "EngineInfo", 3003, DT_GROUP, N, 0},
    {1, G, "Info", 3001, DT_GROUP, N, 0},
    {2, I, "Name", 2052, DT_UINT32, Y, 0},
    {2, I, "Version", 2053, DT_WSTRING, Y, 0},
    {2, I, "LastUpdateTime", 2054, DT_WSTRING, Y, TF},
    {0, G, "PRInfo", 3006, DT_GROUP, N, 0},
    {1, G, "Info", 3001, DT_GROUP, N, 0},
    {2, I, "ACKey", 2050, DT_WSTRING, Y, 0},
    {2, I, "Profile", 2051, DT_WSTRING, Y, 0},
    {2, I, "LastUpdateTime", 2054, DT_WSTRING, Y, TF},
    {2, I, "ACDescription", 2167, DT_WSTRING, N, 0},
    {2, I, "SlotID", 2237, DT_WSTRING, N, 0},
    {0, I, "PrivateAttribute_ZR35", 2067, DT_BYTES, Y, 0},
};

inline constexpr NodeRow kVirusRows[] = {
    {0, I, "FunctionCode", 2118, DT_INT16, Y, 0},
    {0, I, "VirusLogType", 2068, DT_INT16, Y, 0},
    {0, I, "VirusName", 1133, DT_WSTRING, Y, 0},
    {0, I, "IsMoreThanOneVirus", 2119, DT_UINT16, Y, 0},
    {0, I, "FirstAction", 1011, DT_INT16, Y, 0},
    {0, I, "SecondAction", 1012, DT_INT16, Y, 0},
    {0, I, "FirstActionResult", 2120, DT_INT16, Y, 0},
    {0, I, "SecondActionResult", 2121, DT_INT16, Y, 0},
    {0, I, "Filename", 1066, DT_WSTRING, Y, 0},
    {0, I, "FilePath", 2122, DT_WSTRING, Y, 0},
    {0, I, "FileNameInCompressedFile", 2123, DT_WSTRING, Y, 0},
    {0, I, "InfectionSource", 2124, DT_WSTRING, Y, 0},
    {0, I, "InfectionDestination", 2125, DT_WSTRING, Y, 0},
    {0, I, "EngineType", 2076, DT_UINT32, Y, 0},
    {0, I, "EngineVersion", 2077, DT_WSTRING, Y, 0},
    {0, I, "PatternNumber", 2028, DT_WSTRING, Y, 0},
    {0, I, "InternalPatternNumber", 2126, DT_WSTRING, Y, 0},
    {0, I, "Protocol", 2127, DT_INT16, Y, 0},
    {0, I, "Subject", 2096, DT_WSTRING, Y, 0},
    {0, I, "DeliverTime", 2128, DT_WSTRING, Y, TF},
    {0, I, "StorageGroup", 2129, DT_WSTRING, Y, 0},
    {0, I, "DataBaseName", 2130, DT_WSTRING, Y, 0},
    {0, I, "FolderName", 2131, DT_WSTRING, Y, 0},
    {0, I, "MessageID", 2132, DT_INT16, Y, 0},
    {0, I, "ClientIPAddress", 2133, DT_WSTRING, Y, 0},
    {0, I, "ResultCode", 2134, DT_INT16, Y, 0},
    {0, I, "InfectTarget", 2135, DT_WSTRING, Y, 0},
    {0, I, "LoginUser", 2136, DT_WSTRING, Y, 0},
    {0, I, "JobID", 2108, DT_INT16, Y, 0},
    {0, I, "TaskID", 2109, DT_INT16, Y, 0},
    {0, I, "MAJOR_VIRUS_TYPE", 2137, DT_INT16, Y, 0},
    {0, I, "SUB_VIRUS_TYPE", 2138, DT_INT16, Y, 0},
    {0, I, "FromTime", 2147, DT_WSTRING, Y, TF},
    {0, I, "ToTime", 2148, DT_WSTRING, Y, TF},
    {0, I, "VirusCount", 2149, DT_UINT32, Y, 0},
    {0, I, "DetectedSite", 2150, DT_UINT32, Y, 0},
    {0, I, "DomainName", 2012, DT_WSTRING, Y, 0},
    {0, I, "ClientGUID", 2151, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kNetworkPacketRows[] = {
    {0, I, "VirusLogType", 2068, DT_INT16, Y, 0},
    {0, I, "InfectedIP", 2069, DT_WSTRING, Y, 0},
    {0, I, "InfectedHostName", 2070, DT_WSTRING, Y, 0},
    {0, I, "InfectedMAC", 2071, DT_WSTRING, Y, 0},
    {0, I, "VirusName", 1133, DT_WSTRING, Y, 0},
    {0, I, "VirusCleanable", 2072, DT_INT16, Y, 0},
    {0, I, "ScanAction", 2073, DT_INT16, Y, 0},
    {0, I, "NotifyLUMCleanAction", 2074, DT_INT16, Y, 0},
    {0, I, "AutoRemoveQuarantine", 2075, DT_UINT16, Y, 0},
    {0, I, "EngineType", 2076, DT_UINT32, Y, 0},
    {0, I, "EngineVersion", 2077, DT_WSTRING, Y, 0},
    {0, I, "EngineVersionSecond", 2078, DT_WSTRING, Y, 0},
    {0, I, "PatternVersion", 2079, DT_WSTRING, Y, 0},
    {0, I, "PatternVersionSecond", 2080, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kSecurityRows[] = {
    {0, I, "FilterAction", 2091, DT_INT16, Y, 0},
    {0, I, "FilterActionResult", 2092, DT_INT16, Y, 0},
    {0, I, "MessageAction", 2093, DT_INT16, Y, 0},
    {0, I, "Filename", 1066, DT_WSTRING, Y, 0},
    {0, I, "Sender", 2094, DT_WSTRING, Y, 0},
    {0, I, "Recipient", 2095, DT_WSTRING, Y, 0},
    {0, I, "Subject", 2096, DT_WSTRING, Y, 0},
    {0, I, "Q_Area_PathName", 2097, DT_WSTRING, Y, 0},
    {0, I, "Q_Area_EntityName", 2098, DT_WSTRING, Y, 0},
    {0, I, "PolicyName", 2099, DT_WSTRING, Y, 0},
    {0, I, "PolicyContent", 2100, DT_WSTRING, Y, 0},
    {0, I, "FilterType", 2101, DT_INT16, Y, 0},
    {0, I, "FilterName", 2102, DT_WSTRING, Y, 0},
    {0, I, "FilterContent", 2103, DT_WSTRING, Y, 0},
    {0, I, "ViolationDescription", 2104, DT_WSTRING, Y, 0},
    {0, I, "ProtocolName", 2086, DT_WSTRING, Y, 0},
    {0, I, "DeliveryTimeInElapsedSeconds", 2105, DT_INT16, Y, 0},
    {0, I, "MailID", 2106, DT_WSTRING, Y, 0},
    {0, I, "QuarantineAreaName", 2107, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kWebSecurityRows[] = {
    {0, I, "ReasonCodeSymbol", 2139, DT_WSTRING, Y, 0},
    {0, I, "ReasonCodeDescription", 2140, DT_WSTRING, Y, 0},
    {0, I, "RedAlertID", 1008, DT_WSTRING, Y, 0},
    {0, I, "ObjectNameURL", 2141, DT_WSTRING, Y, 0},
    {0, I, "ClientIP", 2088, DT_WSTRING, Y, 0},
    {0, I, "Filename", 1066, DT_WSTRING, Y, 0},
    {0, I, "BlockingType", 2142, DT_INT16, Y, 0},
    {0, I, "BlockingRule", 2143, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kURLUsageRows[] = {
    {0, I, "RequestTime", 2084, DT_WSTRING, Y, TF},
    {0, I, "ServerName", 1041, DT_WSTRING, Y, 0},
    {0, I, "ServerIP", 2085, DT_WSTRING, Y, 0},
    {0, I, "ProtocolName", 2086, DT_WSTRING, Y, 0},
    {0, I, "DomainName", 2012, DT_WSTRING, Y, 0},
    {0, I, "URLPath", 2087, DT_WSTRING, Y, 0},
    {0, I, "ClientIP", 2088, DT_WSTRING, Y, 0},
    {0, I, "RequestUsername", 2089, DT_WSTRING, Y, 0},
    {0, I, "Protocol_OP", 2090, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kPerformanceMetricRows[] = {
    {0, I, "SnapshotTime", 2081, DT_WSTRING, Y, TF},
    {0, I, "ServerName", 1041, DT_WSTRING, Y, 0},
    {0, I, "MetricType", 2082, DT_INT16, Y, 0},
    {0, I, "MetricValue", 2083, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kVulnerabilityRows[] = {
    {0, I, "JobID", 2108, DT_INT16, Y, 0},
    {0, I, "TaskID", 2109, DT_INT16, Y, 0},
    {0, I, "Action", 1062, DT_INT16, Y, 0},
    {0, I, "Restricted", 2110, DT_INT16, Y, 0},
    {0, I, "Status", 2036, DT_INT16, Y, 0},
    {0, I, "Description", 2111, DT_INT16, Y, 0},
    {0, I, "DomainName", 2012, DT_WSTRING, Y, 0},
    {0, I, "IPAddress", 2112, DT_WSTRING, Y, 0},
    {0, I, "TaskName", 2113, DT_WSTRING, Y, 0},
    {0, I, "EngineVersion", 2077, DT_WSTRING, Y, 0},
    {0, I, "TemplateNumber", 2114, DT_WSTRING, Y, 0},
    {0, I, "VulnerabilityNames", 2115, DT_BYTES, Y, 0},
    {0, I, "PotentialVirus", 2116, DT_BYTES, Y, 0},
    {0, I, "VulnerabilityIDs", 2117, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kESVRows[] = {
    {0, I, "ReasonCodeDescription", 2140, DT_WSTRING, Y, 0},
    {0, I, "IPAddress", 2112, DT_WSTRING, Y, 0},
    {0, I, "MACAddressList", 2011, DT_WSTRING, Y, 0},
    {0, I, "InfectedHostName", 2070, DT_WSTRING, Y, 0},
    {0, I, "PolicyName", 2099, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_UserName", 2160, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_Service", 2161, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_ServiceID", 2173, DT_UINT32, Y, 0},
    {0, I, "QEL_ES_ViolationTime", 2162, DT_WSTRING, Y, TF},
    {0, I, "QEL_ES_EnforcementAction", 2163, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_RemediationAction", 2164, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_Detail", 2165, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kESCRows[] = {
    {0, I, "ReasonCodeDescription", 2140, DT_WSTRING, Y, 0},
    {0, I, "IPAddress", 2112, DT_WSTRING, Y, 0},
    {0, I, "MACAddressList", 2011, DT_WSTRING, Y, 0},
    {0, I, "InfectedHostName", 2070, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_UserName", 2160, DT_WSTRING, Y, 0},
    {0, I, "PolicyName", 2099, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_Service", 2161, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_ServiceID", 2173, DT_UINT32, Y, 0},
    {0, I, "QEL_ES_Time", 2166, DT_WSTRING, Y, TF},
    {0, I, "QEL_ES_Detail", 2165, DT_WSTRING, Y, 0},
};

inline constexpr NodeRow kViolationStatsRows[] = {
    {0, I, "ReasonCodeDescription", 2140, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_SVS_Name", 2174, DT_WSTRING, Y, 0},
    {0, I, "QEL_ES_ServiceID", 2173, DT_UINT32, Y, 0},
    {0, I, "QEL_ES_SVS_Violation_Count", 2175, DT_UINT32, Y, 0},
};

// Header spans.
constexpr RowSpan kFullHeader = {kHeader, CountOf(kHeader)};
constexpr RowSpan kShortHeaderA = {kHeader, kMinorVersionRow};
constexpr RowSpan kShortHeaderB = {kHeader + kMinorVersionRow + 1, CountOf(kHeader) - kMinorVersionRow - 1};
constexpr RowSpan kTail = {kPrivateAttribute, CountOf(kPrivateAttribute)};

template <size_t N>
constexpr RowSpan Rows(const NodeRow (&rows)[N]) {
    return {rows, N};
}

inline constexpr RowSpan kEventSpans[] = {kFullHeader, Rows(kEventRows)};
inline constexpr RowSpan kCommandTrackingSpans[] = {kFullHeader, Rows(kCommandTrackingRows), kTail};
inline constexpr RowSpan kStatusSpans[] = {Rows(kStatusRows)};
inline constexpr RowSpan kVirusSpans[] = {kFullHeader, Rows(kVirusRows), kTail};
inline constexpr RowSpan kSecuritySpans[] = {kFullHeader, Rows(kSecurityRows), kTail};
inline constexpr RowSpan kWebSecuritySpans[] = {kFullHeader, Rows(kWebSecurityRows), kTail};
inline constexpr RowSpan kURLUsageSpans[] = {kFullHeader, Rows(kURLUsageRows)};
inline constexpr RowSpan kPerformanceMetricSpans[] = {kFullHeader, Rows(kPerformanceMetricRows)};
inline constexpr RowSpan kNetworkPacketSpans[] = {kFullHeader, Rows(kNetworkPacketRows)};
inline constexpr RowSpan kVulnerabilitySpans[] = {kFullHeader, Rows(kVulnerabilityRows)};
inline constexpr RowSpan kESVSpans[] = {kShortHeaderA, kShortHeaderB, Rows(kESVRows)};
inline constexpr RowSpan kESCSpans[] = {kShortHeaderA, kShortHeaderB, Rows(kESCRows)};
inline constexpr RowSpan kViolationStatsSpans[] = {kShortHeaderA, kShortHeaderB, Rows(kViolationStatsRows)};

inline constexpr Rename kViolationStatsRenames[] = {
    {2059, "ComponentCod"},
    {2061, "ReasonCod"},
};

#define EN_LOG_TABLE(cls, type, spans, renames, nrenames) \
    GrammarTable { cls, type, kConstraints, CountOf(kConstraints), spans, CountOf(spans), renames, nrenames }

// The grammars: class name, log message type, rows.  MessageKindList.h
// lists them.
inline constexpr GrammarTable kEvent = EN_LOG_TABLE("CEventLogGrammar", 1501, kEventSpans, nullptr, 0);
inline constexpr GrammarTable kCommandTracking =
    EN_LOG_TABLE("CCommandTrackingLogGrammar", 1503, kCommandTrackingSpans, nullptr, 0);
inline constexpr GrammarTable kStatus = EN_LOG_TABLE("CStatusLogGrammar", 1701, kStatusSpans, nullptr, 0);
inline constexpr GrammarTable kVirus = EN_LOG_TABLE("CVirusLogGrammar", 1703, kVirusSpans, nullptr, 0);
inline constexpr GrammarTable kSecurity = EN_LOG_TABLE("CSecurityLogGrammar", 1705, kSecuritySpans, nullptr, 0);
inline constexpr GrammarTable kWebSecurity =
    EN_LOG_TABLE("CWebSecurityLogGrammar", 1707, kWebSecuritySpans, nullptr, 0);
inline constexpr GrammarTable kURLUsage = EN_LOG_TABLE("CURLUsageLogGrammar", 1709, kURLUsageSpans, nullptr, 0);
inline constexpr GrammarTable kPerformanceMetric =
    EN_LOG_TABLE("CPerformanceMetricLogGrammar", 1711, kPerformanceMetricSpans, nullptr, 0);
inline constexpr GrammarTable kNetworkPacket =
    EN_LOG_TABLE("CNetworkPacketLogGrammar", 1713, kNetworkPacketSpans, nullptr, 0);
inline constexpr GrammarTable kVulnerability =
    EN_LOG_TABLE("CVulnerabilityLogGrammar", 1715, kVulnerabilitySpans, nullptr, 0);
inline constexpr GrammarTable kESV = EN_LOG_TABLE("CESVLogGrammar", 1717, kESVSpans, nullptr, 0);
inline constexpr GrammarTable kESC = EN_LOG_TABLE("CESCLogGrammar", 1719, kESCSpans, nullptr, 0);
inline constexpr GrammarTable kViolationStats = EN_LOG_TABLE("CViolationStatsLogGrammar", 1721, kViolationStatsSpans,
                                                             kViolationStatsRenames, CountOf(kViolationStatsRenames));

#undef EN_LOG_TABLE

}  // namespace log
}  // namespace grammar

#endif  // EN_LOGGRAMMARTABLES_H
