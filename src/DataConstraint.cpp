// Value constraints and constraint groups.
#include "DataConstraint.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "En_Validation.h"
#include "Exceptions.h"
#include "TimeText.h"

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
    static constexpr const char* kInvalid = "Constraint(ID: %u, Name: '%s') is invalid: MinValue(%d)>MaxValue(%d).";
};

template <>
struct RangeFormat<x_uint32> {
    static constexpr bool kSigned = false;
    static constexpr const char* kViolation =
        "Data(ID: %u, Name: '%s', Value: %u) is not compliant with constraint(ID: %u, Name: '%s') [%u<=Value<=%u]";
    static constexpr const char* kInvalid = "Constraint(ID: %u, Name: '%s') is invalid: MinValue(%u)>MaxValue(%u).";
};

// Builds the range first, so that it is destroyed when the bounds are refused.
template <class T>
my::CAutoPtr<CDataConstraint> CreateRange(const char* pszName, x_uint32 nID, T nMinValue, T nMaxValue) {
    my::CAutoPtr<CDataConstraint> p(new CValueRangeConstraint<T>(pszName, nID, nMinValue, nMaxValue));
    if (nMinValue > nMaxValue) throw CInternalErrorException(RangeFormat<T>::kInvalid, nID, pszName, nMinValue, nMaxValue);
    return p;
}

}  // namespace

// ----------------------------------------------------------------- base

CDataConstraint::CDataConstraint(const char* pszName, x_uint32 nID) : m_strName(pszName), m_nID(nID) {}
CDataConstraint::~CDataConstraint() {}

bool CDataConstraint::ReportUndefined(x_uint32 nID, CViolation& v) {
    return v.Set(EN_VALIDATE_INTERNAL_ERROR, "Constraint(ID: %u) is undefined in the grammar.", nID);
}

my::CAutoPtr<CDataConstraint> CDataConstraint::CreateLengthConstraint(const char* pszName, x_uint32 nID,
                                                                      x_uint32 nMaxLength, x_uint32 nMinLength) {
    return my::CAutoPtr<CDataConstraint>(new CLengthConstraint(pszName, nID, nMaxLength, nMinLength));
}

my::CAutoPtr<CDataConstraint> CDataConstraint::CreateTimeFormatConstraint(x_uint32 nID) {
    return my::CAutoPtr<CDataConstraint>(new CTimeFormatConstraint(nID));
}

my::CAutoPtr<CDataConstraint> CDataConstraint::CreateSignedValueConstraint(const char* pszName, x_uint32 nID,
                                                                           x_int32 nMinValue, x_int32 nMaxValue) {
    return CreateRange(pszName, nID, nMinValue, nMaxValue);
}

my::CAutoPtr<CDataConstraint> CDataConstraint::CreateUnsignedValueConstraint(const char* pszName, x_uint32 nID,
                                                                             x_uint32 nMinValue, x_uint32 nMaxValue) {
    return CreateRange(pszName, nID, nMinValue, nMaxValue);
}

// --------------------------------------------------------------- length

CLengthConstraint::CLengthConstraint(const char* pszName, x_uint32 nID, x_uint32 nMaxLength, x_uint32 nMinLength)
    : CDataConstraint(pszName, nID), m_nMaxLength(nMaxLength), m_nMinLength(nMinLength) {}
CLengthConstraint::~CLengthConstraint() {}

bool CLengthConstraint::Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const {
    EN_ASSERT_ENTRY_MATCHES_NODE();
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
    if (m_nMinLength <= length && length <= m_nMaxLength) return true;
    return v.Set(
        EN_VALIDATE_CONSTRAINT_VIOLATION,
        "Data(Len: %u) of Node(ID: %u, Name: %s) is not compliant with constraint(ID: %u, Name: '%s')[%u<=DataLength<=%u].",
        length, Node.GetID(), Node.GetName(), m_nID, GetName(), m_nMinLength, m_nMaxLength);
}

