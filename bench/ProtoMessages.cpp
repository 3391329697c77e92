// Blob to protobuf, through reflection (never timed).
#include "ProtoMessages.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace benchpb {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::UnknownFieldSet;

// Where the entries of the innermost open group go: a message of the
// schema, or the unknown field set of a group the schema does not have.
struct Level {
    Message* message;
    UnknownFieldSet* unknown;

    UnknownFieldSet& Unknown() const {
        return message != nullptr ? *message->GetReflection()->MutableUnknownFields(message) : *unknown;
    }
};

// UTF-8 of one code point: a lead byte, then 6 bits a byte.
void AppendUtf8(std::string& out, uint32_t c) {
    const int more = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    const uint32_t lead = more == 0 ? 0 : (0xFF00u >> (more + 1)) & 0xFF;
    out += static_cast<char>(lead | (c >> (6 * more)));
    for (int k = more - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

// The value of a string or bytes entry as protobuf bytes.
std::string TextOf(x_uint32 type, const void* data, x_uint32 len) {
    const char* p = static_cast<const char*>(data);
    if (type == DT_STRING) return std::string(p, std::strlen(p));
    if (type != DT_WSTRING) return std::string(p, len);
    std::string out;
    for (x_uint32 i = 0; i + 4 <= len; i += 4) {
        uint32_t c;
        std::memcpy(&c, p + i, 4);
        if (c == 0) break;
        AppendUtf8(out, c);
    }
    return out;
}

// The value of an integer entry as the int32/uint32 field holds it.
uint32_t IntegerOf(x_uint32 type, const void* data) {
    switch (type) {
        case DT_INT16: { int16_t v; std::memcpy(&v, data, 2); return static_cast<uint32_t>(static_cast<int32_t>(v)); }
        case DT_UINT16: { uint16_t v; std::memcpy(&v, data, 2); return v; }
        default: { uint32_t v; std::memcpy(&v, data, 4); return v; }
    }
}

bool IsText(x_uint32 type) { return type == DT_STRING || type == DT_WSTRING || type == DT_BYTES; }
bool IsInteger(x_uint32 type) { return type >= DT_INT16 && type <= DT_UINT32; }

void AddItem(const Level& level, x_uint32 id, x_uint32 type, const void* data, x_uint32 len) {
    const FieldDescriptor* f =
        level.message != nullptr ? level.message->GetDescriptor()->FindFieldByNumber(static_cast<int>(id)) : nullptr;
    const google::protobuf::Reflection* r = level.message != nullptr ? level.message->GetReflection() : nullptr;
    if (f != nullptr && !f->is_repeated()) {
        if (f->cpp_type() == FieldDescriptor::CPPTYPE_STRING && IsText(type)) {
            r->SetString(level.message, f, TextOf(type, data, len));
            return;
        }
        if (f->cpp_type() == FieldDescriptor::CPPTYPE_INT32 && IsInteger(type)) {
            r->SetInt32(level.message, f, static_cast<int32_t>(IntegerOf(type, data)));
            return;
        }
        if (f->cpp_type() == FieldDescriptor::CPPTYPE_UINT32 && IsInteger(type)) {
            r->SetUInt32(level.message, f, IntegerOf(type, data));
            return;
        }
    }
    if (IsInteger(type))
        level.Unknown().AddVarint(static_cast<int>(id),
                                  static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(IntegerOf(type, data)))));
    else
        level.Unknown().AddLengthDelimited(static_cast<int>(id), TextOf(type, data, len));
}

Level OpenGroup(const Level& level, x_uint32 id) {
    if (level.message != nullptr) {
        const FieldDescriptor* f = level.message->GetDescriptor()->FindFieldByNumber(static_cast<int>(id));
        if (f != nullptr && f->is_repeated() && f->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE)
            return Level{level.message->GetReflection()->AddMessage(level.message, f), nullptr};
    }
    return Level{nullptr, level.Unknown().AddGroup(static_cast<int>(id))};
}

}  // namespace

const enbench::PbGrammar& GrammarOf(int kind) {
    for (const enbench::PbGrammar& g : enbench::kPbGrammars)
        if (g.kind == kind) return g;
    throw std::logic_error("no protobuf message for this message type");
}

const Message& PrototypeOf(int kind) { return GrammarOf(kind).prototype(); }

std::string Encode(const void* blob, x_uint32 size, int kind) {
    std::unique_ptr<Message> root(PrototypeOf(kind).New());
    std::vector<Level> open{Level{root.get(), nullptr}};
    CBlobReader* reader = CreateINVPBlobReader();
    reader->Attach(blob, size);
    CMsgEntry e;
    int rc;
    while ((rc = reader->Pop(&e.m_nID, &e.m_nDataType, &e.m_pData, &e.m_nDataLength)) == 0) {
        if (e.m_nDataType == DT_GROUP)
            open.push_back(OpenGroup(open.back(), e.m_nID));
        else if (e.m_nDataType == DT_END_OF_GROUP && open.size() > 1)
            open.pop_back();
        else if (e.m_nDataType == DT_END_OF_GROUP)
            throw std::logic_error("end of group without a group");
        else
            AddItem(open.back(), e.m_nID, e.m_nDataType, e.m_pData, e.m_nDataLength);
    }
    FreeINVPBlobReader(reader);
    if (rc != BLOB_END_OF_DATA) throw std::logic_error("the blob is malformed");
    std::string out;
    root->SerializePartialToString(&out);
    return out;
}

}  // namespace benchpb
