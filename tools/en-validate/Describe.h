// Describe.h - describing a grammar from the tables the library is built
// from (src/LogGrammarTables.h, src/RegisterDataGrammarTable.h, as the node
// tree of GrammarTree.h).
#ifndef EN_TOOLS_DESCRIBE_H
#define EN_TOOLS_DESCRIBE_H

#include <string>

#include <nlohmann/json.hpp>

#include "GrammarTable.h"

namespace tool {

// The table named by a log message type ("1701") or "register"; null when
// there is none.
const grammar::GrammarTable* FindGrammar(const std::string& name);

// "1501, 1503, ..., 1721, register"
std::string GrammarNames();

// The constraints with their bounds, then the node tree: ID, name
// (indented by depth), data type, required or optional, constraint; then
// the whole rule: order, repetition (which groups may repeat), required
// nodes, what each kind of constraint the grammar uses checks, and exactly
// what a time string is.
std::string DescribeText(const grammar::GrammarTable& table);

// {"grammar", "kind", "msgtype" (logs), "constraints": [...],
//  "nodes": [{"id", "name", "type", "type_code", "required", "repeats",
//             "constraint" (if any), "children" (groups)}],
//  "rules": [...], "repeating_groups": ["PatternInfo", "PatternInfo/Info"],
//  "constraint_kinds": {"time_format": "...", ...},
//  "time_strings": [...] (when the grammar has a time format constraint)}
nlohmann::ordered_json DescribeJson(const grammar::GrammarTable& table);

}  // namespace tool

#endif  // EN_TOOLS_DESCRIBE_H
