// ErrorText.h - what a call throws, as "<code> <text>".
#ifndef EN_TESTS_ERRORTEXT_H
#define EN_TESTS_ERRORTEXT_H

#include <functional>
#include <string>

#include "ExceptionBase.h"

namespace testmsg {

// The code and text of the CExceptionBase that f throws; empty if none.
inline std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CExceptionBase& e) {
        return std::to_string(e.m_nErrCode) + " " + e.m_szErrMsg;
    }
    return "";
}

}  // namespace testmsg

#endif  // EN_TESTS_ERRORTEXT_H
