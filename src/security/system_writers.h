// Whether a file or folder is the system's own: one that no one may change
// who may not also write the system folder. An elevated installer trusts
// such a thing only: a library it loads, the ledger that tells it what to
// delete, a link it follows. Whoever else may write it, or its folder, or
// change their access, could put there what the installer then runs or
// obeys.
//
// The rule is over who may write, not over who owns: under Wine every file
// is owned by the one user, who may also write the system folder, so a rule
// over owners would refuse everything there, while this one holds on both.
// SYSTEM, the Administrators group and TrustedInstaller always count as the
// system folder's writers.
#pragma once

#include <windows.h>

#include <stddef.h>

#include "base/unique.h"
#include "fs/folder_by_path.h"

namespace tmn {

// The rights that let an account change a file or folder: write or append
// to it, make or delete entries in it, change its attributes, delete or
// rename it, or change its access list or owner.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                      FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;

// Those who may change the system folder: its owner, every account its
// access list grants a change right, and the three that always may.
class SystemWriters {
 public:
  // From the system folder as it stands. False when its access cannot be
  // read: then nothing counts as the system's own.
  bool Read();
  // From the system folder's descriptor (owner and access list).
  bool Take(PSECURITY_DESCRIPTOR systemFolder);
  bool Includes(PSID sid) const;

 private:
  static constexpr size_t kMaxWriters = 16;
  bool Add(PSID sid);
  BYTE sids_[kMaxWriters][SECURITY_MAX_SID_SIZE] = {};
  size_t count_ = 0;
};

// The decision for one object, from its descriptor: its owner is one of
// writers, and its access list grants no change right to anyone else. No
// access list (everyone may do anything), no owner, or an allow entry of a
// kind this cannot read fails it. Entries that only pass to what is made
// inside (inherit-only) and deny entries change nothing.
bool OnlyTheyMayChange(PSECURITY_DESCRIPTOR descriptor, const SystemWriters& writers);

// Whether only the system folder's writers may change the object held by
// object and its folder held by folder; both handles need READ_CONTROL.
// Read through the file-system seam, so that tests can show Windows' lists.
bool OnlySystemWritersMayChange(HANDLE object, HANDLE folder, const SystemWriters& writers);

// The same for the file at path (fully qualified) and the folder holding
// it, each opened by path. A file that is a link, or any other reparse
// point, is not the system's own.
bool OnlySystemWritersMayChangeFile(const wchar_t* path);

// The same, and when true the file stays held in heldFile, so that no one
// may write, delete or rename it, and its folder in heldFolder, so that no
// one may delete or rename it, until the caller lets them go: what was
// judged is what the caller then uses by its path.
bool OnlySystemWritersMayChangeFile(const wchar_t* path, UniqueFile* heldFile, UniqueFile* heldFolder);

// The rule as the deletion and the cleanup ask it: the system folder's
// writers, read once on first use, and the judge of links met on the way to
// a folder, built on them.
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
