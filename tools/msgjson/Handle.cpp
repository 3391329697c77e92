#include <new>

#include "MessageJson.h"

namespace msgjson {

Handle::Handle() : m_h(En_Msg_Create()) {
    if (m_h == nullptr) throw std::bad_alloc();
}

Handle::Handle(const std::vector<unsigned char>& blob) : Handle() {
    int rc = En_Msg_Load(m_h, blob.data(), blob.size());
    if (rc == EN_MSG_ENOMEM) {
        En_Msg_Destroy(m_h);
        throw std::bad_alloc();
    }
    if (rc != EN_MSG_OK) {
        En_Msg_Destroy(m_h);
        throw InputError("message of " + std::to_string(blob.size()) + " bytes cannot be loaded");
    }
}

Handle::~Handle() {
    if (m_own) En_Msg_Destroy(m_h);
}

}  // namespace msgjson
