// BlobGrammar.h - grammar nodes, the grammar object and the grammar registry.
//
// A grammar is a tree of nodes: groups inside, items at the leaves, plus a
// registry of value constraints that items name by ID.  A message entry is
// matched to a node by its ID within the innermost open group, and must
// carry the node's data type.  Grammars are built once and then only read;
// the registry hands out one lazily built instance per message kind and
// never frees it.
#ifndef EN_BLOBGRAMMAR_H
#define EN_BLOBGRAMMAR_H

#include <atomic>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

#include "BlobReader.h"
#include "GrammarTable.h"
#include "MyString.h"
#include "my/AutoPtr.h"
#include "my/MyTree.h"

class CDataConstraint;
class CConstraintGroup;
class CViolation;

enum NodeType { NT_GROUP = 0, NT_ITEM = 1 };

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
// Beside the owning map it keeps the sub-nodes as slots: a compact array in
// ascending ID order holding what the parser needs for each entry, found
// through a hash table of their IDs, so that matching an entry takes about
// one probe and a parsing context counts occurrences in an array indexed by
// slot.  Slots and table are rebuilt by every AddNode, before anything
// changes, so a failed AddNode leaves the group as it was.
class CGroupNode : public CNode {
public:
    typedef my::CMap<x_uint32, CNode*> SubNodeMap;

    struct CSlot {
        const CNode* pNode;
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
    // and leaves the node with the caller's pointer.
    void AddNode(my::CAutoPtr<CNode> pNode);
    // The sub-node an entry matches; throws CSyntaxErrorException for an
    // unknown ID or a wrong data type.
    const CNode* MatchSubNode(x_uint32 nID, x_uint32 nDataType) const;
    const SubNodeMap& GetSubNodes() const { return m_SubNodes; }

    // The slot an entry matches, or -1 with the violation that
    // MatchSubNode would throw.
    int MatchSlot(x_uint32 nID, x_uint32 nDataType, CViolation& v) const {
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
    static void _BuildSlotHash(const std::vector<CSlot>& slots, std::vector<CHashEntry>& table, unsigned& shift);

    SubNodeMap m_SubNodes;
    std::vector<CSlot> m_Slots;  // in ascending ID order
    std::vector<CHashEntry> m_SlotHash;
    std::vector<x_uint32> m_RequiredSlots;
    size_t m_nHashMask;
    unsigned m_nHashShift;
};

// A grammar: the root group "Root" (ID 0) and the constraint registry.
// Grammar classes derive from it and only fill it in their constructors.
class CBlobGrammar {
public:
    CBlobGrammar();
    ~CBlobGrammar();
    CBlobGrammar(const CBlobGrammar&) = delete;
    CBlobGrammar& operator=(const CBlobGrammar&) = delete;

    // Registers a constraint under its ID; a duplicate throws
    // CInternalErrorException and leaves it with the caller's pointer.
    void AddConstraint(my::CAutoPtr<CDataConstraint> pConstraint);
    void AddConstraint(my::CAutoPtr<CConstraintGroup> pConstraint);
    // Throws CInternalErrorException for an unregistered ID.
    const CDataConstraint* GetConstraint(x_uint32 nID) const;
    // The same, or null with the violation that GetConstraint would throw.
    const CDataConstraint* ResolveConstraint(x_uint32 nID, CViolation& v) const;
    // Applies the node's constraint, if it names one, to the entry.
    void VerifyDataConstraint(const CMsgEntry& entry, const CNode& node) const;
    // The same, reporting a violation instead of throwing it.
    bool CheckDataConstraint(const CMsgEntry& entry, const CNode& node, CViolation& v) const;

    const CGroupNode& GetRoot() const { return m_Root; }

    // The registry.  Each grammar is built on its first request and kept
    // for the life of the process; a construction that throws leaves
    // nothing behind and is tried again on the next request.  Safe to call
    // from several threads: concurrent first requests build one grammar.
    static const CBlobGrammar* GetLogGrammar(int nMsgType);  // null: no grammar
    static const CBlobGrammar* GetRegGrammar();               // never null
    static const CBlobGrammar* GetCmdGrammar();               // always null

protected:
    // Builds the tree and constraints described by a table.
    void _Build(const grammar::GrammarTable& table);
    CGroupNode& _Root() { return m_Root; }

    template <class G>
    static const CBlobGrammar* _GetInstance(std::atomic<G*>& slot);

private:
    void _BuildConstraint(const grammar::ConstraintRow& row);

    CGroupNode m_Root;
    my::CMap<x_uint32, const CDataConstraint*> m_Constraints;
    // The constraints again, as an array in ascending ID order for lookups.
    std::vector<std::pair<x_uint32, const CDataConstraint*>> m_ConstraintIndex;

    static std::mutex s_RegistryMutex;
};


// Double-checked lazy construction of one grammar singleton.  The slot is
// set only after the constructor has returned; a constructor that throws
// leaves it null (the partly built grammar is destroyed by the new-expression).
template <class G>
const CBlobGrammar* CBlobGrammar::_GetInstance(std::atomic<G*>& slot) {
    G* p = slot.load(std::memory_order_acquire);
    if (p != nullptr) return p;
    std::lock_guard<std::mutex> lock(s_RegistryMutex);
    p = slot.load(std::memory_order_relaxed);
    if (p == nullptr) {
        p = new G();
        slot.store(p, std::memory_order_release);
    }
    return p;
}

#endif  // EN_BLOBGRAMMAR_H
