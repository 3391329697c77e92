// Broken grammar tables, which must not compile: built with
// -DEN_BROKEN_<problem>, the compiler must name the table, the problem and
// its row (tests/unit/CMakeLists.txt gives the row each case expects).
#include "GrammarImage.h"

namespace {

using grammar::ConstraintKind;
constexpr grammar::NodeKind I = grammar::NodeKind::Item;
constexpr grammar::NodeKind G = grammar::NodeKind::Group;

constexpr x_uint32 kLoopA[] = {11};
constexpr x_uint32 kLoopB[] = {10};
constexpr x_uint32 kMissing[] = {3, 77};
constexpr x_uint32 kSigned[] = {3};

constexpr grammar::ConstraintRow kConstraints[] = {
    {ConstraintKind::TimeFormat, "TimeFormat", 1, 0, 0, nullptr, 0},
    {ConstraintKind::UnsignedRange, "Percent", 2, 0, 100, nullptr, 0},
    {ConstraintKind::SignedRange, "Small", 3, -3, 3, nullptr, 0},
    {ConstraintKind::AnyOf, "AnySigned", 4, 0, 0, kSigned, 1},
#if defined(EN_BROKEN_DuplicateConstraintID)
    {ConstraintKind::Length, "Len", 3, 0, 10, nullptr, 0},
#elif defined(EN_BROKEN_EmptyRange)
    {ConstraintKind::SignedRange, "R", 9, 5, 4, nullptr, 0},
#elif defined(EN_BROKEN_UndefinedMemberID)
    {ConstraintKind::AllOf, "Dangling", 9, 0, 0, kMissing, 2},
#elif defined(EN_BROKEN_GroupReachesItself)
    {ConstraintKind::AnyOf, "A", 10, 0, 0, kLoopA, 1},
    {ConstraintKind::AllOf, "B", 11, 0, 0, kLoopB, 1},
#endif
};

constexpr grammar::NodeRow kRows[] = {
    {0, I, "Time", 1, DT_WSTRING, true, 1},
    {0, G, "Grp", 5, DT_GROUP, false, 0},
    {1, I, "First", 7, DT_INT16, true, 3},
    {1, I, "Second", 8, DT_UINT16, false, 2},
#if defined(EN_BROKEN_DuplicateSubNodeID)
    {1, G, "Third", 7, DT_GROUP, false, 0},
#elif defined(EN_BROKEN_DeeperThanItsGroup)
    {3, I, "Deep", 9, DT_INT16, false, 0},
#elif defined(EN_BROKEN_UndefinedConstraintID)
    {1, I, "Unchecked", 9, DT_INT16, false, 77},
#elif defined(EN_BROKEN_RangeOfOtherSignedness)
    {1, I, "Port", 9, DT_UINT16, false, 4},
#endif
};

constexpr grammar::RowSpan kSpans[] = {{kRows, grammar::CountOf(kRows)}};
constexpr grammar::GrammarTable kBroken = {
    "CBrokenGrammar", 0, kConstraints, grammar::CountOf(kConstraints), kSpans, 1, nullptr, 0};

}  // namespace

const CBlobGrammar* BrokenGrammar() { return &grammar::kImage<kBroken>.grammar; }
