// The line the statistic log gets when a deletion or a cleanup refuses a
// path for a link on the way that no administrator made: the uninstaller
// deletes nothing there, and the log says which link stopped it.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

constexpr wchar_t kRefusedLinkTag[] = L"ERROR.FollowLink";

// Writes "[ERROR.FollowLink] url:<link>, err:0x800702a9" when result is
// kLinkNotTrusted and link names the link; hands result back.
HRESULT LogRefusedLink(HRESULT result, const WideString& link);

}  // namespace tmn
