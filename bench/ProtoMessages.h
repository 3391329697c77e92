// ProtoMessages.h - the protobuf counterparts of the benchmark messages.
//
// The message types and their checks are generated from the grammar tables
// (protogen.cpp).  Encode turns a blob into the protobuf encoding of the
// same content: every entry becomes the field with its node ID in the
// message of the grammar (a group entry a new element of the repeated
// nested message), with the same value; wide strings are narrowed to
// UTF-8, 16-bit integers widened to the 32-bit field.  An entry without a
// matching field (an unknown node, or a value of a kind the field cannot
// hold) becomes an unknown field of the message it appears in, as a
// protobuf peer that does not know the node would receive it.
#ifndef EN_BENCH_PROTOMESSAGES_H
#define EN_BENCH_PROTOMESSAGES_H

#include <string>

#include "BlobReader.h"
#include "EnGrammarChecks.h"

namespace benchpb {

// The generated message of a grammar (log message type, or 0 for the
// registration message).
const enbench::PbGrammar& GrammarOf(int kind);
const google::protobuf::Message& PrototypeOf(int kind);

std::string Encode(const void* blob, x_uint32 size, int kind);

}  // namespace benchpb

#endif  // EN_BENCH_PROTOMESSAGES_H
