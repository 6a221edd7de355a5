// How the names of entries compare: as the file system compares them
// (ordinal, letter case aside, by ntdll's own comparison), never by the
// rules of a language. And the one leniency Wine needs: the name a handle
// reports is worked out from its path, with trailing dots dropped from
// every component and trailing blanks from the last ("m." reports as "m").
#pragma once

#include <stddef.h>

namespace tmn {

// Whether a and b are one name to the file system.
bool SameEntryName(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength);

// Whether reported, one component of the name a handle reached, is the
// expected name: the same name, or the name Wine reports for it (without
// its trailing dots, and, when it is the last component, its trailing
// blanks).
bool ReportsAs(const wchar_t* reported, size_t reportedLength, const wchar_t* expected, size_t expectedLength,
               bool last);

// Whether a and b, whole names that handles reached ("\a\b") or the names
// of a path, name the same folder: component by component, the trailing
// dots and blanks that Wine may have dropped from either aside.
bool SameReachedName(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength);

// "." and "..", which no listing hands out and no entry is named.
bool IsDotOrDotDot(const wchar_t* name, size_t length);

}  // namespace tmn
