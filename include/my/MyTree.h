// MyTree.h - keyed containers: my::CTree, my::CMap and snapshot iterators.
//
// CTree<T> is an unbalanced binary search tree ordered by operator< and
// compared by operator== on T; its shape follows the order of insertion.
// Inserting an element equal to one already present overwrites it.  A
// lookup that finds nothing throws the empty my::CNoSuchDataException;
// callers catch it at once and turn it into their own outcome.
//
// CMap<K, V> is a CTree of key/value pairs ordered and compared by key.
//
// Iterators are snapshots: creation collects the addresses of all elements
// in ascending order; later changes to the container are not seen, and an
// iterator must not outlive the elements it points at.  The caller owns a
// created iterator and deletes it through its interface.
//
// Containers never own what pointer elements point to.
#ifndef MY_TREE_H
#define MY_TREE_H

#include <cstddef>

#include "my/Assert.h"

namespace my {

// Thrown by a lookup of an absent element.  Carries nothing.
class CNoSuchDataException {};

}  // namespace my

// Iteration interfaces, shared by every container kind.
template <class T>
class CIterator {
public:
    virtual ~CIterator() {}
    virtual bool HasNext() const = 0;
    virtual T& Next() = 0;
};

template <class T>
class CConstIterator {
public:
    virtual ~CConstIterator() {}
    virtual bool HasNext() const = 0;
    virtual const T& Next() = 0;
};

namespace my {

template <class T>
class CVisitor {
public:
    virtual void Visit(T* pData) = 0;

protected:
    ~CVisitor() {}
};

// Collects element addresses into an array of fixed size.
template <class T>
class CTreeDataCollector : public CVisitor<T> {
public:
    explicit CTreeDataCollector(int size) : m_ppData(nullptr), m_Size(size), m_nIndex(0) {
        MY_ASSERT(size >= 0);
        if (size > 0) m_ppData = new T*[static_cast<size_t>(size)]();
    }
    CTreeDataCollector(const CTreeDataCollector&) = delete;
    CTreeDataCollector& operator=(const CTreeDataCollector&) = delete;
    virtual ~CTreeDataCollector() { delete[] m_ppData; }

    void Visit(T* pData) override {
        MY_ASSERT(pData);
        Set(m_nIndex, pData);
        ++m_nIndex;
    }

protected:
    void Set(int Index, T* pData) {
        MY_ASSERT(0 <= Index && Index < m_Size);
        m_ppData[Index] = pData;
    }

    T** m_ppData;
    int m_Size;
    int m_nIndex;
};

template <class T>
class CTreeIterator : public CTreeDataCollector<T>, public CIterator<T> {
public:
    explicit CTreeIterator(int size) : CTreeDataCollector<T>(size), m_nCursor(0) {}
    bool HasNext() const override { return m_nCursor < this->m_Size; }
    T& Next() override {
        MY_ASSERT(HasNext());
        return *this->m_ppData[m_nCursor++];
    }

private:
    int m_nCursor;
};

template <class T>
class CTreeConstIterator : public CTreeDataCollector<T>, public CConstIterator<T> {
public:
    explicit CTreeConstIterator(int size) : CTreeDataCollector<T>(size), m_nCursor(0) {}
    bool HasNext() const override { return m_nCursor < this->m_Size; }
    const T& Next() override {
        MY_ASSERT(HasNext());
        return *this->m_ppData[m_nCursor++];
    }

private:
    int m_nCursor;
};

template <class _ElemType>
class CTree {
public:
    struct CNode {
        explicit CNode(const _ElemType& data) : m_pLeft(nullptr), m_pRight(nullptr), m_Data(data) {}
        CNode* m_pLeft;
        CNode* m_pRight;
        _ElemType m_Data;
    };

    CTree() : m_pRoot(nullptr), m_nSize(0) {}
    CTree(const CTree& other) : m_pRoot(nullptr), m_nSize(0) {
        try {
            _Copy(m_pRoot, other.m_pRoot);
        } catch (...) {
            _DeleteAll(m_pRoot);  // what was copied before an allocation failed
            throw;
        }
        m_nSize = other.m_nSize;
    }
    CTree& operator=(const CTree& other) {
        if (this != &other) {
            CTree copy(other);
            Swap(copy);
        }
        return *this;
    }
    ~CTree() { _DeleteAll(m_pRoot); }

    // Adds the element, or overwrites an equal one.  Returns 1 if a node was
    // added, 0 if an element was overwritten.
    int Insert(const _ElemType& elem) {
        int added = _Insert(elem, &m_pRoot);
        m_nSize += added;
        return added;
    }

    // The element equal to elem; throws CNoSuchDataException if absent.
    _ElemType& Get(const _ElemType& elem) { return _Get(m_pRoot, elem)->m_Data; }
    const _ElemType& Get(const _ElemType& elem) const {
        CNode* root = m_pRoot;
        return _Get(root, elem)->m_Data;
    }
    bool Contains(const _ElemType& elem) const {
        for (const CNode* p = m_pRoot; p != nullptr;) {
            if (p->m_Data == elem) return true;
            p = elem < p->m_Data ? p->m_pLeft : p->m_pRight;
        }
        return false;
    }

