#include "Describe.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "GrammarTree.h"
#include "MessageJson.h"
#include "MessageKindList.h"

namespace tool {

namespace {

using grammar::ConstraintKind;
using grammar::ConstraintRow;
using grammar::GrammarTable;
using msgjson::GrammarNode;
using nlohmann::ordered_json;

// How the library walks a message against a grammar (Rules adds the groups
// that may repeat).
const char* const kRules[] = {
    "The entries of a group instance may come in any order.",
    "An item occurs at most once in each instance of its group: a second occurrence is code 101 (\"...is not "
    "allowed to exist in group '...' for more than once.\").",
    "Every entry must carry its node's data type, and its ID must be a node of the innermost open group; "
    "otherwise code 101.",
    "An end-of-group entry must carry the ID of the innermost open group.",
    "A required node must occur in each instance of its group. This is checked when the group's end-of-group "
    "entry arrives (of several missing nodes the lowest ID is named), and at the end of the data for the "
    "innermost group still open, which is Root when every group was closed; the groups around it, Root "
    "included, are then not checked. A required group counts as present from its begin-of-group entry on, "
    "whatever it holds.",
    "An item's constraint is checked after its type and its count: a repeated item with a bad value is reported "
    "as repeated. The first violation ends the check.",
    "The full list of violations (every violation of a message, the first being the verdict) goes on after each: "
    "a bad value (102) or an item given twice is reported and the walk goes on; an entry whose ID the open group "
    "lacks, or of the wrong type, is reported and skipped, a begin-of-group entry with its whole subtree; an "
    "end-of-group entry for another group is reported and ignored; at an end-of-group entry and at the end of the "
    "data every required node missing from that group instance is reported, lowest ID first; each group but Root "
    "still open at the end of the data adds a note (code 0, not a violation): \"The message ends inside group "
    "'...'.\"; an entry after Root is closed, Root closed before the end, and an entry the blob reader refuses "
    "(300) are reported and end the walk. At most 100 records, notes included, unless the caller sets another "
    "cap.",
};

// What the time format constraint accepts, exactly as the library checks it.
// Every example is quoted and followed by "passes" or "fails" (the tests
// check them against the library).
const char* const kTimeStrings[] = {
    "Six integers as sscanf reads \"%d/%d/%d %d:%d:%d\" or \"%d-%d-%d %d:%d:%d\": both date separators are '/' "
    "or both '-', the time separators ':'.",
    "Each integer is optional white space, an optional sign (+ or -) and one or more decimal digits, as many as "
    "given. No range is checked: \"2024/13/45 99:99:99\" passes, \"+1/-2/3 4:5:6\" passes, "
    "\"20240000000000000000/1/1 0:0:0\" passes.",
    "No white space before a separator (\"2024 /5/17 9:30:00\" fails); white space after one is the next "
    "integer's (\"2024/ 5/ 17 9: 30: 00\" passes).",
    "Between date and time any run of white space, also none: \"2024/5/17+9:30:00\" passes, "
    "\"2024/5/179:30:00\" fails (the day takes the digits).",
    "White space before the first integer is allowed; anything after the sixth is ignored "
    "(\"2024/5/17 9:30:00.5 PM\" passes, \"2024/05/17 09:30\" fails).",
    "White space is what isspace() of the process locale says; in \"C\": space, \\t, \\n, \\v, \\f, \\r.",
    "A STRING value is checked as it is. A WSTRING value is checked as the narrow text that wcstombs makes of "
    "it under the process locale, at most 255 bytes (en-validate: --locale, default \"C\"); a character the "
    "locale cannot convert (in \"C\" any character outside ASCII) ends the text there, and the error quotes "
    "that text. Values of other types pass.",
};

const ConstraintRow* FindConstraint(const GrammarTable& table, x_uint32 id) {
    for (size_t i = 0; i < table.nConstraints; ++i)
        if (table.pConstraints[i].nID == id) return &table.pConstraints[i];
    return nullptr;
}

const char* NameOf(const ConstraintRow& c) { return c.eKind == ConstraintKind::TimeFormat ? "TimeFormat" : c.pszName; }

const char* KindOf(ConstraintKind kind) {
    switch (kind) {
        case ConstraintKind::TimeFormat: return "time_format";
        case ConstraintKind::SignedRange: return "signed_range";
        case ConstraintKind::UnsignedRange: return "unsigned_range";
        case ConstraintKind::Length: return "length";
        case ConstraintKind::AnyOf: return "any_of";
        case ConstraintKind::AllOf: return "all_of";
    }
    return "unknown";
}

// What a kind of constraint checks.
const char* KindText(ConstraintKind kind) {
    switch (kind) {
        case ConstraintKind::TimeFormat: return "a time string (see Time strings).";
        case ConstraintKind::SignedRange:
            return "MIN <= value <= MAX, INT16 and UINT16 values sign-extended, INT32 and UINT32 values read as "
                   "signed; values of other types pass. A violation is code 102 and names the bounds.";
        case ConstraintKind::UnsignedRange:
            return "MIN <= value <= MAX, INT16 and UINT16 values zero-extended, INT32 and UINT32 values read as "
                   "unsigned; values of other types pass. A violation is code 102 and names the bounds.";
        case ConstraintKind::Length:
            return "MIN <= length <= MAX: bytes of a STRING without its terminating zero, 4-byte characters "
                   "of a WSTRING without its terminator, bytes of BYTES; values of other types pass.";
        case ConstraintKind::AnyOf:
            return "the members are tried in ascending ID order; the value passes at the first member that accepts "
                   "it, else the last member's violation is reported (no members: it passes). A member the grammar does "
                   "not define is code 300 when the check reaches it.";
        case ConstraintKind::AllOf:
            return "every member must accept the value, tried in ascending ID order; the first violation is "
                   "reported. A member the grammar does not define is code 300 "
                   "when the check reaches it.";
    }
    return "";
}

bool IsGroup(ConstraintKind kind) { return kind == ConstraintKind::AnyOf || kind == ConstraintKind::AllOf; }

// A group's members in the order they are tried: ascending, once each,
// without the group's own ID.
std::vector<x_uint32> MembersOf(const ConstraintRow& c) {
    std::vector<x_uint32> ids(c.pMembers, c.pMembers + c.nMembers);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    ids.erase(std::remove(ids.begin(), ids.end(), c.nID), ids.end());
    return ids;
}

std::string TypeText(x_uint32 code) {
    const char* name = msgjson::TypeName(code);
    return name ? name : std::to_string(code);
}

// path: the groups being expanded, so that a cycle ends the description.
std::string ConstraintText(const GrammarTable& table, const ConstraintRow& c, std::vector<x_uint32>& path) {
    const std::string head = std::to_string(c.nID) + " " + NameOf(c) + ": ";
    const std::string bounds = std::to_string(c.nLow) + ".." + std::to_string(c.nHigh);
    switch (c.eKind) {
        case ConstraintKind::TimeFormat: return head + "time string \"%d/%d/%d %d:%d:%d\" or \"%d-%d-%d %d:%d:%d\"";
        case ConstraintKind::SignedRange: return head + "signed value " + bounds;
        case ConstraintKind::UnsignedRange: return head + "unsigned value " + bounds;
        case ConstraintKind::Length: return head + "length " + bounds;
        case ConstraintKind::AnyOf:
        case ConstraintKind::AllOf: break;
    }
    std::string text = head + (c.eKind == ConstraintKind::AnyOf ? "any of (" : "all of (");
    path.push_back(c.nID);
    const std::vector<x_uint32> members = MembersOf(c);
    for (size_t i = 0; i < members.size(); ++i) {
        if (i) text += "; ";
        const ConstraintRow* m = FindConstraint(table, members[i]);
        if (m == nullptr)
            text += std::to_string(members[i]) + ": undefined";
        else if (std::find(path.begin(), path.end(), m->nID) != path.end())
            text += std::to_string(members[i]) + ": cycle";
        else
            text += ConstraintText(table, *m, path);
    }
    path.pop_back();
    return text + ")";
}

ordered_json ConstraintJson(const GrammarTable& table, const ConstraintRow& c, std::vector<x_uint32>& path) {
    ordered_json out;
    out["id"] = c.nID;
    out["name"] = NameOf(c);
    out["kind"] = KindOf(c.eKind);
    if (c.eKind == ConstraintKind::TimeFormat) {
        out["formats"] = {"%d/%d/%d %d:%d:%d", "%d-%d-%d %d:%d:%d"};
    } else if (!IsGroup(c.eKind)) {
        out["min"] = c.nLow;
        out["max"] = c.nHigh;
    } else {
        path.push_back(c.nID);
        ordered_json members = ordered_json::array();
        for (x_uint32 id : MembersOf(c)) {
            const ConstraintRow* m = FindConstraint(table, id);
            if (m == nullptr)
                members.push_back({{"id", id}, {"kind", "undefined"}});
            else if (std::find(path.begin(), path.end(), id) != path.end())
                members.push_back({{"id", id}, {"kind", "cycle"}});
            else
                members.push_back(ConstraintJson(table, *m, path));
        }
        out["members"] = std::move(members);
        path.pop_back();
    }
    return out;
}

// The kinds of constraint the grammar registers, in the order of ConstraintKind.
std::vector<ConstraintKind> KindsOf(const GrammarTable& table) {
    std::vector<ConstraintKind> kinds;
    for (size_t i = 0; i < table.nConstraints; ++i) kinds.push_back(table.pConstraints[i].eKind);
    std::sort(kinds.begin(), kinds.end());
    kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
    return kinds;
}

// The groups below Root as paths ("PatternInfo/Info"): every one may occur
// any number of times in one instance of its parent.
void GroupPaths(const GrammarNode& group, const std::string& prefix, std::vector<std::string>& out) {
    for (const GrammarNode& node : group.children)
        if (node.group) {
            out.push_back(prefix + node.name);
            GroupPaths(node, prefix + node.name + "/", out);
        }
}

std::vector<std::string> RepeatingGroups(const GrammarTable& table) {
    std::vector<std::string> paths;
    GroupPaths(msgjson::GrammarRoot(table), "", paths);
    return paths;
}

std::string GroupsRule(const std::vector<std::string>& groups) {
    if (groups.empty()) return "This grammar has no groups below Root.";
    std::string text = "Groups may repeat: each of ";
    for (size_t i = 0; i < groups.size(); ++i) text += (i ? ", " : "") + groups[i];
    return text + " may occur any number of times in one instance of its parent, each occurrence checked on its own.";
}

// The rules of kRules with the groups that may repeat after the second.
std::vector<std::string> Rules(const GrammarTable& table) {
    std::vector<std::string> rules(std::begin(kRules), std::end(kRules));
    rules.insert(rules.begin() + 2, GroupsRule(RepeatingGroups(table)));
    return rules;
}

// "  - text", wrapped at 79 columns.
std::string Bullet(const std::string& text) {
    std::string out, line = "  -";
    size_t i = 0;
    while (i < text.size()) {
        const size_t end = std::min(text.find(' ', i), text.size());
        const std::string word = text.substr(i, end - i);
        if (line.size() + 1 + word.size() > 79 && line.size() > 4) {
            out += line + "\n";
            line = "   ";
        }
        line += " " + word;
        i = end + 1;
    }
    return out + line + "\n";
}

void NodeRows(const GrammarTable& table, const GrammarNode& group, unsigned depth, size_t width, std::string& out) {
    char line[512];
    for (const GrammarNode& node : group.children) {
        const std::string name = std::string(2u * depth, ' ') + node.name;
        std::string constraint;
        if (node.constraint != 0) {
            const ConstraintRow* c = FindConstraint(table, node.constraint);
            constraint = std::to_string(node.constraint) + " " + (c ? NameOf(*c) : "(undefined)");
        }
        std::snprintf(line, sizeof line, "  %-6u %-*s  %-8s %-9s %s", static_cast<unsigned>(node.id),
                      static_cast<int>(width), name.c_str(), TypeText(node.type).c_str(),
                      node.required ? "required" : "optional", constraint.c_str());
        std::string text = line;
        text.erase(text.find_last_not_of(' ') + 1);
        out += text + "\n";
        NodeRows(table, node, depth + 1, width, out);
    }
}

size_t NameWidth(const GrammarNode& group, unsigned depth) {
    size_t width = 4;
    for (const GrammarNode& node : group.children)
        width = std::max({width, 2u * depth + std::string(node.name).size(), NameWidth(node, depth + 1)});
    return width;
}

ordered_json NodesJson(const GrammarTable& table, const GrammarNode& group) {
    ordered_json nodes = ordered_json::array();
    for (const GrammarNode& n : group.children) {
        ordered_json node;
        node["id"] = n.id;
        node["name"] = n.name;
        node["type"] = TypeText(n.type);
        node["type_code"] = n.type;
        node["required"] = n.required;
        node["repeats"] = n.group;
        if (n.constraint != 0) {
            const ConstraintRow* c = FindConstraint(table, n.constraint);
            node["constraint"] = c ? ordered_json{{"id", c->nID}, {"name", NameOf(*c)}}
                                   : ordered_json{{"id", n.constraint}, {"name", nullptr}};
        }
        if (n.group) node["children"] = NodesJson(table, n);
        nodes.push_back(std::move(node));
    }
    return nodes;
}

}  // namespace

const GrammarTable* FindGrammar(const std::string& name) {
    using grammar::kMessageKinds;
    if (name == "register" || name == "registration") return kMessageKinds[grammar::kRegistrationKind].pTable;
    x_int32 type = 0;
    const char* end = name.data() + name.size();
    auto [ptr, ec] = std::from_chars(name.data(), end, type);
    if (name.empty() || ec != std::errc() || ptr != end) return nullptr;
    const size_t kind = grammar::KindIndex(true, type);
    return kind < grammar::kMessageKindCount ? kMessageKinds[kind].pTable : nullptr;
}

std::string GrammarNames() {
    std::string names;
    for (const grammar::MessageKind& kind : grammar::kMessageKinds)
        names += kind.bLog ? std::to_string(kind.MsgType()) + ", " : "register";
    return names;
}

std::string DescribeText(const GrammarTable& table) {
    std::string out = table.pszClass;
    out += table.nMsgType != 0 ? ": log message type " + std::to_string(table.nMsgType) : ": registration message";
    out += "\nConstraints:\n";
    std::vector<x_uint32> path;
    for (size_t i = 0; i < table.nConstraints; ++i)
        out += "  " + ConstraintText(table, table.pConstraints[i], path) + "\n";
    const GrammarNode& root = msgjson::GrammarRoot(table);
    const size_t width = NameWidth(root, 0);
    out += "Nodes of group Root:\n";
    char line[512];
    std::snprintf(line, sizeof line, "  %-6s %-*s  %-8s %-9s %s\n", "ID", static_cast<int>(width), "NAME", "TYPE",
                  "REQUIRED", "CONSTRAINT");
    out += line;
    NodeRows(table, root, 0, width, out);
    out += "Rules:\n";
    for (const std::string& rule : Rules(table)) out += Bullet(rule);
    out += "Constraint kinds:\n";
    const std::vector<ConstraintKind> kinds = KindsOf(table);
    for (ConstraintKind kind : kinds) out += Bullet(std::string(KindOf(kind)) + ": " + KindText(kind));
    if (std::count(kinds.begin(), kinds.end(), ConstraintKind::TimeFormat) != 0) {
        out += "Time strings:\n";
        for (const char* rule : kTimeStrings) out += Bullet(rule);
    }
    return out;
}

ordered_json DescribeJson(const GrammarTable& table) {
    ordered_json out;
    out["grammar"] = table.pszClass;
    out["kind"] = table.nMsgType != 0 ? "log" : "register";
    if (table.nMsgType != 0) out["msgtype"] = table.nMsgType;
    ordered_json constraints = ordered_json::array();
    std::vector<x_uint32> path;
    for (size_t i = 0; i < table.nConstraints; ++i)
        constraints.push_back(ConstraintJson(table, table.pConstraints[i], path));
    out["constraints"] = std::move(constraints);
    out["nodes"] = NodesJson(table, msgjson::GrammarRoot(table));
    out["rules"] = Rules(table);
    out["repeating_groups"] = RepeatingGroups(table);
    ordered_json kinds = ordered_json::object();
    for (ConstraintKind kind : KindsOf(table)) kinds[KindOf(kind)] = KindText(kind);
    const bool time = kinds.contains("time_format");
    out["constraint_kinds"] = std::move(kinds);
    if (time) out["time_strings"] = std::vector<std::string>(std::begin(kTimeStrings), std::end(kTimeStrings));
    return out;
}

}  // namespace tool
