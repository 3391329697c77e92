// En_Validate_Log: validates a log message against the grammar of its type.
#include "En_ValidationPrivate.h"
#include "ValidateMessage.h"

namespace {

struct CFetchLogGrammar {
    x_int32 nMsgType;
    const CBlobGrammar* operator()(CValidationResultAdaptor& adaptor) const {
        const CBlobGrammar* grammar = CGrammarRegistry::GetLogGrammar(nMsgType);
        if (grammar == nullptr) adaptor.SetResult(EN_VALIDATE_UNKNOWN_MSGTYPE, "Unknown MsgType=%d.", nMsgType);
        return grammar;
    }
};

}  // namespace

extern "C" void En_Validate_Log(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult) {
    CFirstViolation sink(nullptr);
    ValidateMessage(pMsgHandle, pResult, sink, CFetchLogGrammar{nMsgType});
}

extern "C" void En_Validate_Log_Located(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult,
                                       EN_VALIDATE_LOCATION* pLocation) {
    CFirstViolation sink(pLocation);
    ValidateMessage(pMsgHandle, pResult, sink, CFetchLogGrammar{nMsgType});
}

extern "C" x_uint32 En_Validate_Log_All(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult,
                                        x_uint32 nMaxViolations, EN_VALIDATE_SINK pfnSink, void* pContext) {
    return ValidateAll(pMsgHandle, pResult, nMaxViolations, pfnSink, pContext, CFetchLogGrammar{nMsgType});
}
