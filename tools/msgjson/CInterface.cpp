// The C interface of libEn_MessageJson.so.1 (En_MessageJson.h) over the
// reader, decoder and blob checks of the message form.  Nothing below
// throws (Fault.h): each function checks its arguments and returns what
// the library's own functions report.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Decoder.h"
#include "En_MessageJson.h"
#include "ReaderParts.h"

using namespace msgjson;
using namespace msgjson::detail;

struct En_MsgJson_Reader {
    JsonReader reader;
};

// The nothrow forms of operator new, which simdjson's parser allocates with
// (in libsimdjson.so, and inline here).  libstdc++'s call the throwing form
// and catch std::bad_alloc: a throw on a thread of a host without a C++
// runtime of its own (Python's ctypes) needs per-thread data of that
// runtime, which glibc allocates then, and when it cannot, it ends the
// process.  These ask malloc, and nothing throws.  They are exported under
// libstdc++'s version (en_messagejson.map), so that in such a host, where
// the library comes before libstdc++ in its dlopen's search order,
// libsimdjson.so's calls reach them too; a C++ program finds libstdc++'s
// first, whose per-thread data comes with each thread.  A static copy of the
// library (the fuzz target's) leaves the program its own, which its
// operator delete matches.
#ifndef EN_MSGJSON_STATIC
__attribute__((visibility("default"))) void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}

__attribute__((visibility("default"))) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
#endif

extern "C" {

En_MsgJson_Reader* En_MsgJson_ReaderCreate(void) {
    auto* reader = new (std::nothrow) En_MsgJson_Reader;
    if (reader != nullptr && !reader->reader.Open()) {
        delete reader;
        return nullptr;
    }
    return reader;
}

void En_MsgJson_ReaderDestroy(En_MsgJson_Reader* reader) { delete reader; }

int En_MsgJson_Read(En_MsgJson_Reader* reader, char* text, size_t size, size_t room, int kind, x_int32 msgType,
                    size_t firstLine, void* msgHandle, En_MsgJson_Sink sink, void* context, int* outKind,
                    x_int32* outMsgType) {
    if (reader == nullptr || (text == nullptr && size != 0) || (msgHandle == nullptr && sink == nullptr) ||
        (kind != EN_MSGJSON_KIND_UNSET && kind != EN_MSGJSON_LOG && kind != EN_MSGJSON_REGISTER))
        return EN_MSGJSON_EINVAL;
    Overrides overrides;
    if (kind != EN_MSGJSON_KIND_UNSET) {
        overrides.kind = kind == EN_MSGJSON_LOG ? Kind::Log : Kind::Register;
        if (kind == EN_MSGJSON_LOG) overrides.msgType = msgType;
    }
    const Sink to{sink, context};
    MessageHead head{};
    const int rc = reader->reader.Read(text, size, room, overrides, firstLine, msgHandle,
                                       sink != nullptr ? &to : nullptr, head);
    if (rc != EN_MSGJSON_OK) return rc;
    if (outKind != nullptr) *outKind = head.kind == Kind::Log ? EN_MSGJSON_LOG : EN_MSGJSON_REGISTER;
    if (outMsgType != nullptr) *outMsgType = head.kind == Kind::Log ? head.msgType : 0;
    return EN_MSGJSON_OK;
}

const char* En_MsgJson_Error(const En_MsgJson_Reader* reader) {
    return reader != nullptr ? reader->reader.fault().text() : "";
}

size_t En_MsgJson_BlobFault(const void* blob, size_t size, int checkValues, char* text, size_t room) {
    Text fault;
    BlobFault(static_cast<const unsigned char*>(blob), size, checkValues != 0, fault);
    if (!fault.ok()) return static_cast<size_t>(-1);
    if (room > 0) {
        const size_t n = std::min(fault.size(), room - 1);
        if (n != 0) std::memcpy(text, fault.data(), n);
        text[n] = '\0';
    }
    return fault.size();
}

int En_MsgJson_MsgTypeEntry(const void* blob, size_t size, x_int32* msgType) {
    int32_t found = 0;
    if (!MsgTypeEntry(static_cast<const unsigned char*>(blob), size, found)) return 0;
    if (msgType != nullptr) *msgType = found;
    return 1;
}

size_t En_MsgJson_EntryPlaces(const En_MsgJson_Reader* reader, const char* text, size_t size, size_t firstLine,
                              size_t first, size_t count, size_t* lines, size_t* columns) {
    if (reader == nullptr || (text == nullptr && size != 0) || (count != 0 && (lines == nullptr || columns == nullptr)))
        return 0;
    return reader->reader.EntryPlaces(std::string_view(text, size), firstLine, first, count, lines, columns);
}

const char* En_MsgJson_TypeName(x_uint32 code) { return TypeName(code); }

int En_MsgJson_Decode(const void* blob, size_t size, int kind, x_int32 msgType, En_MsgJson_Sink sink, void* context) {
    if ((blob == nullptr && size != 0) || sink == nullptr || (kind != EN_MSGJSON_LOG && kind != EN_MSGJSON_REGISTER))
        return EN_MSGJSON_EINVAL;
    return DecodeBlob(static_cast<const unsigned char*>(blob), size, kind == EN_MSGJSON_LOG ? Kind::Log : Kind::Register,
                      msgType, Sink{sink, context});
}

}  // extern "C"
