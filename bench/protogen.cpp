// en_bench_protogen - writes the Protocol Buffers counterpart of every
// grammar, from the same tables the library builds its grammars from:
//
//   en_bench_protogen EnGrammars.proto EnGrammarChecks.h
//
// EnGrammars.proto (proto2, package enbench) has one message per grammar,
// Log<type> for the log grammars and Registration.  An item becomes a field
// whose number is the node ID, `required` where the node is required and
// `optional` otherwise; a group becomes a nested message and a `repeated`
// field of it.  Field names are the node names in lower case, nested
// message names the group names.  Types: DT_STRING, DT_WSTRING -> string,
// DT_BYTES -> bytes, DT_INT16, DT_INT32 -> int32, DT_UINT16, DT_UINT32 ->
// uint32.
//
// EnGrammarChecks.h has, for every message, the checks that the parse and
// IsInitialized leave to the application: no unknown field anywhere (a node
// the grammar does not have, or a value whose wire type does not fit the
// field), and the value constraints the grammar rows name: the time format
// through timetext::IsTimeText, the library's own routine, and value ranges
// widened as the library widens them.  kPbGrammars lists the messages.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "MessageKindList.h"

namespace {

using grammar::ConstraintKind;
using grammar::GrammarTable;
using grammar::NodeRow;

struct Node {
    const NodeRow* row = nullptr;
    std::string name;
    std::vector<Node> children;  // groups only
};

struct Grammar {
    const GrammarTable* table;
    int kind;  // log message type, or 0 for the registration message
    std::string message;
    Node root;
};

[[noreturn]] void Fail(const Grammar& g, const std::string& what) {
    throw std::runtime_error(std::string(g.table->pszClass) + ": " + what);
}

std::string Lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsCppKeyword(const std::string& s) {
    static const std::set<std::string> kKeywords = {
        "alignas", "alignof", "and", "asm", "auto", "bool", "break", "case", "catch", "char", "class",
        "const", "continue", "default", "delete", "do", "double", "else", "enum", "explicit", "export",
        "extern", "false", "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable",
        "namespace", "new", "not", "operator", "or", "private", "protected", "public", "register", "return",
        "short", "signed", "sizeof", "static", "struct", "switch", "template", "this", "throw", "true",
        "try", "typedef", "typeid", "typename", "union", "unsigned", "using", "virtual", "void", "volatile",
        "while", "xor"};
    return kKeywords.count(s) != 0;
}

// The outline of the table as a tree.
Grammar Load(const GrammarTable& table) {
    Grammar g{&table, table.nMsgType, table.nMsgType == 0 ? "Registration" : "Log" + std::to_string(table.nMsgType),
              Node{}};
    std::vector<Node*> open{&g.root};
    grammar::ForEachRow(table, [&](const NodeRow& row, const char* name) {
        if (row.nDepth + 1u > open.size()) Fail(g, "row " + std::string(name) + " skips a depth");
        open.resize(row.nDepth + 1u);
        open.back()->children.push_back(Node{&row, name, {}});
        if (row.eKind == grammar::NodeKind::Group) open.push_back(&open.back()->children.back());
    });
    return g;
}

const grammar::ConstraintRow& ConstraintOf(const Grammar& g, x_uint32 id) {
    for (size_t i = 0; i < g.table->nConstraints; ++i)
        if (g.table->pConstraints[i].nID == id) return g.table->pConstraints[i];
    Fail(g, "no constraint " + std::to_string(id));
}

const char* ProtoType(const Grammar& g, const NodeRow& row) {
    switch (row.nDataType) {
        case DT_STRING:
        case DT_WSTRING: return "string";
        case DT_BYTES: return "bytes";
        case DT_INT16:
        case DT_INT32: return "int32";
        case DT_UINT16:
        case DT_UINT32: return "uint32";
        default: Fail(g, "node " + std::to_string(row.nID) + " has a data type without protobuf counterpart");
    }
}

void CheckNames(const Grammar& g, const Node& group) {
    std::set<std::string> fields;
    std::set<x_uint32> numbers;
    for (const Node& n : group.children) {
        const std::string field = Lower(n.name);
        if (IsCppKeyword(field)) Fail(g, "field name " + field + " is a C++ keyword");
        if (!fields.insert(field).second) Fail(g, "two fields named " + field);
        if (!numbers.insert(n.row->nID).second) Fail(g, "two fields numbered " + std::to_string(n.row->nID));
        if (n.row->nID < 1 || n.row->nID > 536870911 || (n.row->nID >= 19000 && n.row->nID <= 19999))
            Fail(g, "node ID " + std::to_string(n.row->nID) + " is no valid field number");
        if (n.row->eKind == grammar::NodeKind::Group) CheckNames(g, n);
    }
}

void WriteMessage(std::ostream& out, const Grammar& g, const Node& group, const std::string& name,
                  const std::string& indent) {
    out << indent << "message " << name << " {\n";
    for (const Node& n : group.children)
        if (n.row->eKind == grammar::NodeKind::Group) WriteMessage(out, g, n, n.name, indent + "  ");
    for (const Node& n : group.children) {
        out << indent << "  ";
        if (n.row->eKind == grammar::NodeKind::Group)
            out << "repeated " << n.name;
        else
            out << (n.row->bRequired ? "required " : "optional ") << ProtoType(g, *n.row);
        out << " " << Lower(n.name) << " = " << n.row->nID << ";\n";
    }
    out << indent << "}\n";
}

// The value of an integer field widened to 32 bits as the library widens
// the entry's value for a range check.
std::string Widened(const NodeRow& row, const std::string& value, bool bSigned) {
    const bool narrow = row.nDataType == DT_INT16 || row.nDataType == DT_UINT16;
    if (bSigned)
        return narrow ? "static_cast<int32_t>(static_cast<int16_t>(" + value + "))" : "static_cast<int32_t>(" + value + ")";
    return narrow ? "static_cast<uint32_t>(static_cast<uint16_t>(" + value + "))" : "static_cast<uint32_t>(" + value + ")";
}

// A C++ condition that is true when the value passes the constraint, or
// empty when the constraint does not look at values of this type.
std::string Condition(const Grammar& g, const NodeRow& row, x_uint32 constraintID, const std::string& value,
                      int depth = 0) {
    if (depth > 16) Fail(g, "constraint " + std::to_string(constraintID) + " contains itself");
    const grammar::ConstraintRow& c = ConstraintOf(g, constraintID);
    const bool text = row.nDataType == DT_STRING || row.nDataType == DT_WSTRING;
    const bool integer = row.nDataType >= DT_INT16 && row.nDataType <= DT_UINT32;
    switch (c.eKind) {
        case ConstraintKind::TimeFormat:
            return text ? "timetext::IsTimeText(" + value + ".c_str())" : "";
        case ConstraintKind::SignedRange:
        case ConstraintKind::UnsignedRange: {
            if (!integer) return "";
            const bool bSigned = c.eKind == ConstraintKind::SignedRange;
            const std::string v = Widened(row, value, bSigned);
            const std::string suffix = bSigned ? "" : "u";
            return "(" + v + " >= " + std::to_string(c.nLow) + suffix + " && " + v + " <= " + std::to_string(c.nHigh) +
                   suffix + ")";
        }
        case ConstraintKind::AnyOf:
        case ConstraintKind::AllOf: {
            std::set<x_uint32> members(c.pMembers, c.pMembers + c.nMembers);  // tried in ascending ID order
            members.erase(c.nID);
            std::string all;
            for (x_uint32 m : members) {
                const std::string one = Condition(g, row, m, value, depth + 1);
                if (one.empty()) {
                    if (c.eKind == ConstraintKind::AnyOf) return "";  // a member that accepts the type
                    continue;
                }
                if (!all.empty()) all += c.eKind == ConstraintKind::AnyOf ? " || " : " && ";
                all += one;
            }
            if (members.empty()) Fail(g, "constraint " + std::to_string(constraintID) + " has no members");
            return all.empty() ? "" : "(" + all + ")";
        }
        case ConstraintKind::Length:
            break;
    }
    Fail(g, "constraint " + std::to_string(constraintID) + ": no protobuf counterpart written for its kind");
}

void WriteChecks(std::ostream& out, const Grammar& g, const Node& group, const std::string& type) {
    for (const Node& n : group.children)
        if (n.row->eKind == grammar::NodeKind::Group) WriteChecks(out, g, n, type + "::" + n.name);
    out << "inline bool Check(const " << type << "& m) {\n";
    out << "    if (!m.unknown_fields().empty()) return false;\n";
    for (const Node& n : group.children) {
        const std::string field = Lower(n.name);
        if (n.row->eKind == grammar::NodeKind::Group) {
            out << "    for (const auto& g : m." << field << "())\n        if (!Check(g)) return false;\n";
        } else if (n.row->nConstraintID != 0) {
            const std::string cond = Condition(g, *n.row, n.row->nConstraintID, "m." + field + "()");
            if (!cond.empty()) out << "    if (m.has_" << field << "() && !" << cond << ") return false;\n";
        }
    }
    out << "    return true;\n}\n\n";
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
    if (!f.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: en_bench_protogen OUT.proto OUT_checks.h\n";
        return 2;
    }
    try {
        std::vector<Grammar> grammars;
        for (const grammar::MessageKind& kind : grammar::kMessageKinds) grammars.push_back(Load(*kind.pTable));

        std::ostringstream proto;
        proto << "// Generated by en_bench_protogen from the grammar tables; do not edit.\n"
                 "syntax = \"proto2\";\n"
                 "package enbench;\n"
                 "option optimize_for = SPEED;\n";
        std::ostringstream checks;
        checks << "// Generated by en_bench_protogen from the grammar tables; do not edit.\n"
                  "#ifndef EN_BENCH_ENGRAMMARCHECKS_H\n#define EN_BENCH_ENGRAMMARCHECKS_H\n\n"
                  "#include <cstdint>\n\n#include \"EnGrammars.pb.h\"\n#include \"TimeText.h\"\n\n"
                  "namespace enbench {\n\n";
        for (const Grammar& g : grammars) {
            CheckNames(g, g.root);
            proto << "\n// " << g.table->pszClass << "\n";
            WriteMessage(proto, g, g.root, g.message, "");
            WriteChecks(checks, g, g.root, g.message);
        }
        checks << "struct PbGrammar {\n"
                  "    int kind;  // log message type, 0 for the registration message\n"
                  "    const google::protobuf::Message& (*prototype)();\n"
                  "    bool (*check)(const google::protobuf::Message&);\n"
                  "};\n\n"
                  "inline constexpr PbGrammar kPbGrammars[] = {\n";
        for (const Grammar& g : grammars)
            checks << "    {" << g.kind << ",\n     []() -> const google::protobuf::Message& { return " << g.message
                   << "::default_instance(); },\n     [](const google::protobuf::Message& m) { return Check(static_cast<const "
                   << g.message << "&>(m)); }},\n";
        checks << "};\n\n}  // namespace enbench\n\n#endif  // EN_BENCH_ENGRAMMARCHECKS_H\n";
        Write(argv[1], proto.str());
        Write(argv[2], checks.str());
    } catch (const std::exception& e) {
        std::cerr << "en_bench_protogen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
