// The lines the statistic log gets when a deletion or a cleanup refuses
// what it would otherwise obey: a path, for a link on the way that others
// than the system's writers may change (the uninstaller deletes nothing
// there, and the log says which link stopped it), or the download ledger,
// when it is not the product's own (the log says why).
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

constexpr wchar_t kRefusedLinkTag[] = L"ERROR.FollowLink";
constexpr wchar_t kIgnoredLedgerTag[] = L"ERROR.ObeyLedger";

// Writes "[ERROR.FollowLink] url:<link>, err:0x800702a9" when result is
// kLinkNotTrusted and link names the link; hands result back.
HRESULT LogRefusedLink(HRESULT result, const WideString& link);

// Writes "[ERROR.ObeyLedger] url:<file>, err:0x..." with why the ledger in
// file is not obeyed.
void LogIgnoredLedger(const WideString& file, HRESULT why);

}  // namespace tmn
