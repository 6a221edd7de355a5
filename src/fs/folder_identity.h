// Whether two folder paths lead to the same folder, or one to a folder
// above the other, told by where they lead rather than by how they are
// written: "\\?\" forms, 8.3 names, letter case, another drive letter for
// the same folder and links all spell one folder in many ways.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

enum class FolderRelation {
  kApart,    // neither is the other nor lies below it
  kNested,   // the same folder, or one lies below the other
  kUnknown,  // a folder could not be opened, or its place not read
};

// How folder a stands to folder b. Each is opened through whatever links
// and drive letters it names, to the folder where its files lie; the two
// folders reached are compared by volume, then by the names they reached,
// component by component.
FolderRelation RelateFolders(const WideString& a, const WideString& b);

}  // namespace tmn
