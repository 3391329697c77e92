// DataConstraint.h - value checks that grammar items name by constraint ID.
//
// Check accepts the entry's value or reports the violation (102) and
// returns false; Verify is Check that throws CDataConstraintViolationException
// instead.  A value of a data type that a check does not handle is accepted.
// Constraints are built while a grammar is built, owned by the grammar and
// never changed afterwards; Verify writes nothing but its own locals, so
// any number of threads may verify at once.  No check allocates memory
// except to throw.
#ifndef EN_DATACONSTRAINT_H
#define EN_DATACONSTRAINT_H

#include <vector>

#include "BlobGrammar.h"
#include "Violation.h"

class CDataConstraint {
public:
    virtual ~CDataConstraint();
    virtual void Verify(const CMsgEntry& Data, const CNode& Node, const CBlobGrammar& Grammar) const;
    virtual bool Check(const CMsgEntry& Data, const CNode& Node, const CBlobGrammar& Grammar,
                       CViolation& v) const = 0;

    const char* GetName() const { return m_strName.c_str(); }
    x_uint32 GetID() const { return m_nID; }

    // Length bounds: the third argument is the maximum, the fourth the
    // minimum; they are not compared with each other.
    static my::CAutoPtr<CDataConstraint> CreateLengthConstraint(const char* pszName, x_uint32 nID,
                                                                x_uint32 nMaxLength, x_uint32 nMinLength);
    // Always named "TimeFormat".
    static my::CAutoPtr<CDataConstraint> CreateTimeFormatConstraint(x_uint32 nID);
    // Throw CInternalErrorException (300) when the minimum exceeds the maximum.
    static my::CAutoPtr<CDataConstraint> CreateSignedValueConstraint(const char* pszName, x_uint32 nID,
                                                                     x_int32 nMinValue, x_int32 nMaxValue);
    static my::CAutoPtr<CDataConstraint> CreateUnsignedValueConstraint(const char* pszName, x_uint32 nID,
                                                                       x_uint32 nMinValue, x_uint32 nMaxValue);

protected:
    CDataConstraint(const char* pszName, x_uint32 nID);
    CDataConstraint(const CDataConstraint&) = delete;
    CDataConstraint& operator=(const CDataConstraint&) = delete;

    my::CString m_strName;
    x_uint32 m_nID;
};

// Length of a narrow string (characters), a wide string (characters) or a
// byte array (bytes).
class CLengthConstraint : public CDataConstraint {
public:
    CLengthConstraint(const char* pszName, x_uint32 nID, x_uint32 nMaxLength, x_uint32 nMinLength);
    ~CLengthConstraint() override;
    bool Check(const CMsgEntry& Data, const CNode& Node, const CBlobGrammar& Grammar, CViolation& v) const override;

    x_uint32 GetMaxLength() const { return m_nMaxLength; }
    x_uint32 GetMinLength() const { return m_nMinLength; }

private:
    x_uint32 m_nMaxLength;
    x_uint32 m_nMinLength;
};

// "Y/M/D h:m:s" or "Y-M-D h:m:s" as sscanf reads six integers; the numbers
// are not given a meaning.  Wide values are converted as wcstombs converts
// them under the process's current locale, at most 255 bytes (TimeText.h).
class CTimeFormatConstraint : public CDataConstraint {
public:
    explicit CTimeFormatConstraint(x_uint32 nID);
    ~CTimeFormatConstraint() override;
    bool Check(const CMsgEntry& Data, const CNode& Node, const CBlobGrammar& Grammar, CViolation& v) const override;
};

// A value range, both bounds inclusive.  T is x_int32 (16-bit values
// sign-extended, 32-bit values taken as signed) or x_uint32 (16-bit values
// zero-extended, 32-bit values taken as unsigned).
template <class T>
class CValueRangeConstraint : public CDataConstraint {
public:
    CValueRangeConstraint(const char* pszName, x_uint32 nID, T nMinValue, T nMaxValue);
    ~CValueRangeConstraint() override;
    bool Check(const CMsgEntry& Data, const CNode& Node, const CBlobGrammar& Grammar, CViolation& v) const override;

    T GetMinValue() const { return m_nMinValue; }
    T GetMaxValue() const { return m_nMaxValue; }

private:
    T m_nMinValue;
    T m_nMaxValue;
};

using CSignedValueConstraint = CValueRangeConstraint<x_int32>;
using CUnsignedValueConstraint = CValueRangeConstraint<x_uint32>;

// A constraint made of other constraints of the same grammar, named by ID
// and resolved on every check, tried in ascending ID order (kept also as a
// sorted array, which a check walks without allocating).  Any-of accepts
// at the first member that accepts and otherwise rejects with the last
// member's text; all-of rejects with the first rejecting member's text.
// Grammars must not make a group reachable from its own members.
class CConstraintGroup : public CDataConstraint {
public:
    enum Mode { GROUP_ANY_OF = 0, GROUP_ALL_OF = 1 };

    CConstraintGroup(const char* pszName, x_uint32 nID, Mode nMode);
    ~CConstraintGroup() override;

    // Adds a member ID; the group's own ID and IDs already present are ignored.
    void AddConstraint(x_uint32 nID);
    bool Check(const CMsgEntry& Data, const CNode& Node, const CBlobGrammar& Grammar, CViolation& v) const override;

    Mode GetMode() const { return static_cast<Mode>(m_nMode); }
    const my::CTree<x_uint32>& GetMembers() const { return m_ConstraintIDs; }

private:
    my::CTree<x_uint32> m_ConstraintIDs;
    std::vector<x_uint32> m_MemberOrder;  // the same IDs, ascending
    x_uint32 m_nMode;
};

#endif  // EN_DATACONSTRAINT_H
