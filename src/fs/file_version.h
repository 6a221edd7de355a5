// The fixed file version of a file's version resource, and its dotted text.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

// The two halves of a version resource's fixed file version: major and
// minor in high, build and revision in low.
struct FileVersion {
  uint32_t high;
  uint32_t low;
};

// False when the file has no version resource with a fixed block.
bool GetFileVersion(const wchar_t* file, FileVersion* version);

// The fixed file version of a version block of size bytes as
// GetFileVersionInfoW fills it; false when the block has no fixed block
// that lies within it.
bool FixedFileVersionOf(const void* block, size_t size, FileVersion* version);

// "%d.%d.%d.%d" of major, minor, build, revision.
bool FormatFileVersion(const FileVersion& version, WideString* out);

}  // namespace tmn
