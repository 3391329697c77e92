// DataConstraint.h - value checks that grammar items name by constraint ID.
//
// A constraint is constant data, made with its grammar when the library is
// compiled (GrammarImage.h): a kind, a name, an ID, its bounds and, for a
// constraint group, its members, already resolved to the grammar's
// constraints.  Verify accepts the entry's value, or reports the violation
// (102) and returns false.  A value of a data type that a check does not
// handle is accepted.  Verify writes nothing but its own locals and the
// violation, so any number of threads may verify at once; no check
// allocates memory.
#ifndef EN_DATACONSTRAINT_H
#define EN_DATACONSTRAINT_H

#include "GrammarNode.h"
#include "Violation.h"

class CDataConstraint {
public:
    enum Kind : unsigned char {
        // Length of a narrow string (characters), a wide string (characters)
        // or a byte array (bytes), between nLow and nHigh.
        LENGTH,
        // "Y/M/D h:m:s" or "Y-M-D h:m:s" as sscanf reads six integers; the
        // numbers are not given a meaning.  Wide values are converted as
        // wcstombs converts them under the process's current locale, at most
        // 255 bytes (TimeText.h).  Always named "TimeFormat".
        TIME_FORMAT,
        // A value range, both bounds inclusive: signed (16-bit values
        // sign-extended, 32-bit values taken as signed) or unsigned (16-bit
        // values zero-extended, 32-bit values taken as unsigned).
        SIGNED_RANGE,
        UNSIGNED_RANGE,
        // Groups of the grammar's other constraints, tried in ascending ID
        // order.  Any-of accepts at the first member that accepts and
        // otherwise rejects with the last member's text; all-of rejects with
        // the first rejecting member's text.  No members: accepts.
        ANY_OF,
        ALL_OF
    };

    constexpr CDataConstraint() = default;
    // Bounds as 32-bit patterns (a signed range's as two's complement).
    constexpr CDataConstraint(Kind eKind, const char* pszName, x_uint32 nID, x_uint32 nLow, x_uint32 nHigh,
                              const CDataConstraint* const* pMembers, x_uint32 nMembers)
        : m_pszName(pszName),
          m_pMembers(pMembers),
          m_nID(nID),
          m_nLow(nLow),
          m_nHigh(nHigh),
          m_nMembers(nMembers),
          m_eKind(eKind) {}

    bool Verify(const CMsgEntry& Data, const CNode& Node, CViolation& v) const;

    const char* GetName() const { return m_pszName; }
    x_uint32 GetID() const { return m_nID; }

private:
    bool _VerifyLength(const CMsgEntry& Data, const CNode& Node, CViolation& v) const;
    bool _VerifyTimeFormat(const CMsgEntry& Data, CViolation& v) const;
    template <class T>
    bool _VerifyRange(const CMsgEntry& Data, const CNode& Node, CViolation& v) const;
    bool _VerifyGroup(const CMsgEntry& Data, const CNode& Node, CViolation& v) const;

    const char* m_pszName = "";
    const CDataConstraint* const* m_pMembers = nullptr;  // ascending IDs
    x_uint32 m_nID = 0;
    x_uint32 m_nLow = 0;
    x_uint32 m_nHigh = 0;
    x_uint32 m_nMembers = 0;
    Kind m_eKind = LENGTH;
};

#endif  // EN_DATACONSTRAINT_H
