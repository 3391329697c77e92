#include "PlainValidator.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <memory>
#include <type_traits>

#include "Apr.h"
#include "DataConstraint.h"
#include "En_Msg.h"
#include "Exceptions.h"

namespace plain {

namespace {

// One open group instance: every sub-node ID with its count, all 0 at
// first, inserted in ascending ID order.
class Context {
public:
    explicit Context(const CGroupNode& group) : m_pGroup(&group) {
        my::CAutoPtr<CConstIterator<CGroupNode::SubNodeMap::CPair>> it(group.GetSubNodes().CreateConstIterator());
        while (it->HasNext()) m_Counts.Insert(it->Next().m_Key, 0);
    }

    const CGroupNode& Group() const { return *m_pGroup; }

    x_uint32& Count(x_uint32 nID) {
        try {
            return m_Counts.Get(nID);
        } catch (const my::CNoSuchDataException&) {
            throw CInternalErrorException("Node ID(%u) is not in group '%s'", nID, m_pGroup->GetName());
        }
    }

    void ThrowIfRequiredNodesAreNotMet() {
        my::CAutoPtr<CConstIterator<CGroupNode::SubNodeMap::CPair>> it(m_pGroup->GetSubNodes().CreateConstIterator());
        while (it->HasNext()) {
            const CNode* node = it->Next().m_Value;
            if (node->IsRequired() && Count(node->GetID()) == 0)
                throw CSyntaxErrorException("Missing required node(ID: %u, Name: %s) under group '%s'.", node->GetID(),
                                            node->GetName(), m_pGroup->GetName());
        }
    }

private:
    const CGroupNode* m_pGroup;
    my::CMap<x_uint32, x_uint32> m_Counts;
};

const CNode* MatchSubNode(const CGroupNode& group, x_uint32 nID, x_uint32 nDataType) {
    const CNode* node;
    try {
        node = group.GetSubNodes().Get(nID);
    } catch (const my::CNoSuchDataException&) {
        throw CSyntaxErrorException("Node(ID: %u) is unexpected under group '%s'.", nID, group.GetName());
    }
    if (node->GetDataType() != nDataType)
        throw CSyntaxErrorException("Node(ID: %u, Type: %u) expected under group '%s', but Node(ID: %u, Type: %u) is given.",
                                    node->GetID(), node->GetDataType(), group.GetName(), nID, nDataType);
    return node;
}

template <class T>
T ReadValue(const CMsgEntry& entry) {
    T v;
    std::memcpy(&v, entry.m_pData, sizeof v);
    return v;
}

void VerifyLength(const CLengthConstraint& c, const CMsgEntry& data, const CNode& node) {
    x_uint32 length;
    switch (data.m_nDataType) {
        case DT_STRING: length = data.m_nDataLength - 1; break;
        case DT_WSTRING: length = (data.m_nDataLength - 4) / 4; break;
        case DT_BYTES: length = data.m_nDataLength; break;
        default: return;
    }
    if (c.GetMinLength() <= length && length <= c.GetMaxLength()) return;
    throw CDataConstraintViolationException(
        "Data(Len: %u) of Node(ID: %u, Name: %s) is not compliant with constraint(ID: %u, Name: '%s')[%u<=DataLength<=%u].",
        length, node.GetID(), node.GetName(), c.GetID(), c.GetName(), c.GetMinLength(), c.GetMaxLength());
}

void VerifyTime(const CMsgEntry& data) {
    char converted[256];
    const char* text;
    switch (data.m_nDataType) {
        case DT_STRING:
            text = static_cast<const char*>(data.m_pData);
            break;
        case DT_WSTRING:
            std::memset(converted, 0, sizeof converted);
            std::wcstombs(converted, static_cast<const wchar_t*>(data.m_pData), sizeof converted - 1);
            text = converted;
            break;
        default:
            return;
    }
    int f[6] = {0, 0, 0, 0, 0, 0};
    if (std::sscanf(text, "%d/%d/%d %d:%d:%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) == 6) return;
    if (std::sscanf(text, "%d-%d-%d %d:%d:%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) == 6) return;
    throw CDataConstraintViolationException("'%s' is not a valid time string", text);
}

// T is x_int32 (16-bit values sign-extended) or x_uint32 (zero-extended),
// by the constraint's kind, whatever the entry's type.
template <class T>
void VerifyRange(const CValueRangeConstraint<T>& c, const CMsgEntry& data, const CNode& node) {
    const bool isSigned = std::is_signed<T>::value;
    x_uint32 bits;
    switch (data.m_nDataType) {
        case DT_INT16:
        case DT_UINT16:
            bits = isSigned ? static_cast<x_uint32>(static_cast<x_int32>(ReadValue<int16_t>(data)))
                            : static_cast<x_uint32>(ReadValue<uint16_t>(data));
            break;
        case DT_INT32:
        case DT_UINT32: bits = ReadValue<x_uint32>(data); break;
        default: return;
    }
    const T value = static_cast<T>(bits);
    if (c.GetMinValue() <= value && value <= c.GetMaxValue()) return;
    if (isSigned)
        throw CDataConstraintViolationException(
            "Data(ID: %u, Name: '%s', Value: %d) is not compliant with constraint(ID: %u, Name: '%s') [%d<=Value<=%d]",
            node.GetID(), node.GetName(), static_cast<x_int32>(value), c.GetID(), c.GetName(),
            static_cast<x_int32>(c.GetMinValue()), static_cast<x_int32>(c.GetMaxValue()));
    throw CDataConstraintViolationException(
        "Data(ID: %u, Name: '%s', Value: %u) is not compliant with constraint(ID: %u, Name: '%s') [%u<=Value<=%u]",
        node.GetID(), node.GetName(), static_cast<x_uint32>(value), c.GetID(), c.GetName(),
        static_cast<x_uint32>(c.GetMinValue()), static_cast<x_uint32>(c.GetMaxValue()));
}

void Verify(const CDataConstraint& c, const CMsgEntry& data, const CNode& node, const CBlobGrammar& grammar);

// Members in ascending ID order, each looked up on every check.  Any-of
// accepts at the first member that accepts, else rethrows the last
// member's violation; all-of throws the first.
void VerifyGroup(const CConstraintGroup& c, const CMsgEntry& data, const CNode& node, const CBlobGrammar& grammar) {
    my::CAutoPtr<CConstIterator<x_uint32>> it(c.GetMembers().CreateConstIterator());
    while (it->HasNext()) {
        const CDataConstraint* member = grammar.GetConstraint(it->Next());
        if (c.GetMode() == CConstraintGroup::GROUP_ALL_OF) {
            Verify(*member, data, node, grammar);
            continue;
        }
        try {
            Verify(*member, data, node, grammar);
            return;
        } catch (const CDataConstraintViolationException&) {
            if (!it->HasNext()) throw;
        }
    }
}

void Verify(const CDataConstraint& c, const CMsgEntry& data, const CNode& node, const CBlobGrammar& grammar) {
    if (const auto* p = dynamic_cast<const CLengthConstraint*>(&c)) return VerifyLength(*p, data, node);
    if (dynamic_cast<const CTimeFormatConstraint*>(&c) != nullptr) return VerifyTime(data);
    if (const auto* p = dynamic_cast<const CValueRangeConstraint<x_int32>*>(&c)) return VerifyRange(*p, data, node);
    if (const auto* p = dynamic_cast<const CValueRangeConstraint<x_uint32>*>(&c)) return VerifyRange(*p, data, node);
    if (const auto* p = dynamic_cast<const CConstraintGroup*>(&c)) return VerifyGroup(*p, data, node, grammar);
    std::fprintf(stderr, "plain validator: constraint %u of an unknown kind\n", c.GetID());
    std::abort();
}

EN_PRINTF_LIKE(3, 4) void SetResult(EN_VALIDATE_RESULT& r, int nCode, const char* pszFormat, ...) {
    r.nCode = nCode;
    va_list args;
    va_start(args, pszFormat);
    CApr::vsnprintf(r.szMessage, EN_VALIDATE_MESSAGE_SIZE - 1, pszFormat, args);
    va_end(args);
    r.szMessage[EN_VALIDATE_MESSAGE_SIZE - 1] = 0;
}

template <class FetchGrammar>
void Validate(void* pMsgHandle, EN_VALIDATE_RESULT& r, FetchGrammar fetch) {
    SetResult(r, EN_VALIDATE_UNKNOWN_ERROR, "Unknown error");
    if (pMsgHandle == nullptr) return SetResult(r, EN_VALIDATE_NULL_HANDLE, "pMsgHandle is NULL.");
    try {
        const CBlobGrammar* grammar = fetch();
        if (grammar == nullptr) return;
        Parse(pMsgHandle, *grammar);
        SetResult(r, EN_VALIDATE_SUCCESS, "%s", "");
    } catch (const CExceptionBase& e) {
        SetResult(r, e.m_nErrCode, "%s", e.m_szErrMsg);
    } catch (...) {
    }
}

}  // namespace

void VerifyDataConstraint(const CMsgEntry& entry, const CNode& node, const CBlobGrammar& grammar) {
    if (node.GetConstraintID() != 0) Verify(*grammar.GetConstraint(node.GetConstraintID()), entry, node, grammar);
}

void Parse(void* pMsgHandle, const CBlobGrammar& grammar) {
    std::unique_ptr<CBlobReader, void (*)(CBlobReader*)> reader(CreateINVPBlobReader(), FreeINVPBlobReader);
    reader->Attach(En_Msg_GetBuffer(pMsgHandle), En_Msg_BytesUsed(pMsgHandle));
    const CGroupNode& root = grammar.GetRoot();
    std::deque<Context> stack;  // open groups, innermost last
    stack.emplace_back(root);
    CMsgEntry entry = {0, 0, nullptr, 0};
    for (;;) {
        const int rc = reader->Pop(&entry.m_nID, &entry.m_nDataType, &entry.m_pData, &entry.m_nDataLength);
        if (rc == BLOB_END_OF_DATA) {
            // Groups still open are closed without their own test.
            if (stack.empty())
                throw CSyntaxErrorException("Group '%s' is closed before the end of the message.", root.GetName());
            stack.back().ThrowIfRequiredNodesAreNotMet();
            return;
        }
        if (rc != 0) throw CInternalErrorException("CBlobReader::Pop() failed. %d is returned.", rc);
        if (stack.empty())
            throw CSyntaxErrorException("Node(ID: %u) is unexpected after group '%s' is closed.", entry.m_nID,
                                        root.GetName());
        Context& context = stack.back();
        const CGroupNode& group = context.Group();
        if (entry.m_nDataType == DT_END_OF_GROUP) {
            if (entry.m_nID != group.GetID())
                throw CSyntaxErrorException("EndOfGroup tag of ID(%u) is expected, but ID(%u) is given.", group.GetID(),
                                            entry.m_nID);
            context.ThrowIfRequiredNodesAreNotMet();
            stack.pop_back();
            continue;
        }
        const CNode* node = MatchSubNode(group, entry.m_nID, entry.m_nDataType);
        const x_uint32 count = ++context.Count(node->GetID());
        if (node->GetNodeType() == NT_GROUP) {
            stack.emplace_back(static_cast<const CGroupNode&>(*node));
            continue;
        }
        if (count >= 2)
            throw CSyntaxErrorException("Node (ID: %u, Name: %s) is not allowed to exist in group '%s' for more than once. ",
                                        node->GetID(), node->GetName(), group.GetName());
        VerifyDataConstraint(entry, *node, grammar);
    }
}

void ValidateLog(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult) {
    Validate(pMsgHandle, *pResult, [&]() {
        const CBlobGrammar* grammar = CBlobGrammar::GetLogGrammar(nMsgType);
        if (grammar == nullptr) SetResult(*pResult, EN_VALIDATE_UNKNOWN_MSGTYPE, "Unknown MsgType=%d.", nMsgType);
        return grammar;
    });
}

void ValidateRegisterData(void* pMsgHandle, EN_VALIDATE_RESULT* pResult) {
    Validate(pMsgHandle, *pResult, [] { return CBlobGrammar::GetRegGrammar(); });
}

}  // namespace plain
