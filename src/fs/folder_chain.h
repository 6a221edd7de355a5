// Making a chain of folders where users may write (the product's "Cfg" and
// download folders): each folder reached or made relative to the one above
// it, never by path, so that a link planted on the way cannot lead the
// making, the deleting of a file in the way, or the access list written
// afterwards to another place.
#pragma once

#include <windows.h>

#include "base/unique.h"
#include "base/wide_string.h"
#include "fs/folder_by_path.h"

namespace tmn {

// Makes the folder named by path and every missing folder above it,
// reached from the volume root as PathWalk reaches folders (a link on the
// way is followed only when trust allows it). A missing folder is
// made relative to the one above and set to FILE_ATTRIBUTE_NORMAL through
// its own handle; a plain file standing where a folder belongs is deleted
// through its checked handle first, and a link there stays and fails the
// chain. S_FALSE when every folder existed; S_OK when at least one was made,
// with made (which may be null) holding the last folder open for
// READ_CONTROL and WRITE_DAC; else the failure met (folders made at earlier
// levels stay); E_INVALIDARG for a path that is not fully qualified.
HRESULT CreateFolderChain(const WideString& path, const LinkTrust* trust, UniqueFile* made);

}  // namespace tmn
