// ValidateMessage.h - the one road every exported validation takes.
#ifndef EN_VALIDATEMESSAGE_H
#define EN_VALIDATEMESSAGE_H

#include "BlobMessageParser.h"
#include "En_ValidationPrivate.h"
#include "GrammarRegistry.h"
#include "ValidationResultAdaptor.h"
#include "Violation.h"
#include "my/Assert.h"

// Sets the record to 100 "Unknown error", answers a null handle with 103,
// then fetches the grammar with fetch(adaptor) (a null grammar means fetch
// has set the record) and parses.  A violation becomes its code and text.
// Nothing on the way throws.  pLocation, when given, says where the walk
// decided a violation (the parser fills it), else it holds bLocated 0.
template <class FetchGrammar>
void ValidateMessage(void* pMsgHandle, EN_VALIDATE_RESULT* pResult, EN_VALIDATE_LOCATION* pLocation,
                     FetchGrammar fetch) noexcept {
    MY_ASSERT(pResult);
    CValidationResultAdaptor adaptor(*pResult);
    if (pLocation != nullptr) pLocation->bLocated = 0;
    if (pMsgHandle == nullptr) {
        adaptor.SetText(EN_VALIDATE_NULL_HANDLE, "pMsgHandle is NULL.");
        return;
    }
    const CBlobGrammar* grammar = fetch(adaptor);
    if (grammar == nullptr) return;
    CViolation violation;
    if (CBlobMessageParser().Parse(pMsgHandle, *grammar, violation, pLocation))
        adaptor.SetSuccess();
    else
        adaptor.SetResult(violation);
}

#endif  // EN_VALIDATEMESSAGE_H
