// DataConstraint.h - value checks that grammar items name by constraint ID.
//
// Verify accepts the entry's value, or reports the violation (102) and
// returns false.  A value of a data type that a check does not handle is
// accepted.  Constraints are built while a grammar is built, owned by the
// grammar and never changed afterwards; Verify writes nothing but its own
// locals and the violation, so any number of threads may verify at once.
// No check allocates memory.
#ifndef EN_DATACONSTRAINT_H
#define EN_DATACONSTRAINT_H

#include <utility>
#include <vector>

#include "GrammarNode.h"
#include "Violation.h"

class CDataConstraint {
public:
    virtual ~CDataConstraint();
    virtual bool Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const = 0;

    const char* GetName() const { return m_strName.c_str(); }
    x_uint32 GetID() const { return m_nID; }

    // Reports (300) a constraint ID that the grammar does not define, when
    // an entry reaches it; returns false.
    static bool ReportUndefined(x_uint32 nID, CViolation& v);

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
    bool Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const override;

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
    bool Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const override;
};

// A value range, both bounds inclusive.  T is x_int32 (16-bit values
// sign-extended, 32-bit values taken as signed) or x_uint32 (16-bit values
// zero-extended, 32-bit values taken as unsigned).
template <class T>
class CValueRangeConstraint : public CDataConstraint {
public:
    CValueRangeConstraint(const char* pszName, x_uint32 nID, T nMinValue, T nMaxValue);
    ~CValueRangeConstraint() override;
    bool Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const override;

private:
    T m_nMinValue;
    T m_nMaxValue;
};

using CSignedValueConstraint = CValueRangeConstraint<x_int32>;
using CUnsignedValueConstraint = CValueRangeConstraint<x_uint32>;

// A constraint made of other constraints of the same grammar, named by ID
// and tried in ascending ID order.  Any-of accepts at the first member that
// accepts and otherwise rejects with the last member's text; all-of rejects
// with the first rejecting member's text.  The members are resolved to the
// grammar's constraints once, when the grammar has all its constraints
// (ResolveMembers); a member ID the grammar does not define is reported
// (300) when a check reaches it.  Grammars must not make a group reachable
// from its own members.
class CConstraintGroup : public CDataConstraint {
public:
    enum Mode { GROUP_ANY_OF = 0, GROUP_ALL_OF = 1 };

    CConstraintGroup(const char* pszName, x_uint32 nID, Mode nMode);
    ~CConstraintGroup() override;

    // Adds a member ID; the group's own ID and IDs already present are ignored.
    void AddConstraint(x_uint32 nID);
    // Looks every member up in constraints; on failure the group stays as it was.
    void ResolveMembers(const ConstraintMap& constraints);
    bool Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const override;

private:
    my::CTree<x_uint32> m_ConstraintIDs;
    // Resolved from m_ConstraintIDs, ascending: ID and constraint (null:
    // undefined in the grammar).
    std::vector<std::pair<x_uint32, const CDataConstraint*>> m_Members;
    x_uint32 m_nMode;
};

#endif  // EN_DATACONSTRAINT_H
