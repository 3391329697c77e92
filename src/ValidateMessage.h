// ValidateMessage.h - the one road every exported validation takes.
#ifndef EN_VALIDATEMESSAGE_H
#define EN_VALIDATEMESSAGE_H

#include "BlobMessageParser.h"
#include "En_ValidationPrivate.h"
#include "GrammarRegistry.h"
#include "ValidationResultAdaptor.h"
#include "Violation.h"
#include "ViolationSink.h"
#include "my/Assert.h"

// Sets the record to 100 "Unknown error", answers a null handle with 103,
// then fetches the grammar with fetch(adaptor) (a null grammar means fetch
// has set the record) and parses, handing each violation to the sink
// (ViolationSink.h), which ends the walk or lets it go on and writes the
// verdict.  Nothing on the way throws.
template <class Sink, class FetchGrammar>
void ValidateMessage(void* pMsgHandle, EN_VALIDATE_RESULT* pResult, Sink& sink, FetchGrammar fetch) noexcept {
    MY_ASSERT(pResult);
    CValidationResultAdaptor adaptor(*pResult);
    sink.Begin(adaptor);
    if (pMsgHandle == nullptr) {
        adaptor.SetText(EN_VALIDATE_NULL_HANDLE, "pMsgHandle is NULL.");
        sink.Decided(*pResult);
        return;
    }
    const CBlobGrammar* grammar = fetch(adaptor);
    if (grammar == nullptr) {
        sink.Decided(*pResult);
        return;
    }
    CViolation violation;
    const bool conforms = CBlobMessageParser().Parse(pMsgHandle, *grammar, violation, sink);
    sink.Finish(conforms, violation);
}

// The full list of the _All entry points: without a sink or an array, only
// the record.
template <class FetchGrammar>
x_uint32 ValidateAll(void* pMsgHandle, EN_VALIDATE_RESULT* pResult, x_uint32 nMax, EN_VALIDATE_SINK pfnSink,
                     void* pContext, FetchGrammar fetch) noexcept {
    CEveryViolation sink(pfnSink == nullptr && pContext == nullptr ? 0 : nMax, pfnSink, pContext);
    ValidateMessage(pMsgHandle, pResult, sink, fetch);
    return sink.GetCount();
}

#endif  // EN_VALIDATEMESSAGE_H
