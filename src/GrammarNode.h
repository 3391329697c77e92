// GrammarNode.h - the nodes of a grammar tree.
//
// Groups are inner nodes, items the leaves.  A message entry is matched to
// a node by its ID within the innermost open group and must carry the
// node's data type.  Nodes are constant data, made when the library is
// compiled (GrammarImage.h), and only read.
#ifndef EN_GRAMMARNODE_H
#define EN_GRAMMARNODE_H

#include <cstddef>

#include "BlobReader.h"

class CDataConstraint;
class CViolation;

enum NodeType { NT_GROUP = 0, NT_ITEM = 1 };

// What every node has.  Names are used only in messages.
class CNode {
public:
    constexpr CNode() = default;
    constexpr CNode(const char* name, x_uint32 nID, x_uint32 nDataType, bool bRequired, x_uint32 nConstraintID)
        : m_pszName(name), m_nID(nID), m_nDataType(nDataType), m_bRequired(bRequired), m_nConstraintID(nConstraintID) {}

    NodeType GetNodeType() const { return m_nDataType == DT_GROUP ? NT_GROUP : NT_ITEM; }
    // A group's is DT_GROUP, the type of the entry that opens it.
    x_uint32 GetDataType() const { return m_nDataType; }
    const char* GetName() const { return m_pszName; }
    x_uint32 GetID() const { return m_nID; }
    bool IsRequired() const { return m_bRequired; }
    x_uint32 GetConstraintID() const { return m_nConstraintID; }  // 0: none; always 0 for a group

private:
    const char* m_pszName = "";
    x_uint32 m_nID = 0;
    x_uint32 m_nDataType = 0;
    bool m_bRequired = false;
    x_uint32 m_nConstraintID = 0;
};

// A leaf: one entry carrying a value of its data type.
class CItemNode : public CNode {
public:
    constexpr CItemNode() = default;
    constexpr CItemNode(const char* name, x_uint32 nID, x_uint32 nDataType, bool bRequired, x_uint32 nConstraintID)
        : CNode(name, nID, nDataType, bRequired, nConstraintID) {}
};

// An inner node, with what the parser reads: its sub-nodes as slots, a
// compact array in ascending ID order holding what the parser needs for
// each entry (the value constraint resolved), found through a hash table of
// their IDs, so that matching an entry takes about one probe and a parsing
// context counts occurrences in an array indexed by slot; and the slots of
// the required sub-nodes.
class CGroupNode : public CNode {
public:
    struct CSlot {
        const CNode* pNode;
        const CDataConstraint* pConstraint;  // null: none
        x_uint32 nDataType;
        bool bGroup;
        bool bRequired;
    };
    // Linear probing in a table at most half full.
    struct CHashEntry {
        x_uint32 nID;
        x_uint32 nSlot;  // slot + 1; 0: free
    };

    constexpr CGroupNode() = default;
    constexpr CGroupNode(const char* name, x_uint32 nID, bool bRequired, const CSlot* pSlots, x_uint32 nSlots,
                         const CHashEntry* pHash, unsigned nHashBits, const x_uint32* pRequired, x_uint32 nRequired)
        : CNode(name, nID, DT_GROUP, bRequired, 0),
          m_pSlots(pSlots),
          m_pSlotHash(pHash),
          m_pRequiredSlots(pRequired),
          m_nSlots(nSlots),
          m_nRequiredSlots(nRequired),
          m_nHashMask((x_uint32{1} << nHashBits) - 1),
          m_nHashShift(32 - nHashBits) {}

    // The slot an entry matches, or -1 with the violation (101: an unknown
    // ID or a wrong data type).
    int MatchSubNode(x_uint32 nID, x_uint32 nDataType, CViolation& v) const {
        const int slot = FindSlot(nID);
        if (slot >= 0 && m_pSlots[slot].nDataType == nDataType) return slot;
        _ReportMismatch(nID, nDataType, slot, v);
        return -1;
    }
    // The slot of a sub-node ID, or -1.
    int FindSlot(x_uint32 nID) const {
        for (x_uint32 i = HashOf(nID, m_nHashShift);; i = (i + 1) & m_nHashMask) {
            const CHashEntry& entry = m_pSlotHash[i];
            if (entry.nID == nID && entry.nSlot != 0) return static_cast<int>(entry.nSlot - 1);
            if (entry.nSlot == 0) return -1;
        }
    }
    size_t GetSlotCount() const { return m_nSlots; }
    const CSlot& GetSlot(size_t slot) const { return m_pSlots[slot]; }
    // The slots of the required sub-nodes, ascending.
    const x_uint32* GetRequiredSlots() const { return m_pRequiredSlots; }
    size_t GetRequiredSlotCount() const { return m_nRequiredSlots; }

    // Where an ID starts its probe in a table of 2^(32 - shift) entries.
    static constexpr x_uint32 HashOf(x_uint32 nID, unsigned shift) {
        return static_cast<x_uint32>(nID * 0x9E3779B1u) >> shift;
    }

private:
    void _ReportMismatch(x_uint32 nID, x_uint32 nDataType, int slot, CViolation& v) const;

    const CSlot* m_pSlots = nullptr;  // in ascending ID order
    const CHashEntry* m_pSlotHash = nullptr;
    const x_uint32* m_pRequiredSlots = nullptr;
    x_uint32 m_nSlots = 0;
    x_uint32 m_nRequiredSlots = 0;
    x_uint32 m_nHashMask = 0;
    unsigned m_nHashShift = 0;
};

#endif  // EN_GRAMMARNODE_H
