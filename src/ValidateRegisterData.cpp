// En_Validate_RegisterData: validates a registration message.
#include "En_ValidationPrivate.h"
#include "ValidateMessage.h"

namespace {

const CBlobGrammar* FetchRegGrammar(CValidationResultAdaptor&) { return CGrammarRegistry::GetRegGrammar(); }

}  // namespace

extern "C" void En_Validate_RegisterData(void* pMsgHandle, EN_VALIDATE_RESULT* pResult) {
    CFirstViolation sink(nullptr);
    ValidateMessage(pMsgHandle, pResult, sink, FetchRegGrammar);
}

extern "C" void En_Validate_RegisterData_Located(void* pMsgHandle, EN_VALIDATE_RESULT* pResult,
                                                EN_VALIDATE_LOCATION* pLocation) {
    CFirstViolation sink(pLocation);
    ValidateMessage(pMsgHandle, pResult, sink, FetchRegGrammar);
}

extern "C" x_uint32 En_Validate_RegisterData_All(void* pMsgHandle, EN_VALIDATE_RESULT* pResult,
                                                 x_uint32 nMaxViolations, EN_VALIDATE_SINK pfnSink,
                                                 void* pContext) {
    return ValidateAll(pMsgHandle, pResult, nMaxViolations, pfnSink, pContext, FetchRegGrammar);
}
