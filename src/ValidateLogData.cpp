// En_Validate_Log: validates a log message against the grammar of its type.
#include "ValidateMessage.h"

extern "C" void En_Validate_Log(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult) {
    ValidateMessage(pMsgHandle, pResult, [nMsgType](CValidationResultAdaptor& adaptor) {
        const CBlobGrammar* grammar = CGrammarRegistry::GetLogGrammar(nMsgType);
        if (grammar == nullptr) adaptor.SetResult(EN_VALIDATE_UNKNOWN_MSGTYPE, "Unknown MsgType=%d.", nMsgType);
        return grammar;
    });
}
