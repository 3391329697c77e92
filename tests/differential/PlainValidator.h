// PlainValidator.h - the validation algorithm in its plain, literal form,
// as the library ran it before the parser kept its counts in arrays and
// reported violations without throwing.
//
// It reads only the grammar objects (nodes, sub-node maps, constraint
// objects) and the blob reader, and does everything else itself: counts
// per open group in a my::CMap filled in ascending ID order, the required
// sub-nodes visited in ascending ID order, per entry the type match, the
// count, the repetition test and the value constraint, in that order.
// Value constraints are evaluated here from the constraint objects' data,
// with wcstombs into a zeroed buffer and sscanf for time texts.  Every
// violation is thrown as the library's exception of its code and turned
// into the caller's record as the entry points did: 100 "Unknown error"
// first, texts cut at 254 characters.
//
// The differential tests hold the exported functions to it, byte for byte.
#ifndef EN_TESTS_PLAINVALIDATOR_H
#define EN_TESTS_PLAINVALIDATOR_H

#include "BlobGrammar.h"
#include "En_Validation.h"

namespace plain {

void ValidateLog(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult);
void ValidateRegisterData(void* pMsgHandle, EN_VALIDATE_RESULT* pResult);

// The pieces, throwing CSyntaxErrorException, CDataConstraintViolationException
// or CInternalErrorException.
void Parse(void* pMsgHandle, const CBlobGrammar& grammar);
// The node's constraint, if it names one, applied to the entry.
void VerifyDataConstraint(const CMsgEntry& entry, const CNode& node, const CBlobGrammar& grammar);

}  // namespace plain

#endif  // EN_TESTS_PLAINVALIDATOR_H
