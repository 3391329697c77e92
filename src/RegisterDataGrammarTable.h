// RegisterDataGrammarTable.h - the registration message's grammar as data.
//
// Columns as in LogGrammarTables.h.  Constraint IDs and node IDs are
// separate number spaces: node 1001 is "ProductGUID", constraint 1001 is
// the first range of the entity status.
#ifndef EN_REGISTERDATAGRAMMARTABLE_H
#define EN_REGISTERDATAGRAMMARTABLE_H

#include "GrammarTable.h"

namespace grammar {
namespace reg {

constexpr NodeKind I = NodeKind::Item;
constexpr NodeKind G = NodeKind::Group;
constexpr bool Y = true;
constexpr bool N = false;

constexpr x_uint32 kEntStatusP1 = 1001;
constexpr x_uint32 kEntStatusP2 = 1002;
constexpr x_uint32 kEntType = 1003;
constexpr x_uint32 kTimeFormat = 1004;
constexpr x_uint32 kEntityStatus = 2001;

inline constexpr x_uint32 kEntityStatusMembers[] = {kEntStatusP1, kEntStatusP2};

inline constexpr ConstraintRow kConstraints[] = {
    {ConstraintKind::SignedRange, "EntStatus_P1", kEntStatusP1, 0, 3, nullptr, 0},
    {ConstraintKind::SignedRange, "EntStatus_P2", kEntStatusP2, 100, 102, nullptr, 0},
    {ConstraintKind::SignedRange, "EntType", kEntType, 1, 3, nullptr, 0},
    {ConstraintKind::TimeFormat, "TimeFormat", kTimeFormat, 0, 0, nullptr, 0},
    {ConstraintKind::AnyOf, "EntityStatus", kEntityStatus, 0, 0, kEntityStatusMembers, CountOf(kEntityStatusMembers)},
};

inline constexpr NodeRow kRows[] = {
    {0, I, "ProductGUID", 1001, DT_WSTRING, Y, 0},
    {0, I, "ParentGUID", 2022, DT_WSTRING, N, 0},
    {0, I, "DisplayName", 2009, DT_WSTRING, Y, 0},
    {0, I, "FolderPath", 2023, DT_WSTRING, Y, 0},
    {0, I, "Status", 2036, DT_INT16, Y, kEntityStatus},
    {0, I, "IconName", 2019, DT_WSTRING, N, 0},
    {0, I, "Type", 2020, DT_INT16, Y, kEntType},
    {0, I, "ProductID", 2021, DT_INT16, Y, 0},
    {0, I, "ProductName", 2013, DT_WSTRING, Y, 0},
    {0, I, "ProductVersion", 2014, DT_WSTRING, Y, 0},
    {0, I, "MenuVersion", 2018, DT_WSTRING, Y, 0},
    {0, I, "ProductLanguageCode", 2057, DT_UINT32, Y, 0},
    {0, I, "ProductBuildNumber", 2015, DT_WSTRING, Y, 0},
    {0, I, "ProductServicePack", 2016, DT_WSTRING, N, 0},
    {0, I, "ConfigURL", 2159, DT_WSTRING, N, 0},
    {0, I, "HeartbeatFrequency", 2037, DT_UINT32, Y, 0},
    {0, I, "PollingFrequency", 2038, DT_UINT32, Y, 0},
    {0, I, "Hotfix", 2017, DT_WSTRING, N, 0},
    {0, I, "IPAddressList", 2010, DT_WSTRING, Y, 0},
    {0, I, "MACAddressList", 2011, DT_WSTRING, Y, 0},
    {0, I, "ProtocolName", 2086, DT_WSTRING, Y, 0},
    {0, I, "Port", 2025, DT_UINT16, Y, 0},
    {0, I, "VirtualPath", 2024, DT_WSTRING, Y, 0},
    {0, I, "FQDN", 2146, DT_WSTRING, Y, 0},
    {0, I, "DomainName", 2012, DT_WSTRING, Y, 0},
    {0, I, "ComputerName", 2008, DT_WSTRING, Y, 0},
    {0, I, "TimeZone", 2040, DT_INT16, Y, 0},
    {0, I, "TimeSaving", 2041, DT_INT16, Y, 0},
    {0, I, "OSName", 2003, DT_WSTRING, Y, 0},
    {0, I, "OSVersion", 2004, DT_WSTRING, N, 0},
    {0, I, "OSServicePack", 2005, DT_WSTRING, N, 0},
    {0, I, "OSLanguage", 2006, DT_UINT32, Y, 0},
    {0, I, "OSCountryCode", 2007, DT_INT16, N, 0},
    {0, I, "CPUType", 2042, DT_INT16, N, 0},
    {0, I, "AgentVersion", 2046, DT_WSTRING, Y, 0},
    {0, I, "AgentBuildNumber", 2047, DT_WSTRING, Y, 0},
    {0, I, "AgentSevicePack", 2048, DT_WSTRING, N, 0},
    {0, I, "AgentHotfix", 2049, DT_WSTRING, N, 0},
    {0, I, "ProLibVersion", 2155, DT_WSTRING, N, 0},
    {0, I, "ProLibBuildNumber", 2156, DT_WSTRING, N, 0},
    {0, I, "ProLibSevicePack", 2157, DT_WSTRING, N, 0},
    {0, I, "ProLibHotfix", 2158, DT_WSTRING, N, 0},
    {0, I, "UrlAuthId", 2176, DT_WSTRING, N, 0},
    {0, I, "UrlAuthPasswd", 2177, DT_WSTRING, N, 0},
    {0, G, "PatternInfo", 3002, DT_GROUP, N, 0},
    {1, G, "Info", 3001, DT_GROUP, N, 0},
    {2, I, "Name", 2052, DT_UINT32, Y, 0},
    {2, I, "Version", 2053, DT_WSTRING, Y, 0},
    {2, I, "LastUpdateTime", 2054, DT_WSTRING, Y, kTimeFormat},
    {0, G, "EngineInfo", 3003, DT_GROUP, N, 0},
    {1, G, "Info", 3001, DT_GROUP, N, 0},
    {2, I, "Name", 2052, DT_UINT32, Y, 0},
    {2, I, "Version", 2053, DT_WSTRING, Y, 0},
    {2, I, "LastUpdateTime", 2054, DT_WSTRING, Y, kTimeFormat},
    {0, G, "PRInfo", 3006, DT_GROUP, N, 0},
    {1, G, "Info", 3001, DT_GROUP, N, 0},
    {2, I, "ACKey", 2050, DT_WSTRING, Y, 0},
    {2, I, "Profile", 2051, DT_WSTRING, Y, 0},
    {2, I, "ACDescription", 2167, DT_WSTRING, N, 0},
    {2, I, "SlotID", 2237, DT_WSTRING, N, 0},
    {0, I, "PrivateAttribute", 2067, DT_BYTES, N, 0},
    {0, G, "Cluster", 3007, DT_GROUP, N, 0},
    {1, I, "Name", 2052, DT_WSTRING, N, 0},
    {1, I, "GUID", 2152, DT_WSTRING, N, 0},
};

inline constexpr RowSpan kSpans[] = {{kRows, CountOf(kRows)}};

inline constexpr GrammarTable kTable = {
    "CRegMessageGrammar", 0, kConstraints, CountOf(kConstraints), kSpans, CountOf(kSpans), nullptr, 0,
};

}  // namespace reg
}  // namespace grammar

#endif  // EN_REGISTERDATAGRAMMARTABLE_H
