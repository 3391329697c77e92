// GrammarTree.h - the node tree of each grammar, derived from the tables the
// library is built from (src/MessageKindList.h), and the walk that finds the
// grammar node each entry of a message names.
#ifndef EN_TOOLS_MSGJSON_GRAMMARTREE_H
#define EN_TOOLS_MSGJSON_GRAMMARTREE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace grammar {
struct GrammarTable;
}

namespace msgjson {

struct GrammarNode {
    const char* name;
    uint32_t id;
    uint32_t type;  // DT_GROUP for groups
    bool group;
    bool required;
    uint32_t constraint;                // 0: none
    std::vector<GrammarNode> children;  // of a group, in the order the grammar adds them

    // The sub-node with this ID, or null.
    const GrammarNode* Child(uint32_t id) const;
};

// The root group "Root" of one of the grammar tables; built once.
const GrammarNode& GrammarRoot(const grammar::GrammarTable& table);

// The root of the log grammar of msgType (log), or of the registration
// grammar; null for a log type without grammar.
const GrammarNode* GrammarRoot(bool log, int32_t msgType);

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
        m_open.clear();
    }

    struct Step {
        const GrammarNode* node;   // the node the entry names, or null
        const GrammarNode* group;  // the innermost open group, or null when unknown
        size_t depth;              // groups open around the entry (its own not counted)
    };

    // The next entry; moves past it.
    Step Next(uint32_t id, uint32_t type);

private:
    struct Open {
        uint32_t id;
        const GrammarNode* node;
    };
    const GrammarNode* m_root = nullptr;
    std::vector<Open> m_open;
};

}  // namespace msgjson

#endif  // EN_TOOLS_MSGJSON_GRAMMARTREE_H
