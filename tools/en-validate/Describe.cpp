#include "Describe.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "MessageJson.h"
#include "MessageKindList.h"

namespace tool {

namespace {

using grammar::ConstraintKind;
using grammar::ConstraintRow;
using grammar::GrammarTable;
using grammar::NodeRow;
using nlohmann::ordered_json;

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
        case ConstraintKind::TimeFormat: return head + "time string \"Y/M/D h:m:s\" or \"Y-M-D h:m:s\"";
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

struct Row {
    const NodeRow* row;
    const char* name;
};

std::vector<Row> RowsOf(const GrammarTable& table) {
    std::vector<Row> rows;
    grammar::ForEachRow(table, [&](const NodeRow& row, const char* name) { rows.push_back({&row, name}); });
    return rows;
}

// The nodes of one group: rows from i on while they are at least this deep.
ordered_json NodesJson(const GrammarTable& table, const std::vector<Row>& rows, size_t& i, unsigned depth) {
    ordered_json nodes = ordered_json::array();
    while (i < rows.size() && rows[i].row->nDepth >= depth) {
        const NodeRow& row = *rows[i].row;
        ordered_json node;
        node["id"] = row.nID;
        node["name"] = rows[i].name;
        node["type"] = TypeText(row.nDataType);
        node["type_code"] = row.nDataType;
        node["required"] = row.bRequired;
        ++i;
        if (row.nConstraintID != 0) {
            const ConstraintRow* c = FindConstraint(table, row.nConstraintID);
            node["constraint"] = c ? ordered_json{{"id", c->nID}, {"name", NameOf(*c)}}
                                   : ordered_json{{"id", row.nConstraintID}, {"name", nullptr}};
        }
        if (row.eKind == grammar::NodeKind::Group) node["children"] = NodesJson(table, rows, i, depth + 1u);
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
    const std::vector<Row> rows = RowsOf(table);
    size_t width = 4;
    for (const Row& r : rows) width = std::max(width, 2u * r.row->nDepth + std::string(r.name).size());
    out += "Nodes of group Root:\n";
    char line[512];
    std::snprintf(line, sizeof line, "  %-6s %-*s  %-8s %-9s %s\n", "ID", static_cast<int>(width), "NAME", "TYPE",
                  "REQUIRED", "CONSTRAINT");
    out += line;
    for (const Row& r : rows) {
        const NodeRow& row = *r.row;
        const std::string name = std::string(2u * row.nDepth, ' ') + r.name;
        std::string constraint;
        if (row.nConstraintID != 0) {
            const ConstraintRow* c = FindConstraint(table, row.nConstraintID);
            constraint = std::to_string(row.nConstraintID) + " " + (c ? NameOf(*c) : "(undefined)");
        }
        std::snprintf(line, sizeof line, "  %-6u %-*s  %-8s %-9s %s", static_cast<unsigned>(row.nID),
                      static_cast<int>(width), name.c_str(), TypeText(row.nDataType).c_str(),
                      row.bRequired ? "required" : "optional", constraint.c_str());
        std::string text = line;
        text.erase(text.find_last_not_of(' ') + 1);
        out += text + "\n";
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
    const std::vector<Row> rows = RowsOf(table);
    size_t i = 0;
    out["nodes"] = NodesJson(table, rows, i, 0);
    return out;
}

}  // namespace tool
