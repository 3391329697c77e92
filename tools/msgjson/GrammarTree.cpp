#include "GrammarTree.h"

#include "MessageKindList.h"

namespace msgjson {

namespace {

// The sub-nodes of a group: rows from i on while they are at least this
// deep (a row of depth d belongs to the nearest group row above it of
// depth d - 1).
std::vector<GrammarNode> Children(const grammar::GrammarTable& table, const std::vector<const grammar::NodeRow*>& rows,
                                  size_t& i, unsigned depth) {
    std::vector<GrammarNode> nodes;
    while (i < rows.size() && rows[i]->nDepth >= depth) {
        const grammar::NodeRow& row = *rows[i++];
        const bool group = row.eKind == grammar::NodeKind::Group;
        nodes.push_back({grammar::NameOf(table, row), row.nID, row.nDataType, group, row.bRequired, row.nConstraintID,
                         group ? Children(table, rows, i, depth + 1u) : std::vector<GrammarNode>()});
    }
    return nodes;
}

GrammarNode Build(const grammar::GrammarTable& table) {
    std::vector<const grammar::NodeRow*> rows;
    grammar::ForEachRow(table, [&](const grammar::NodeRow& row, const char*) { rows.push_back(&row); });
    size_t i = 0;
    return {"Root", 0, DT_GROUP, true, false, 0, Children(table, rows, i, 0)};
}

const std::vector<GrammarNode>& Trees() {
    static const std::vector<GrammarNode> trees = [] {
        std::vector<GrammarNode> all;
        for (const grammar::MessageKind& kind : grammar::kMessageKinds) all.push_back(Build(*kind.pTable));
        return all;
    }();
    return trees;
}

}  // namespace

const GrammarNode* GrammarNode::Child(uint32_t nID) const {
    for (const GrammarNode& c : children)
        if (c.id == nID) return &c;
    return nullptr;
}

const GrammarNode& GrammarRoot(const grammar::GrammarTable& table) {
    size_t k = 0;
    while (grammar::kMessageKinds[k].pTable != &table) ++k;
    return Trees()[k];
}

const GrammarNode* GrammarRoot(bool log, int32_t msgType) {
    const size_t k = grammar::KindIndex(log, msgType);
    return k < grammar::kMessageKindCount ? &Trees()[k] : nullptr;
}

void NodeWalk::SetRoot(const GrammarNode* root) {
    m_root = root;
    const GrammarNode* group = root;
    for (Open& open : m_open) group = open.node = group != nullptr ? group->Child(open.id) : nullptr;
}

NodeWalk::Step NodeWalk::Next(uint32_t id, uint32_t type) {
    const GrammarNode* group = m_open.empty() ? m_root : m_open.back().node;
    if (group != nullptr && !group->group) group = nullptr;
    if (type == DT_END_OF_GROUP) {
        if (m_open.empty()) return {nullptr, group, 0};
        const Open closed = m_open.back();
        m_open.pop_back();
        return {closed.id == id ? group : nullptr, group, m_open.size()};
    }
    const GrammarNode* node = group != nullptr ? group->Child(id) : nullptr;
    const size_t depth = m_open.size();
    if (type == DT_GROUP) m_open.push_back({id, node});
    return {node, group, depth};
}

}  // namespace msgjson
