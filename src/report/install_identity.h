// Which install a report comes from: the user id, the cooperation values and
// the install type kept under the product's registry key, read once per
// process; and the product version text from the version resources of the
// product's version library or executable.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/wide_string.h"
#include "settings/product_keys.h"

namespace tmn {

constexpr size_t kUidChars = 64;
// The uid read offers all but the last character of its buffer, which
// stays the NUL.
constexpr DWORD kUidOfferedBytes = (kUidChars - 1) * sizeof(wchar_t);  // 126
// The OEM values: 100 characters offered, and a NUL that always stays.
constexpr DWORD kOemTextChars = 100;

struct InstallIdentity {
  wchar_t uid[kUidChars];  // 32 hexadecimal digits when made here
  wchar_t installPath[kInstallPathChars];
  int32_t oemId;
  int32_t preOemId;
  uint32_t installType;  // 1: update, 2: cover
  bool loaded;
};

// The record, loaded from the registry on first use in the process. The
// reports' workers may ask at the same time: one loads, the others wait for
// it (the registry of this machine answers at once).
const InstallIdentity& GetInstallIdentity();

// Fills the record; makes and stores a new uid when none is stored.
const wchar_t* LoadInstallIdentity();

// The uid as the registry delivered it into the zero-filled record: kept
// when the read gave a REG_SZ value (true), else emptied.
bool KeepUidValue(LONG status, DWORD type, wchar_t (&uid)[kUidChars]);
// The leading decimal number of what the registry delivered into a
// zero-filled buffer; 0 for anything but a REG_SZ value.
int32_t DecimalOfValue(LONG status, DWORD type, const wchar_t (&text)[kOemTextChars + 1]);

// Empties the record so that the next reader loads it again: only for
// tests, which need a fresh record per case.
void ForgetInstallIdentity();

// The uid text of a GUID: 32 hexadecimal digits, the third group in lower
// case. uid must hold 33 characters.
void FormatUid(const GUID& guid, wchar_t* uid);

// The product version text that install reports name, "0.0.0.0" when none
// can be had: "%d.%d.%d.%d" of the first file of the product that carries a version:
// "pelvo.dll" beside the host executable, else in the install folder, else
// "vardo.exe" beside the host executable. The install folder, and with it
// the identity, is read only when no library lies beside the host.
void GetProductVersion(WideString* out);

// The same search from a given host folder; the install folder is asked
// for only when it is searched. An empty folder is not searched.
using InstallFolderSource = const wchar_t* (*)();
void GetProductVersionFrom(const WideString& hostFolder, InstallFolderSource installFolder, WideString* out);

}  // namespace tmn
