// The C interface of libEn_MessageJson.so.1 (En_MessageJson.h) over the
// reader, decoder and blob checks of the message form.  Each function
// catches everything at its boundary.
#include <cstring>
#include <new>

#include "En_MessageJson.h"
#include "MessageJson.h"
#include "ReaderParts.h"

struct En_MsgJson_Reader {
    msgjson::Reader reader;
    std::string error;
    std::string copy;  // a text without room for the padding
};

namespace {

// Thrown through the reader when a sink asks to stop.
struct Stopped {};

msgjson::EntrySink ToEntrySink(En_MsgJson_Sink sink, void* context) {
    if (sink == nullptr) return {};
    return [sink, context](const unsigned char* p, size_t n) {
        if (sink(context, p, n) != 0) throw Stopped{};
    };
}

// Runs f, the code of what it threw; the text of an error into *error.
template <class F>
int Guard(std::string* error, F&& f) noexcept {
    try {
        try {
            if (error != nullptr) error->clear();
            f();
            return EN_MSGJSON_OK;
        } catch (const Stopped&) {
            return EN_MSGJSON_ESTOPPED;
        } catch (const std::bad_alloc&) {
            return EN_MSGJSON_ENOMEM;
        } catch (const msgjson::InputError& e) {
            if (error != nullptr) *error = e.what();
            return EN_MSGJSON_EINPUT;
        } catch (const std::exception& e) {
            if (error != nullptr) *error = e.what();
            return EN_MSGJSON_EINTERNAL;
        } catch (...) {
            if (error != nullptr) *error = "an unknown error";
            return EN_MSGJSON_EINTERNAL;
        }
    } catch (...) {  // the error text itself could not be kept
        return EN_MSGJSON_ENOMEM;
    }
}

}  // namespace

extern "C" {

En_MsgJson_Reader* En_MsgJson_ReaderCreate(void) {
    try {
        return new En_MsgJson_Reader;
    } catch (...) {
        return nullptr;
    }
}

void En_MsgJson_ReaderDestroy(En_MsgJson_Reader* reader) { delete reader; }

int En_MsgJson_Read(En_MsgJson_Reader* reader, char* text, size_t size, size_t room, int kind, x_int32 msgType,
                    size_t firstLine, void* msgHandle, En_MsgJson_Sink sink, void* context, int* outKind,
                    x_int32* outMsgType) {
    if (reader == nullptr || (text == nullptr && size != 0) || (msgHandle == nullptr && sink == nullptr) ||
        (kind != EN_MSGJSON_KIND_UNSET && kind != EN_MSGJSON_LOG && kind != EN_MSGJSON_REGISTER))
        return EN_MSGJSON_EINVAL;
    return Guard(&reader->error, [&] {
        msgjson::Overrides overrides;
        if (kind != EN_MSGJSON_KIND_UNSET) {
            overrides.kind = kind == EN_MSGJSON_LOG ? msgjson::Kind::Log : msgjson::Kind::Register;
            if (kind == EN_MSGJSON_LOG) overrides.msgType = msgType;
        }
        const char* body = text;
        if (room < msgjson::kPadding) {
            reader->copy.assign(text, size);
            reader->copy.append(msgjson::kPadding, ' ');
            body = reader->copy.data();
        } else {
            std::memset(text + size, ' ', msgjson::kPadding);
        }
        msgjson::Handle into(msgHandle);
        const msgjson::Message m = reader->reader.Read(std::string_view(body, size), msgjson::kPadding, &into,
                                                       overrides, firstLine, ToEntrySink(sink, context));
        if (outKind != nullptr) *outKind = m.kind == msgjson::Kind::Log ? EN_MSGJSON_LOG : EN_MSGJSON_REGISTER;
        if (outMsgType != nullptr) *outMsgType = m.kind == msgjson::Kind::Log ? m.msgType : 0;
    });
}

const char* En_MsgJson_Error(const En_MsgJson_Reader* reader) { return reader != nullptr ? reader->error.c_str() : ""; }

size_t En_MsgJson_BlobFault(const void* blob, size_t size, int checkValues, char* text, size_t room) {
    try {
        const std::string fault = msgjson::BlobFault(static_cast<const unsigned char*>(blob), size, checkValues != 0);
        if (room > 0) {
            const size_t n = std::min(fault.size(), room - 1);
            std::memcpy(text, fault.data(), n);
            text[n] = '\0';
        }
        return fault.size();
    } catch (...) {
        return static_cast<size_t>(-1);
    }
}

int En_MsgJson_MsgTypeEntry(const void* blob, size_t size, x_int32* msgType) {
    const auto found = msgjson::MsgTypeEntry(static_cast<const unsigned char*>(blob), size);
    if (found && msgType != nullptr) *msgType = *found;
    return found ? 1 : 0;
}

int En_MsgJson_EntryOffset(const En_MsgJson_Reader* reader, size_t entry, size_t* offset) {
    if (reader == nullptr || offset == nullptr) return 0;
    const auto found = reader->reader.EntryOffset(entry);
    if (found) *offset = *found;
    return found ? 1 : 0;
}

const char* En_MsgJson_TypeName(x_uint32 code) { return msgjson::TypeName(code); }

int En_MsgJson_Decode(const void* blob, size_t size, int kind, x_int32 msgType, En_MsgJson_Sink sink, void* context) {
    if ((blob == nullptr && size != 0) || sink == nullptr || (kind != EN_MSGJSON_LOG && kind != EN_MSGJSON_REGISTER))
        return EN_MSGJSON_EINVAL;
    return Guard(nullptr, [&] {
        msgjson::DecodeBlob(static_cast<const unsigned char*>(blob), size,
                            kind == EN_MSGJSON_LOG ? msgjson::Kind::Log : msgjson::Kind::Register, msgType,
                            [&](std::string_view piece) {
                                if (sink(context, piece.data(), piece.size()) != 0) throw Stopped{};
                            });
    });
}

}  // extern "C"
