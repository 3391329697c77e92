// ThreadCache.h - my::CThreadCache<T>, one object of T per thread.
//
// Get() returns the calling thread's object, made with `new T` on the
// thread's first call and deleted when the thread ends (threads started by
// any means; the process's first thread keeps it until exit).  It returns
// null, rather than failing, when the object cannot be made: memory is
// exhausted, or no thread-specific key is left.  Callers then do without
// the cache.
//
// Unlike a thread_local object with a destructor, it never ends the process
// when the C library cannot record the destructor (glibc aborts then).  The
// destructor runs from the library that uses the cache, so such a library
// is linked with -z nodelete: dlclose leaves it mapped.
#ifndef MY_THREADCACHE_H
#define MY_THREADCACHE_H

#include <pthread.h>

#include <new>

namespace my {

template <class T>
class CThreadCache {
public:
    static T* Get() {
        T* p = t_pObject;
        return p != nullptr ? p : _Make();
    }

private:
    struct CKey {
        CKey() : bValid(pthread_key_create(&key, &CThreadCache::_Destroy) == 0) {}
        pthread_key_t key;
        bool bValid;
    };

    static T* _Make() {
        static const CKey s_Key;  // created once, never deleted
        if (!s_Key.bValid) return nullptr;
        T* p = new (std::nothrow) T();
        if (p == nullptr) return nullptr;
        if (pthread_setspecific(s_Key.key, p) != 0) {
            delete p;
            return nullptr;
        }
        t_pObject = p;
        return p;
    }

    static void _Destroy(void* p) {
        t_pObject = nullptr;
        delete static_cast<T*>(p);
    }

    static thread_local T* t_pObject;
};

template <class T>
thread_local T* CThreadCache<T>::t_pObject = nullptr;

}  // namespace my

#endif  // MY_THREADCACHE_H
