// Value constraints and constraint groups.
#include "DataConstraint.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "En_Validation.h"
#include "TimeText.h"
#include "my/Assert.h"

#define EN_ASSERT_ENTRY_MATCHES_NODE() \
    MY_ASSERT(Data.m_nDataType == Node.GetDataType() && Data.m_nID == Node.GetID())

namespace {

// Integers are copied out of the blob, never read through a cast pointer.
template <class T>
T ReadValue(const CMsgEntry& entry) {
    T v;
    std::memcpy(&v, entry.m_pData, sizeof v);
    return v;
}

// The value of an integer entry widened to 32 bits: 16-bit values with
// their sign (bSigned) or zero-extended.  False for non-integer types.
bool ReadInteger(const CMsgEntry& entry, bool bSigned, x_uint32& value) {
    switch (entry.m_nDataType) {
        case DT_INT16:
        case DT_UINT16:
            value = bSigned ? static_cast<x_uint32>(static_cast<x_int32>(ReadValue<int16_t>(entry)))
                            : static_cast<x_uint32>(ReadValue<uint16_t>(entry));
            return true;
        case DT_INT32:
        case DT_UINT32:
            value = ReadValue<x_uint32>(entry);
            return true;
        default:
            return false;
    }
}

// Texts of the two kinds of value range.
template <class T>
struct RangeFormat;

template <>
struct RangeFormat<x_int32> {
    static constexpr bool kSigned = true;
    static constexpr const char* kViolation =
        "Data(ID: %u, Name: '%s', Value: %d) is not compliant with constraint(ID: %u, Name: '%s') [%d<=Value<=%d]";
};

template <>
struct RangeFormat<x_uint32> {
    static constexpr bool kSigned = false;
    static constexpr const char* kViolation =
        "Data(ID: %u, Name: '%s', Value: %u) is not compliant with constraint(ID: %u, Name: '%s') [%u<=Value<=%u]";
};

}  // namespace

bool CDataConstraint::Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const {
    EN_ASSERT_ENTRY_MATCHES_NODE();
    switch (m_eKind) {
        case LENGTH:
            return _VerifyLength(Data, Node, v);
        case TIME_FORMAT:
            return _VerifyTimeFormat(Data, v);
        case SIGNED_RANGE:
            return _VerifyRange<x_int32>(Data, Node, v);
        case UNSIGNED_RANGE:
            return _VerifyRange<x_uint32>(Data, Node, v);
        case ANY_OF:
        case ALL_OF:
            return _VerifyGroup(Data, Node, v);
    }
    return true;
}

bool CDataConstraint::_VerifyLength(const CMsgEntry& Data, const CNode& Node, CViolation& v) const {
    x_uint32 length;
    switch (Data.m_nDataType) {
        case DT_STRING:
            length = Data.m_nDataLength - 1;  // without the terminating zero
            break;
        case DT_WSTRING:
            length = (Data.m_nDataLength - 4) / 4;  // 4-byte characters without the terminator
            break;
        case DT_BYTES:
            length = Data.m_nDataLength;
            break;
        default:
            return true;
    }
    if (m_nLow <= length && length <= m_nHigh) return true;
    return v.Set(
        EN_VALIDATE_CONSTRAINT_VIOLATION,
        "Data(Len: %u) of Node(ID: %u, Name: %s) is not compliant with constraint(ID: %u, Name: '%s')[%u<=DataLength<=%u].",
        length, Node.GetID(), Node.GetName(), m_nID, GetName(), m_nLow, m_nHigh);
}

bool CDataConstraint::_VerifyTimeFormat(const CMsgEntry& Data, CViolation& v) const {
    char converted[timetext::kNarrowBufferSize];
    const char* text;
    switch (Data.m_nDataType) {
        case DT_STRING:
            text = static_cast<const char*>(Data.m_pData);  // terminated: the reader checked it
            break;
        case DT_WSTRING: {
            // Terminated and aligned: the reader checked it.
            const wchar_t* wide = static_cast<const wchar_t*>(Data.m_pData);
            if (timetext::IsWideTimeText(wide)) return true;
            text = timetext::NarrowTimeText(wide, converted);
            break;
        }
        default:
            return true;
    }
    if (timetext::IsTimeText(text)) return true;
    return v.Set(EN_VALIDATE_CONSTRAINT_VIOLATION, "'%s' is not a valid time string", text);
}

template <class T>
bool CDataConstraint::_VerifyRange(const CMsgEntry& Data, const CNode& Node, CViolation& v) const {
    x_uint32 bits;
    if (!ReadInteger(Data, RangeFormat<T>::kSigned, bits)) return true;
    const T value = static_cast<T>(bits);
    const T low = static_cast<T>(m_nLow);
    const T high = static_cast<T>(m_nHigh);
    if (low <= value && value <= high) return true;
    return v.Set(EN_VALIDATE_CONSTRAINT_VIOLATION, RangeFormat<T>::kViolation, Node.GetID(), Node.GetName(), value,
                 m_nID, GetName(), low, high);
}

// Any-of accepts at the first member that accepts and otherwise reports the
// last member's violation; all-of reports the first.
bool CDataConstraint::_VerifyGroup(const CMsgEntry& Data, const CNode& Node, CViolation& v) const {
    for (x_uint32 i = 0; i < m_nMembers; ++i) {
        if (m_pMembers[i]->Verify(Data, Node, v)) {
            if (m_eKind == ANY_OF) return true;
        } else if (m_eKind == ALL_OF) {
            return false;
        }
    }
    // All-of: every member accepted.  Any-of: none did (the last one's
    // violation stands), or there are no members.
    return m_eKind == ALL_OF || m_nMembers == 0;
}
