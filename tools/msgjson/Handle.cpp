#include <new>

#include "MessageJson.h"

namespace msgjson {

Handle::Handle() : m_h(En_Msg_Create()) {
    if (m_h == nullptr) throw std::bad_alloc();
}

Handle::~Handle() {
    if (m_own) En_Msg_Destroy(m_h);
}

}  // namespace msgjson
