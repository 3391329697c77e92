// TimeText.h - the shape test of the time format constraint.
//
// A time text is accepted when
//     sscanf(text, "%d/%d/%d %d:%d:%d", ...) == 6  or
//     sscanf(text, "%d-%d-%d %d:%d:%d", ...) == 6
// and IsTimeText answers exactly that, without sscanf: each number may be
// preceded by white space (isspace of the current locale) and a sign and
// has at least one decimal digit, however many; the blank between date and
// time matches any run of white space, also none; anything after the sixth
// number is ignored; the numbers are not given a meaning (overflow too is
// only a run of digits).  It reads the text once and never allocates.
//
// NarrowTimeText converts a wide value as the check does: what
// wcstombs(buffer, text, 255) gives under the current locale in a buffer of
// 256 zero bytes.  Pure ASCII, the common case, is copied without calling
// wcstombs; every glibc locale maps it to itself.
#ifndef EN_TIMETEXT_H
#define EN_TIMETEXT_H

#include <cstddef>

namespace timetext {

const size_t kNarrowBufferSize = 256;

bool IsTimeText(const char* text);

// True only if IsTimeText(NarrowTimeText(text)) is true, found without the
// conversion: a wide text that is ASCII up to the end of its sixth number.
// False means: convert and ask IsTimeText.
bool IsWideTimeText(const wchar_t* text);

// Returns buffer, which holds the zero-terminated conversion.
const char* NarrowTimeText(const wchar_t* text, char (&buffer)[kNarrowBufferSize]);

}  // namespace timetext

#endif  // EN_TIMETEXT_H
