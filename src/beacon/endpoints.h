// The two addresses the install beacon names. Their host names are build
// settings (TM_COUNTER_HOST, TM_INSTALL_REPORT_HOST); the paths are fixed.
// Each copy of the plug-in is linked with its own endpoints object.
#pragma once

namespace tmn {

// The page counter's pixel, which the beacon fetches.
extern const wchar_t kCounterPixelUrl[];
// The maker's install-report address, which the beacon's Referer names.
extern const wchar_t kInstallReportUrl[];

}  // namespace tmn
