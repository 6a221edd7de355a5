// Whether two folder paths lead to the same folder, or one to a folder
// above the other, told by what they open (volume serial number and file
// index) rather than by how they are written: "\\?\" forms, 8.3 names,
// another drive letter for the same folder and links all spell one folder
// in many ways.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

enum class FolderRelation {
  kApart,    // neither is the other nor lies below it
  kNested,   // the same folder, or one lies below the other
  kUnknown,  // a folder or one of its ancestors could not be opened
};

// How folder a stands to folder b. Every ancestor of each, as its full
// path spells it, is opened and compared with the other.
FolderRelation RelateFolders(const WideString& a, const WideString& b);

}  // namespace tmn
