// GrammarNode.h - the nodes of a grammar tree.
//
// Groups are inner nodes, items the leaves.  A message entry is matched to
// a node by its ID within the innermost open group and must carry the
// node's data type.  Nodes are built while their grammar is built and only
// read afterwards.
#ifndef EN_GRAMMARNODE_H
#define EN_GRAMMARNODE_H

#include <cstddef>
#include <vector>

#include "BlobReader.h"
#include "MyString.h"
#include "my/AutoPtr.h"
#include "my/MyTree.h"

class CDataConstraint;
class CViolation;

enum NodeType { NT_GROUP = 0, NT_ITEM = 1 };

// A grammar's value constraints by ID (owned by the grammar).
typedef my::CMap<x_uint32, const CDataConstraint*> ConstraintMap;

// The constraint of an ID, or null when the grammar does not define it.
inline const CDataConstraint* FindConstraint(const ConstraintMap& constraints, x_uint32 nID) {
    return constraints.Contains(nID) ? constraints.Get(nID) : nullptr;
}

// Abstract base of all grammar nodes.  Names are used only in messages.
class CNode {
public:
    virtual ~CNode();
    virtual NodeType GetNodeType() const = 0;
    virtual x_uint32 GetDataType() const = 0;

    const char* GetName() const { return m_strName.c_str(); }
    x_uint32 GetID() const { return m_nID; }
    bool IsRequired() const { return m_bRequired; }
    x_uint32 GetConstraintID() const { return m_nConstraintID; }

    static my::CAutoPtr<CNode> CreateItemNode(const char* name, x_uint32 nID, Type nDataType, bool bRequired,
                                              x_uint32 nConstraintID);
    static my::CAutoPtr<CNode> CreateGroupNode(const char* name, x_uint32 nID, bool bRequired);

protected:
    CNode(const char* name, x_uint32 nID, bool bRequired, x_uint32 nConstraintID);
    CNode(const CNode&) = delete;
    CNode& operator=(const CNode&) = delete;

private:
    my::CString m_strName;
    x_uint32 m_nID;
    bool m_bRequired;
    x_uint32 m_nConstraintID;  // 0: no constraint
};

// A leaf: one entry carrying a value of type m_nDataType.
class CItemNode : public CNode {
public:
    CItemNode(const char* name, x_uint32 nID, Type nDataType, bool bRequired, x_uint32 nConstraintID);
    NodeType GetNodeType() const override { return NT_ITEM; }
    x_uint32 GetDataType() const override { return m_nDataType; }

private:
    x_uint32 m_nDataType;
};

// An inner node; owns its sub-nodes, keyed by their (unique) IDs.
//
// Once every sub-node is in, Complete derives what the parser reads: the
// sub-nodes as slots, a compact array in ascending ID order holding what
// the parser needs for each entry (the value constraint resolved), found
// through a hash table of their IDs, so that matching an entry takes about
// one probe and a parsing context counts occurrences in an array indexed by
// slot; and the slots of the required sub-nodes.  Until then no entry
// matches.
class CGroupNode : public CNode {
public:
    typedef my::CMap<x_uint32, CNode*> SubNodeMap;

    struct CSlot {
        const CNode* pNode;
        const CDataConstraint* pConstraint;  // null: none, or undefined in the grammar
        x_uint32 nDataType;
        x_uint32 nConstraintID;  // 0: none
        bool bGroup;
        bool bRequired;
    };

    CGroupNode(const char* name, x_uint32 nID, bool bRequired);
    ~CGroupNode() override;
    NodeType GetNodeType() const override { return NT_GROUP; }
    x_uint32 GetDataType() const override { return DT_GROUP; }

    // Takes ownership on success; a duplicate ID throws CInternalErrorException
    // and leaves the node with the caller's pointer.  On any failure the
    // group stays as it was.
    void AddNode(my::CAutoPtr<CNode> pNode);
    // Derives slots, hash table and required slots from the sub-nodes, with
    // each item's constraint looked up in constraints.  Called once, when
    // the group has all its sub-nodes; on failure the group stays as it was.
    void Complete(const ConstraintMap& constraints);

    // The slot an entry matches, or -1 with the violation (101: an unknown
    // ID or a wrong data type).
    int MatchSubNode(x_uint32 nID, x_uint32 nDataType, CViolation& v) const {
        const int slot = FindSlot(nID);
        if (slot >= 0 && m_Slots[static_cast<size_t>(slot)].nDataType == nDataType) return slot;
        _ReportMismatch(nID, nDataType, slot, v);
        return -1;
    }
    // The slot of a sub-node ID, or -1.
    int FindSlot(x_uint32 nID) const {
        for (size_t i = _HashOf(nID, m_nHashShift);; i = (i + 1) & m_nHashMask) {
            const CHashEntry& entry = m_SlotHash[i];
            if (entry.nID == nID && entry.nSlot != 0) return static_cast<int>(entry.nSlot - 1);
            if (entry.nSlot == 0) return -1;
        }
    }
    size_t GetSlotCount() const { return m_Slots.size(); }
    const CSlot& GetSlot(size_t slot) const { return m_Slots[slot]; }
    // The slots of the required sub-nodes, ascending.
    const std::vector<x_uint32>& GetRequiredSlots() const { return m_RequiredSlots; }

private:
    void _ReportMismatch(x_uint32 nID, x_uint32 nDataType, int slot, CViolation& v) const;
    static size_t _HashOf(x_uint32 nID, unsigned shift) { return static_cast<x_uint32>(nID * 0x9E3779B1u) >> shift; }
    // Hashes the IDs into a table at most half full, probed linearly.
    struct CHashEntry {
        x_uint32 nID;
        x_uint32 nSlot;  // slot + 1; 0: free
    };

    SubNodeMap m_SubNodes;
    std::vector<CSlot> m_Slots;  // in ascending ID order
    std::vector<CHashEntry> m_SlotHash;
    std::vector<x_uint32> m_RequiredSlots;
    size_t m_nHashMask;
    unsigned m_nHashShift;
};

#endif  // EN_GRAMMARNODE_H
