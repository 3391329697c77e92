// MyString.h - my::CString of the utility library (libEn_Utility.so.1).
//
// An immutable, owned, zero-terminated narrow string.  Grammar nodes and
// constraints hold their names in it.  Construction copies the text (a null
// pointer gives the empty string) and throws std::bad_alloc on exhaustion.
#ifndef EN_COMPANION_MYSTRING_H
#define EN_COMPANION_MYSTRING_H

namespace my {

class __attribute__((visibility("default"))) CString {
public:
    explicit CString(const char* psz);
    CString(const CString& other);
    CString& operator=(const CString&) = delete;
    ~CString();

    const char* c_str() const { return m_psz; }
    operator const char*() const { return m_psz; }
    unsigned int Length() const;

private:
    char* m_psz;
};

}  // namespace my

#endif  // EN_COMPANION_MYSTRING_H
