// The reports the installer script asks for while the product is removed.
#pragma once

#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

// The uninstall flag: 1 for the text "1" alone, 0 for any other text.
int32_t UninstallFlag(const WideString& text);

// Hands the uninstall record, after the install's public record, to the
// product's info-collection library; sends nothing without the library.
void SendUninstallReport(int32_t flag);

}  // namespace tmn
