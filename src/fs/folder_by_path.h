// Reaching a folder named by path. The path is read once, here: its volume
// root is opened by path, and every name below it relative to the folder
// above, looked up in that folder's listing and checked as it is opened,
// so that nothing is re-resolved once it was checked.
//
// A link on the way leads wherever its maker chose, and whoever may change
// it or its folder may aim it anew. It is followed only when the caller's
// rule allows it (the rule of who may change what lives above this layer),
// and only while it is held open, so that it cannot be swapped meanwhile.
// Where the link itself cannot be opened (Wine opens a Unix link as its
// target, whatever the flags), it is followed, and the folder reached must
// then carry the very names that were asked for: a link that leads
// elsewhere shows in them. Anything else refuses the path, naming the link.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/wide_string.h"
#include "fs/checked_open.h"
#include "fs/folder_listing.h"
#include "fs/link_checks.h"

namespace tmn {

// A path that leads through a link whose maker is not trusted.
constexpr HRESULT kLinkNotTrusted = HRESULT_FROM_WIN32(681);  // ERROR_STOPPED_ON_SYMLINK

// What folders on the way are held with: listed, and their access read
// when a link in them is judged.
constexpr ACCESS_MASK kWalkAccess = kListingAccess | READ_CONTROL;

// Whether a link met on the way may be followed, asked with the link opened
// as itself and the folder holding it, both with READ_CONTROL. Without one,
// no link that opens as itself is followed.
struct LinkTrust {
  bool (*mayFollow)(void* context, HANDLE link, HANDLE folder);
  void* context;
};

// One name as its folder lists it, copied out of the listing.
struct FoundEntry {
  WideString name;  // its long name
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  uint64_t fileId = 0;
  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool IsLink() const { return IsLinkEntry(attributes, reparseTag); }
  ListedEntry AsListed() const;
};

class PathWalk {
 public:
  explicit PathWalk(const LinkTrust* trust) : trust_(trust) {}
  PathWalk(const PathWalk&) = delete;
  PathWalk& operator=(const PathWalk&) = delete;

  // Reads path: its folders in their full form (GetFullPathNameW, unless
  // written as "\\?\"), its last name exactly as written ("tree " stays
  // "tree "), and opens its volume root. E_INVALIDARG for a path that is not
  // fully qualified (it would lead wherever the installer stands), one that
  // names a volume or share root or holds a wildcard, or whose last name is
  // "." or "..".
  HRESULT Begin(const WideString& path);

  // The name to pass next, and whether it is the path's last.
  const wchar_t* NextName() const { return text_.Get() + next_; }
  size_t NextNameLength() const { return nextLength_; }
  bool AtLastName() const { return next_ + nextLength_ == text_.Length(); }
  bool PassedAll() const { return next_ == text_.Length(); }

  // The folder reached so far, spelling its whole reached name.
  HeldFolder& Folder() { return folder_; }

  // Looks the next name up in the folder reached, by its long name or its
  // short one: S_OK with its entry; ERROR_FILE_NOT_FOUND when there is none
  // (ERROR_PATH_NOT_FOUND for a name above the last).
  HRESULT Look(FoundEntry* entry);
  // Passes into the next name, found as entry: a folder of its own, or a
  // link as above. kEntryNotOwn when a check fails, kLinkNotTrusted, or
  // ERROR_DIRECTORY for a file.
  HRESULT Enter(const FoundEntry& entry);
  // Makes the next name as a new folder, relative to the folder reached,
  // and passes into it; its handle carries extraAccess as well.
  // ERROR_ALREADY_EXISTS when something of that name came meanwhile.
  HRESULT Make(ACCESS_MASK extraAccess);
  // Where a link of unknown owner was followed: whether the folder reached
  // carries the names asked for. kLinkNotTrusted when it does not.
  HRESULT Confirm();

  // The path up to the link that refused it (after kLinkNotTrusted).
  const WideString& RefusedLink() const { return refusedLink_; }

 private:
  HRESULT FollowLink(const FoundEntry& entry, HeldFolder* reached, bool* trusted);
  void Pass(HeldFolder&& reached, const wchar_t* name, size_t length);
  // Makes the name that begins at from, or after the separators there, the next.
  void FindName(size_t from);

  const LinkTrust* trust_;
  WideString text_;   // the volume root as written, then the names
  size_t rootLength_ = 0;
  size_t next_ = 0, nextLength_ = 0;  // the name to pass next, in text_
  HeldFolder folder_;
  // The names asked for, as their folders list them, after the volume root
  // or the last link an administrator made: what a folder reached through
  // a link of unknown owner must be named.
  WideString asked_;
  WideString unknownLink_;
  WideString refusedLink_;
  ListingBuffer buffer_;
};

// The folder that holds the last name of path, reached by a PathWalk that
// confirmed it, and the last name as that folder lists it. Results of
// Begin, Look (ERROR_FILE_NOT_FOUND when the last name is missing) and
// Enter; refusedLink, which may be null, names the link on kLinkNotTrusted.
HRESULT ReachParentOf(const WideString& path, const LinkTrust* trust, HeldFolder* parent, FoundEntry* last,
                      WideString* refusedLink);

// The folder named by path and the folder holding it, both held open with
// kWalkAccess. Not movable: the folder's checked name leads through parent.
struct HeldPath {
  HeldPath() = default;
  HeldPath(const HeldPath&) = delete;
  HeldPath& operator=(const HeldPath&) = delete;
  HeldFolder parent;
  HeldFolder folder;
};

// Reaches the folder named by path and opens it as itself. Results of
// ReachParentOf; ERROR_DIRECTORY for a file; kEntryNotOwn for a folder that
// is a link or changed meanwhile.
HRESULT OpenFolderByPath(const WideString& path, const LinkTrust* trust, HeldPath* held,
                         WideString* refusedLink = nullptr);

}  // namespace tmn
