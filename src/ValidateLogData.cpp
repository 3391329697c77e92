// En_Validate_Log: validates a log message against the grammar of its type.
#include "En_ValidationPrivate.h"
#include "ValidateMessage.h"

namespace {

void ValidateLog(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult, EN_VALIDATE_LOCATION* pLocation) {
    ValidateMessage(pMsgHandle, pResult, pLocation, [nMsgType](CValidationResultAdaptor& adaptor) {
        const CBlobGrammar* grammar = CGrammarRegistry::GetLogGrammar(nMsgType);
        if (grammar == nullptr) adaptor.SetResult(EN_VALIDATE_UNKNOWN_MSGTYPE, "Unknown MsgType=%d.", nMsgType);
        return grammar;
    });
}

}  // namespace

extern "C" void En_Validate_Log(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult) {
    ValidateLog(pMsgHandle, nMsgType, pResult, nullptr);
}

extern "C" void En_Validate_Log_Located(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult,
                                       EN_VALIDATE_LOCATION* pLocation) {
    ValidateLog(pMsgHandle, nMsgType, pResult, pLocation);
}
