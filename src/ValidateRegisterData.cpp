// En_Validate_RegisterData: validates a registration message.
#include "En_ValidationPrivate.h"
#include "ValidateMessage.h"

namespace {

const CBlobGrammar* FetchRegGrammar(CValidationResultAdaptor&) { return CGrammarRegistry::GetRegGrammar(); }

}  // namespace

extern "C" void En_Validate_RegisterData(void* pMsgHandle, EN_VALIDATE_RESULT* pResult) {
    ValidateMessage(pMsgHandle, pResult, nullptr, FetchRegGrammar);
}

extern "C" void En_Validate_RegisterData_Located(void* pMsgHandle, EN_VALIDATE_RESULT* pResult,
                                                EN_VALIDATE_LOCATION* pLocation) {
    ValidateMessage(pMsgHandle, pResult, pLocation, FetchRegGrammar);
}
