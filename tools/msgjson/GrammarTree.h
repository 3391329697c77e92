// GrammarTree.h - the node tree of each grammar, derived from the tables the
// library is built from (src/MessageKindList.h), and the walk that finds the
// grammar node each entry of a message names.  Nothing here throws: the
// trees are built over malloc at the first call that finds the memory.
#ifndef EN_TOOLS_MSGJSON_GRAMMARTREE_H
#define EN_TOOLS_MSGJSON_GRAMMARTREE_H

#include <cstddef>
#include <cstdint>

#include "Fault.h"

namespace grammar {
struct GrammarTable;
}

namespace msgjson {

struct GrammarNode;

// The sub-nodes of a group, in the order the grammar adds them.
struct GrammarNodes {
    const GrammarNode* first;
    size_t count;

    const GrammarNode* begin() const { return first; }
    const GrammarNode* end() const;
};

struct GrammarNode {
    const char* name;
    uint32_t id;
    uint32_t type;  // DT_GROUP for groups
    bool group;
    bool required;
    uint32_t constraint;    // 0: none
    GrammarNodes children;  // of a group

    // The sub-node with this ID, or null.
    const GrammarNode* Child(uint32_t id) const;
};

inline const GrammarNode* GrammarNodes::end() const { return first + count; }

// The root group "Root" of grammar::kMessageKinds[k]; null when memory is
// exhausted.
const GrammarNode* KindRoot(size_t k);

// The root group of one of the grammar tables.  Defined by the C++ wrapper
// (Client.cpp), for the tool: throws std::bad_alloc when memory is
// exhausted.
const GrammarNode& GrammarRoot(const grammar::GrammarTable& table);

// The root of the log grammar of msgType (log), or of the registration
// grammar, into root: null for a log type without grammar.  False when
// memory is exhausted.
[[nodiscard]] bool GrammarRoot(bool log, int32_t msgType, const GrammarNode*& root);

// Follows the groups that the entries of a message open and close, as the
// validation does: an end-of-group entry closes the innermost open group.
// Each entry names the grammar node of its ID in the innermost open group,
// an end-of-group entry the group it closes (when the IDs agree).  Within a
// group the grammar does not know, nothing is named.
class NodeWalk {
public:
    explicit NodeWalk(const GrammarNode* root = nullptr) { SetRoot(root); }

    // The grammar from now on, also for the groups already open.
    void SetRoot(const GrammarNode* root);

    // No grammar and no open group, as new.
    void Reset() {
        m_root = nullptr;
        m_open.Clear();
    }

    struct Step {
        const GrammarNode* node;   // the node the entry names, or null
        const GrammarNode* group;  // the innermost open group, or null when unknown
        size_t depth;              // groups open around the entry (its own not counted)
    };

    // The next entry into step; moves past it.  False when memory is
    // exhausted.
    [[nodiscard]] bool Next(uint32_t id, uint32_t type, Step& step);

private:
    struct Open {
        uint32_t id;
        const GrammarNode* node;
    };
    const GrammarNode* m_root = nullptr;
    detail::Array<Open> m_open;
};

}  // namespace msgjson

#endif  // EN_TOOLS_MSGJSON_GRAMMARTREE_H
