// Which family of Windows runs: version 6 (Vista) and later, or the older
// systems before it, where several operations behave differently.
#pragma once

namespace tmn {

// True on Windows before 6.0, and when the version cannot be read.
bool IsPreVistaWindows();

}  // namespace tmn
