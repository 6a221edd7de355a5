// The rule of what is the system's own (system_writers.h), as the deletion
// and the cleanup ask it: the system folder's writers, read once on first
// use, and the judge of links met on the way to a folder, built on them.
#pragma once

#include <windows.h>

#include "fs/folder_by_path.h"
#include "security/system_writers.h"

namespace tmn {

class SystemRule {
 public:
  SystemRule() = default;
  SystemRule(const SystemRule&) = delete;
  SystemRule& operator=(const SystemRule&) = delete;

  // Whether only the system folder's writers may change object and the
  // folder holding it; false when their access cannot be read.
  bool OnlySystemMayChange(HANDLE object, HANDLE folder);

  // For path walks: a link is followed only when only the system folder's
  // writers may change it and its folder. Owning it is not enough: whoever
  // may write it, or replace it in its folder, may aim it anew.
  const LinkTrust* Links() { return &links_; }

 private:
  static bool MayFollow(void* self, HANDLE link, HANDLE folder);

  LinkTrust links_{MayFollow, this};
  SystemWriters writers_;
  int read_ = 0;  // 0: not yet; 1: read; -1: could not be read
};

}  // namespace tmn
