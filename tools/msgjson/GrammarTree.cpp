#include "GrammarTree.h"

#include <atomic>
#include <cstdlib>

#include "MessageKindList.h"

namespace msgjson {

namespace {

// Rows from j on while they are deeper than depth: what a group row of that
// depth holds.
size_t PastGroup(const grammar::NodeRow* const* rows, size_t n, size_t j, unsigned depth) {
    while (j < n && rows[j]->nDepth > depth) ++j;
    return j;
}

// The sub-nodes of group: rows from i on while they are at least this deep
// (a row of depth d belongs to the nearest group row above it of depth
// d - 1), each group's together, taken from nodes at next.
void Children(const grammar::GrammarTable& table, const grammar::NodeRow* const* rows, size_t n, size_t& i,
              unsigned depth, GrammarNode* nodes, size_t& next, GrammarNode& group) {
    size_t count = 0;
    for (size_t j = i; j < n && rows[j]->nDepth >= depth; ++count)
        j = rows[j]->eKind == grammar::NodeKind::Group ? PastGroup(rows, n, j + 1, depth) : j + 1;
    GrammarNode* const first = nodes + next;
    next += count;
    group.children = {first, count};
    for (size_t c = 0; c < count; ++c) {
        const grammar::NodeRow& row = *rows[i++];
        const bool isGroup = row.eKind == grammar::NodeKind::Group;
        first[c] = {grammar::NameOf(table, row), row.nID, row.nDataType, isGroup, row.bRequired, row.nConstraintID, {}};
        if (isGroup) Children(table, rows, n, i, depth + 1u, nodes, next, first[c]);
    }
}

// Every grammar's tree in one block: the roots, in the order of
// kMessageKinds, then the other nodes.  Null when memory is exhausted.
GrammarNode* Build() {
    size_t rows = 0, most = 0;
    for (const grammar::MessageKind& kind : grammar::kMessageKinds) {
        size_t n = 0;
        grammar::ForEachRow(*kind.pTable, [&n](const grammar::NodeRow&, const char*) { ++n; });
        rows += n;
        most = n > most ? n : most;
    }
    auto* nodes = static_cast<GrammarNode*>(std::malloc((grammar::kMessageKindCount + rows) * sizeof(GrammarNode)));
    auto* list = static_cast<const grammar::NodeRow**>(std::malloc(most * sizeof(grammar::NodeRow*) + 1));
    if (nodes == nullptr || list == nullptr) {
        std::free(nodes);
        std::free(list);
        return nullptr;
    }
    size_t next = grammar::kMessageKindCount;
    for (size_t k = 0; k < grammar::kMessageKindCount; ++k) {
        const grammar::GrammarTable& table = *grammar::kMessageKinds[k].pTable;
        size_t n = 0, i = 0;
        grammar::ForEachRow(table, [&](const grammar::NodeRow& row, const char*) { list[n++] = &row; });
        nodes[k] = {"Root", 0, DT_GROUP, true, false, 0, {}};
        Children(table, list, n, i, 0, nodes, next, nodes[k]);
    }
    std::free(list);
    return nodes;
}

// The trees, once they are built; kept for the life of the process.
std::atomic<const GrammarNode*> g_trees{nullptr};

}  // namespace

const GrammarNode* GrammarNode::Child(uint32_t nID) const {
    for (const GrammarNode& c : children)
        if (c.id == nID) return &c;
    return nullptr;
}

const GrammarNode* KindRoot(size_t k) {
    const GrammarNode* trees = g_trees.load(std::memory_order_acquire);
    if (trees == nullptr) {
        GrammarNode* built = Build();
        if (built == nullptr) return nullptr;
        if (g_trees.compare_exchange_strong(trees, built, std::memory_order_acq_rel))
            trees = built;
        else
            std::free(built);  // another thread's came first
    }
    return &trees[k];
}

bool GrammarRoot(bool log, int32_t msgType, const GrammarNode*& root) {
    const size_t k = grammar::KindIndex(log, msgType);
    root = k < grammar::kMessageKindCount ? KindRoot(k) : nullptr;
    return root != nullptr || k == grammar::kMessageKindCount;
}

void NodeWalk::SetRoot(const GrammarNode* root) {
    m_root = root;
    const GrammarNode* group = root;
    for (Open& open : m_open) group = open.node = group != nullptr ? group->Child(open.id) : nullptr;
}

bool NodeWalk::Next(uint32_t id, uint32_t type, Step& step) {
    const GrammarNode* group = m_open.empty() ? m_root : m_open.back().node;
    if (group != nullptr && !group->group) group = nullptr;
    if (type == DT_END_OF_GROUP) {
        if (m_open.empty()) return step = {nullptr, group, 0}, true;
        const Open closed = m_open.back();
        m_open.Pop();
        return step = {closed.id == id ? group : nullptr, group, m_open.size()}, true;
    }
    const GrammarNode* node = group != nullptr ? group->Child(id) : nullptr;
    step = {node, group, m_open.size()};
    return type != DT_GROUP || m_open.Push({id, node});
}

}  // namespace msgjson
