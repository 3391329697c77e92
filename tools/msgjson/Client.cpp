// The message form of MessageJson.h for en-validate and its tests, over the
// C interface of libEn_MessageJson.so.1 (En_MessageJson.h): what a call
// there reports comes back here as the exception MessageJson.h promises,
// and an exception of a sink here goes back through it as a code.
#include <exception>
#include <new>

#include "En_MessageJson.h"
#include "GrammarTree.h"
#include "MessageJson.h"
#include "MessageKindList.h"

namespace msgjson {

namespace {

// A sink of the C interface calling a C++ one; what that throws is kept
// here and thrown again once the call has returned.
template <class F>
struct Trampoline {
    const F* f;
    std::exception_ptr thrown;

    static int Call(void* context, const void* bytes, size_t size) {
        auto* self = static_cast<Trampoline*>(context);
        try {
            (*self->f)(static_cast<const unsigned char*>(bytes), size);
            return 0;
        } catch (...) {
            self->thrown = std::current_exception();
            return 1;
        }
    }
};

void Check(int rc, const char* error, const std::exception_ptr& thrown) {
    if (rc == EN_MSGJSON_OK) return;
    if (rc == EN_MSGJSON_ESTOPPED && thrown) std::rethrow_exception(thrown);
    if (rc == EN_MSGJSON_ENOMEM) throw std::bad_alloc();
    if (rc == EN_MSGJSON_EINPUT) throw InputError(error);
    throw std::runtime_error(std::string("the JSON message library failed: ") + error);
}

Message Head(int kind, int32_t msgType) {
    Message m;
    m.kind = kind == EN_MSGJSON_LOG ? Kind::Log : Kind::Register;
    m.msgType = msgType;
    return m;
}

}  // namespace

struct Reader::Walk {
    En_MsgJson_Reader* reader = En_MsgJson_ReaderCreate();
    ~Walk() { En_MsgJson_ReaderDestroy(reader); }

    Message Read(std::string& text, const Overrides& o, size_t firstLine, void* handle, const EntrySink* sink) {
        text.reserve(text.size() + kPadding);
        Trampoline<EntrySink> t{sink, {}};
        int kind = 0;
        int32_t msgType = 0;
        const int rc = En_MsgJson_Read(reader, text.data(), text.size(), text.capacity() - text.size(),
                                       !o.kind ? EN_MSGJSON_KIND_UNSET : *o.kind == Kind::Log ? EN_MSGJSON_LOG : EN_MSGJSON_REGISTER,
                                       o.msgType.value_or(0), firstLine, handle, handle ? nullptr : &decltype(t)::Call,
                                       &t, &kind, &msgType);
        Check(rc, En_MsgJson_Error(reader), t.thrown);
        return Head(kind, msgType);
    }
};

Reader::Reader() : m_walk(std::make_unique<Walk>()) {
    if (m_walk->reader == nullptr) throw std::bad_alloc();
}

Reader::~Reader() = default;

Message Reader::Read(std::string& text, Handle& into, const Overrides& overrides, size_t firstLine) {
    return m_walk->Read(text, overrides, firstLine, into.get(), nullptr);
}

Message Reader::Read(std::string& text, const EntrySink& sink, const Overrides& overrides, size_t firstLine) {
    return m_walk->Read(text, overrides, firstLine, nullptr, &sink);
}

const char* TypeName(uint32_t code) { return En_MsgJson_TypeName(code); }

std::string BlobFault(const unsigned char* blob, size_t size, bool checkValues) {
    char text[256];
    const size_t n = En_MsgJson_BlobFault(blob, size, checkValues, text, sizeof text);
    if (n == static_cast<size_t>(-1)) throw std::bad_alloc();
    if (n < sizeof text) return std::string(text, n);
    std::string whole(n + 1, '\0');
    En_MsgJson_BlobFault(blob, size, checkValues, whole.data(), whole.size());
    whole.pop_back();
    return whole;
}

void DecodeBlob(const unsigned char* blob, size_t size, Kind kind, int32_t msgType, const TextSink& write) {
    const auto piece = [&write](const unsigned char* p, size_t n) {
        write(std::string_view(reinterpret_cast<const char*>(p), n));
    };
    Trampoline<decltype(piece)> t{&piece, {}};
    const int rc = En_MsgJson_Decode(blob, size, kind == Kind::Log ? EN_MSGJSON_LOG : EN_MSGJSON_REGISTER, msgType,
                                     &decltype(t)::Call, &t);
    if (rc == EN_MSGJSON_EINPUT) {
        const std::string fault = BlobFault(blob, size, false);
        throw InputError(fault.empty() ? "a value is too long to write as hex on this system" : fault);
    }
    Check(rc, "", t.thrown);
}

size_t Reader::EntryPlaces(std::string_view text, size_t firstLine, size_t first, size_t count, size_t* lines,
                           size_t* columns) const {
    return En_MsgJson_EntryPlaces(m_walk->reader, text.data(), text.size(), firstLine, first, count, lines, columns);
}

const GrammarNode& GrammarRoot(const grammar::GrammarTable& table) {
    size_t k = 0;
    while (grammar::kMessageKinds[k].pTable != &table) ++k;
    const GrammarNode* root = KindRoot(k);
    if (root == nullptr) throw std::bad_alloc();
    return *root;
}

std::optional<int32_t> MsgTypeEntry(const unsigned char* blob, size_t size) {
    int32_t msgType = 0;
    if (En_MsgJson_MsgTypeEntry(blob, size, &msgType) == 0) return std::nullopt;
    return msgType;
}

}  // namespace msgjson