// ---------------------------------------------------------- time format

CTimeFormatConstraint::CTimeFormatConstraint(x_uint32 nID) : CDataConstraint("TimeFormat", nID) {}
CTimeFormatConstraint::~CTimeFormatConstraint() {}

bool CTimeFormatConstraint::Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const {
    EN_ASSERT_ENTRY_MATCHES_NODE();
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

// --------------------------------------------------------------- ranges

template <class T>
CValueRangeConstraint<T>::CValueRangeConstraint(const char* pszName, x_uint32 nID, T nMinValue, T nMaxValue)
    : CDataConstraint(pszName, nID), m_nMinValue(nMinValue), m_nMaxValue(nMaxValue) {}

template <class T>
CValueRangeConstraint<T>::~CValueRangeConstraint() {}

template <class T>
bool CValueRangeConstraint<T>::Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const {
    EN_ASSERT_ENTRY_MATCHES_NODE();
    x_uint32 bits;
    if (!ReadInteger(Data, RangeFormat<T>::kSigned, bits)) return true;
    const T value = static_cast<T>(bits);
    if (m_nMinValue <= value && value <= m_nMaxValue) return true;
    return v.Set(EN_VALIDATE_CONSTRAINT_VIOLATION, RangeFormat<T>::kViolation, Node.GetID(), Node.GetName(),
                 value, m_nID, GetName(), m_nMinValue, m_nMaxValue);
}

template class CValueRangeConstraint<x_int32>;
template class CValueRangeConstraint<x_uint32>;

// ---------------------------------------------------------------- group

CConstraintGroup::CConstraintGroup(const char* pszName, x_uint32 nID, Mode nMode)
    : CDataConstraint(pszName, nID), m_nMode(nMode) {}
CConstraintGroup::~CConstraintGroup() {}

void CConstraintGroup::AddConstraint(x_uint32 nID) {
    if (nID != m_nID) m_ConstraintIDs.Insert(nID);
}

namespace {

// Resolves member IDs, visited in ascending order.
class CMemberResolver : public my::CVisitor<x_uint32> {
public:
    CMemberResolver(std::vector<std::pair<x_uint32, const CDataConstraint*>>& members, const ConstraintMap& constraints)
        : m_Members(members), m_Constraints(constraints) {}
    void Visit(x_uint32* pID) override {
        m_Members.emplace_back(*pID, FindConstraint(m_Constraints, *pID));
    }

private:
    std::vector<std::pair<x_uint32, const CDataConstraint*>>& m_Members;
    const ConstraintMap& m_Constraints;
};

}  // namespace

void CConstraintGroup::ResolveMembers(const ConstraintMap& constraints) {
    std::vector<std::pair<x_uint32, const CDataConstraint*>> members;
    members.reserve(static_cast<size_t>(m_ConstraintIDs.GetSize()));
    CMemberResolver resolver(members, constraints);
    m_ConstraintIDs.Traverse(resolver);
    m_Members.swap(members);
}

// Any-of accepts at the first member that accepts and otherwise reports the
// last member's violation; all-of reports the first.  Any other failure
// (an undefined member: 300) ends the check in either mode.
bool CConstraintGroup::Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const {
    EN_ASSERT_ENTRY_MATCHES_NODE();
    for (const auto& member : m_Members) {
        if (member.second == nullptr) return ReportUndefined(member.first, v);
        if (member.second->Verify(Data, Node, v)) {
            if (m_nMode == GROUP_ANY_OF) return true;
        } else if (m_nMode == GROUP_ALL_OF || v.GetCode() != EN_VALIDATE_CONSTRAINT_VIOLATION) {
            return false;
        }
    }
    // All-of: every member accepted.  Any-of: none did (the last one's
    // violation stands), or there are no members.
    return m_nMode == GROUP_ALL_OF || m_Members.empty();
}
