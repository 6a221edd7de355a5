// The reports the installer script asks for: the install report once the
// product is installed, the uninstall report while it is removed.
#pragma once

#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

// Works out the product version and sends the counter's pixel request with
// the install-report address and that version as its referer, through the
// process's beacon client. Nonzero when delivered; an undelivered request
// is stored and logged.
int32_t SendInstallBeacon();

// The install beacon, to its end; then the install record ("preid",
// "update", "cover"), after the install's public record, to the product's
// info-collection library; no record without the library.
void SendInstallReport();

// The uninstall flag: 1 for the text "1" alone, 0 for any other text.
int32_t UninstallFlag(const WideString& text);

// Hands the uninstall record, after the install's public record, to the
// product's info-collection library; sends nothing without the library.
void SendUninstallReport(int32_t flag);

}  // namespace tmn
