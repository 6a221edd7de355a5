// Which install a report comes from: the user id, the cooperation values and
// the install type kept under the product's registry key, read once per
// process; and the product version text from the version resources of the
// product's version library or executable.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

struct InstallIdentity {
  wchar_t uid[64];  // 32 hexadecimal digits when made here
  wchar_t installPath[260];
  int32_t oemId;
  int32_t preOemId;
  uint32_t installType;  // 1: update, 2: cover
  bool loaded;
};

// The record, loaded from the registry on first use in the process.
const InstallIdentity& GetInstallIdentity();

// Fills the record; makes and stores a new uid when none is stored.
const wchar_t* LoadInstallIdentity();

// Empties the record so that the next reader loads it again: only for
// tests, which need a fresh record per case.
void ForgetInstallIdentity();

// The uid text of a GUID: 32 hexadecimal digits, the third group in lower
// case. uid must hold 33 characters.
void FormatUid(const GUID& guid, wchar_t* uid);

// The product version text that install reports name, "0.0.0.0" when
// none can be had.
extern WideString g_productVersion;

// "%d.%d.%d.%d" of the first file of the product that carries a version:
// "pelvo.dll" beside the host executable, else in the install folder, else
// "vardo.exe" beside the host executable.
void GetProductVersion(WideString* out);

// The same search from given folders; an empty folder is not searched.
void GetProductVersionFrom(const WideString& hostFolder, const wchar_t* installPath, WideString* out);

}  // namespace tmn
