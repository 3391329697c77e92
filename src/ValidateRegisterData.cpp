// En_Validate_RegisterData: validates a registration message.
#include "ValidateMessage.h"

extern "C" void En_Validate_RegisterData(void* pMsgHandle, EN_VALIDATE_RESULT* pResult) {
    ValidateMessage(pMsgHandle, pResult, [](CValidationResultAdaptor&) { return CGrammarRegistry::GetRegGrammar(); });
}
