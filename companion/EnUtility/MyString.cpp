#include "MyString.h"

#include <cstring>
#include <new>

namespace my {

static char* Duplicate(const char* psz) {
    if (psz == nullptr) psz = "";
    size_t n = std::strlen(psz) + 1;
    char* p = new char[n];
    std::memcpy(p, psz, n);
    return p;
}

CString::CString(const char* psz) : m_psz(Duplicate(psz)) {}
CString::CString(const CString& other) : m_psz(Duplicate(other.m_psz)) {}
CString::~CString() { delete[] m_psz; }
unsigned int CString::Length() const { return static_cast<unsigned int>(std::strlen(m_psz)); }

}  // namespace my
