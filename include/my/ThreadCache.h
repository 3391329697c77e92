// ThreadCache.h - my::CThreadCache<T>, one object of T per thread.
//
// Get() returns the calling thread's object, made with `new T` on the
// thread's first call and deleted when the thread ends (threads started by
// any means; the process's first thread keeps it until exit).  It returns
// null, rather than failing, when the object cannot be made: memory is
// exhausted, or no thread-specific key is left.  Callers then do without
// the cache.
//
// The object is found through a thread-specific key, never a thread_local
// variable: the C library allocates a dlopen'ed library's thread-local
// storage on each thread's first use of it and ends the process when that
// allocation fails (glibc: "cannot allocate memory for thread-local data"),
// and it ends the process too when it cannot record a thread_local
// object's destructor.  The key's destructor runs from the library that
// uses the cache, so such a library is linked with -z nodelete: dlclose
// leaves it mapped.
#ifndef MY_THREADCACHE_H
#define MY_THREADCACHE_H

#include <pthread.h>

#include <new>

namespace my {

template <class T>
class CThreadCache {
public:
    static T* Get() {
        const CKey& key = _Key();
        if (!key.bValid) return nullptr;
        T* p = static_cast<T*>(pthread_getspecific(key.key));
        return p != nullptr ? p : _Make(key);
    }

private:
    struct CKey {
        CKey() : bValid(pthread_key_create(&key, &CThreadCache::_Destroy) == 0) {}
        pthread_key_t key;
        bool bValid;
    };

    static const CKey& _Key() {
        static const CKey s_Key;  // created once, never deleted
        return s_Key;
    }

    static T* _Make(const CKey& key) {
        T* p = new (std::nothrow) T();
        if (p == nullptr) return nullptr;
        if (pthread_setspecific(key.key, p) != 0) {
            delete p;
            return nullptr;
        }
        return p;
    }

    // The C library clears the thread's value before calling this.
    static void _Destroy(void* p) { delete static_cast<T*>(p); }
};

}  // namespace my

#endif  // MY_THREADCACHE_H