    int GetSize() const { return m_nSize; }
    void Clear() {
        _DeleteAll(m_pRoot);
        m_pRoot = nullptr;
        m_nSize = 0;
    }
    void Swap(CTree& other) {
        CNode* r = m_pRoot;
        m_pRoot = other.m_pRoot;
        other.m_pRoot = r;
        int n = m_nSize;
        m_nSize = other.m_nSize;
        other.m_nSize = n;
    }

    // New snapshot iterators in ascending order; the caller deletes them.
    CIterator<_ElemType>* CreateIterator() { return _Collect(new CTreeIterator<_ElemType>(m_nSize)); }
    CConstIterator<_ElemType>* CreateConstIterator() const {
        return _Collect(new CTreeConstIterator<_ElemType>(m_nSize));
    }

    // Visits every element in ascending order.
    void Traverse(CVisitor<_ElemType>& visitor) const { _Traverse(visitor, m_pRoot); }

    static int _Insert(const _ElemType& elem, CNode** CurNode) {
        MY_ASSERT(CurNode);
        while (*CurNode != nullptr) {
            CNode* node = *CurNode;
            if (elem < node->m_Data) {
                CurNode = &node->m_pLeft;
            } else if (elem == node->m_Data) {
                node->m_Data = elem;
                return 0;
            } else {
                CurNode = &node->m_pRight;
            }
        }
        *CurNode = new CNode(elem);
        return 1;
    }

    static CNode*& _Get(CNode*& link, const _ElemType& elem) {
        CNode** cur = &link;
        while (*cur != nullptr) {
            if ((*cur)->m_Data == elem) return *cur;
            cur = elem < (*cur)->m_Data ? &(*cur)->m_pLeft : &(*cur)->m_pRight;
        }
        throw CNoSuchDataException();
    }

    // Recurses into left subtrees and loops along right ones, so a chain
    // built by ascending inserts costs no stack.
    static void _Copy(CNode*& dest, const CNode* src) {
        CNode** link = &dest;
        for (; src != nullptr; src = src->m_pRight) {
            *link = new CNode(src->m_Data);
            _Copy((*link)->m_pLeft, src->m_pLeft);
            link = &(*link)->m_pRight;
        }
    }

    static void _DeleteAll(CNode* node) {
        while (node != nullptr) {
            _DeleteAll(node->m_pLeft);
            CNode* right = node->m_pRight;
            delete node;
            node = right;
        }
    }

    static void _Traverse(CVisitor<_ElemType>& visitor, CNode* node) {
        for (; node != nullptr; node = node->m_pRight) {
            _Traverse(visitor, node->m_pLeft);
            visitor.Visit(&node->m_Data);
        }
    }

private:
    template <class It>
    It* _Collect(It* it) const {
        _Traverse(*it, m_pRoot);
        return it;
    }

    CNode* m_pRoot;
    int m_nSize;
};

template <class K, class V>
class CMap {
public:
    struct CPair {
        CPair(const K& key, const V& value) : m_Key(key), m_Value(value) {}
        bool operator<(const CPair& o) const { return m_Key < o.m_Key; }
        bool operator==(const CPair& o) const { return m_Key == o.m_Key; }
        K m_Key;
        V m_Value;
    };

    // Adds the pair, or overwrites the value of an equal key; 1 if added.
    int Insert(const K& key, const V& value) { return m_Tree.Insert(CPair(key, value)); }
    // The value of key; throws CNoSuchDataException if absent.
    V& Get(const K& key) { return m_Tree.Get(CPair(key, V())).m_Value; }
    const V& Get(const K& key) const { return m_Tree.Get(CPair(key, V())).m_Value; }
    bool Contains(const K& key) const { return m_Tree.Contains(CPair(key, V())); }
    int GetSize() const { return m_Tree.GetSize(); }
    void Clear() { m_Tree.Clear(); }
    void Swap(CMap& other) { m_Tree.Swap(other.m_Tree); }

    CIterator<CPair>* CreateIterator() { return m_Tree.CreateIterator(); }
    CConstIterator<CPair>* CreateConstIterator() const { return m_Tree.CreateConstIterator(); }
    // Visits every pair in ascending key order without allocating.
    void Traverse(CVisitor<CPair>& visitor) const { m_Tree.Traverse(visitor); }

private:
    CTree<CPair> m_Tree;
};

// Deletes what the values of a map of pointers point to, in ascending key
// order, and leaves the map as it is.  Allocates nothing, so a destructor
// may use it while memory is exhausted.
template <class K, class V>
void DeleteValues(const CMap<K, V*>& map) {
    struct CDeleter : CVisitor<typename CMap<K, V*>::CPair> {
        void Visit(typename CMap<K, V*>::CPair* pData) override { delete pData->m_Value; }
    } deleter;
    map.Traverse(deleter);
}

}  // namespace my

#endif  // MY_TREE_H
