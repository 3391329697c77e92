// ViolationSink.h - the two ways a walk ends: at the first violation, or
// with every violation handed to the caller.
//
// The walk (CBlobMessageParser::Parse) is a template on its sink.  It calls
// Report(v, locate) for each violation it decides, with a function that
// fills a location; Report returns whether the walk goes on.  The first
// sink always says no, so that its walk compiles to the single verdict and
// nothing more; the second says yes until its cap, and the walk then goes
// on by the recovery rules (docs/design.md), which are compiled only for it.
#ifndef EN_VIOLATIONSINK_H
#define EN_VIOLATIONSINK_H

#include <cstring>

#include "En_ValidationPrivate.h"
#include "ValidationResultAdaptor.h"
#include "Violation.h"

// Marks a location as unset: for 100, 103 and 104, decided before the walk
// or without a reader.
inline void Unlocated(EN_VALIDATE_LOCATION& loc) {
    loc.bLocated = 0;
    loc.nEntry = 0;
    loc.nOffset = 0;
    loc.szPath[0] = 0;
}

// The single verdict of the exported functions: the first violation ends
// the walk and becomes the record; its place goes to pLocation when given.
class CFirstViolation {
public:
    static constexpr bool kContinues = false;

    explicit CFirstViolation(EN_VALIDATE_LOCATION* pLocation) : m_pLocation(pLocation) {}

    void Begin(CValidationResultAdaptor& adaptor) {
        m_pAdaptor = &adaptor;
        if (m_pLocation != nullptr) m_pLocation->bLocated = 0;
    }
    // A verdict decided before the walk (103, 104): the record holds it.
    void Decided(const EN_VALIDATE_RESULT&) {}
    template <class Locate>
    bool Report(const CViolation&, Locate locate) {
        if (m_pLocation != nullptr) locate(*m_pLocation);
        return false;
    }
    void Finish(bool conforms, const CViolation& v) { conforms ? m_pAdaptor->SetSuccess() : m_pAdaptor->SetResult(v); }

private:
    EN_VALIDATE_LOCATION* m_pLocation;
    CValidationResultAdaptor* m_pAdaptor = nullptr;
};

// Every violation, at most nMax (notes included), each passed to the
// caller's sink or written into its array; the first one that is not a
// note also becomes the record.  Nothing is allocated: with a sink, a
// record lives here for the length of the call.
class CEveryViolation {
public:
    static constexpr bool kContinues = true;

    CEveryViolation(x_uint32 nMax, EN_VALIDATE_SINK pfnSink, void* pContext)
        : m_nMax(nMax), m_pfnSink(pfnSink), m_pContext(pContext) {}
    CEveryViolation(const CEveryViolation&) = delete;
    CEveryViolation& operator=(const CEveryViolation&) = delete;

    void Begin(CValidationResultAdaptor& adaptor) { m_pAdaptor = &adaptor; }
    void Decided(const EN_VALIDATE_RESULT& record) {
        Deliver([&record](EN_VALIDATE_RESULT& r) { std::memcpy(&r, &record, sizeof r); }, Unlocated);
    }
    template <class Locate>
    bool Report(const CViolation& v, Locate locate) {
        if (!m_bFirst && v.GetCode() != 0) {
            m_bFirst = true;
            m_pAdaptor->SetResult(v);
        }
        return Deliver([&v](EN_VALIDATE_RESULT& r) { CValidationResultAdaptor(r).SetResult(v); }, locate);
    }
    void Finish(bool, const CViolation&) {
        if (!m_bFirst) m_pAdaptor->SetSuccess();
    }
    x_uint32 GetCount() const { return m_nCount; }

private:
    template <class Fill, class Locate>
    bool Deliver(Fill fill, Locate locate) {
        if (m_nCount == m_nMax) return false;
        EN_VALIDATE_VIOLATION& out =
            m_pfnSink != nullptr ? m_Scratch : static_cast<EN_VALIDATE_VIOLATION*>(m_pContext)[m_nCount];
        fill(out.result);
        out.bNote = out.result.nCode == 0;
        locate(out.location);
        ++m_nCount;
        return (m_pfnSink == nullptr || m_pfnSink(m_pContext, &out) != 0) && m_nCount < m_nMax;
    }

    const x_uint32 m_nMax;
    const EN_VALIDATE_SINK m_pfnSink;
    void* const m_pContext;
    CValidationResultAdaptor* m_pAdaptor = nullptr;
    x_uint32 m_nCount = 0;
    bool m_bFirst = false;
    EN_VALIDATE_VIOLATION m_Scratch;
};

#endif  // EN_VIOLATIONSINK_H
