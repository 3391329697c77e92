// AutoPtr.h - my::CAutoPtr, a single-owner pointer.
//
// Passing a CAutoPtr by value hands ownership on and leaves the source
// empty; whatever a CAutoPtr still holds when it goes out of scope is
// deleted.  New grammar nodes and constraints travel in it: a call that
// takes ownership empties the caller's pointer only when it succeeds, so a
// rejected object is destroyed by the pointer that still holds it.
#ifndef MY_AUTOPTR_H
#define MY_AUTOPTR_H

namespace my {

template <class T>
class CAutoPtr {
public:
    explicit CAutoPtr(T* p = nullptr) : m_p(p) {}
    CAutoPtr(CAutoPtr& other) : m_p(other.Release()) {}
    CAutoPtr(CAutoPtr&& other) noexcept : m_p(other.Release()) {}
    template <class U>
    CAutoPtr(CAutoPtr<U>& other) : m_p(other.Release()) {}
    template <class U>
    CAutoPtr(CAutoPtr<U>&& other) : m_p(other.Release()) {}
    ~CAutoPtr() { delete m_p; }

    CAutoPtr& operator=(CAutoPtr other) noexcept {
        T* p = other.m_p;
        other.m_p = m_p;
        m_p = p;
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // Gives up ownership without deleting.
    T* Release() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }

private:
    T* m_p;
};

}  // namespace my

#endif  // MY_AUTOPTR_H
