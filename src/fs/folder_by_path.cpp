#include "fs/folder_by_path.h"

#include <utility>

#include "base/ascii.h"
#include "base/result.h"
#include "fs/entry_names.h"
#include "fs/file_system_calls.h"
#include "fs/path_checks.h"
#include "fs/path_operations.h"

namespace tmn {

namespace {

// "\\?\" or "\\.\": a path Windows takes as it is written.
bool HasDevicePrefix(const wchar_t* path) {
  return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\';
}

// The length of the volume root that begins full ("C:\", "\\server\share\",
// "\\?\C:\", "\\?\UNC\server\share\"), its separator included; 0 when full
// begins with none.
size_t VolumeRootLength(const wchar_t* full) {
  size_t at = 0, components = 0;
  if (HasDevicePrefix(full)) {
    at = 4;
    components = EqualsIgnoringAsciiCase(full + 4, L"UNC", 3) && full[7] == L'\\' ? 3 : 1;
  } else if (full[0] != L'\0' && full[1] == L':' && full[2] == L'\\') {
    return 3;
  } else if (full[0] == L'\\' && full[1] == L'\\') {
    at = 2;
    components = 2;
  } else {
    return 0;
  }
  for (size_t i = 0; i < components; ++i) {
    const size_t begin = at;
    while (full[at] != L'\0' && full[at] != L'\\') ++at;
    if (at == begin || full[at] != L'\\') return 0;
    ++at;
  }
  return at;
}

}  // namespace

ListedEntry FoundEntry::AsListed() const {
  ListedEntry listed;
  listed.name = name.Get();
  listed.nameLength = name.Length();
  listed.attributes = attributes;
  listed.reparseTag = reparseTag;
  listed.fileId = fileId;
  return listed;
}

HRESULT PathWalk::Begin(const WideString& path) {
  // A relative path leads wherever the installer stands.
  if (!IsFullyQualifiedPath(path.Get())) return E_INVALIDARG;
  // A pattern names no one entry.
  const size_t prefix = static_cast<size_t>(SkipPathPrefix(path.Get()) - path.Get());
  if (HasWildcard(path.Get() + prefix, path.Length() - prefix)) return E_INVALIDARG;
  size_t end = path.Length();
  while (end > 0 && IsPathSeparator(path[end - 1])) --end;
  size_t cut = end;
  while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
  const wchar_t* last = path.Get() + cut;
  const size_t lastLength = end - cut;
  if (cut == 0 || lastLength == 0 || IsDotOrDotDot(last, lastLength)) return E_INVALIDARG;

  // The folders above the last name, in the form Windows acts on.
  WideString folders;
  if (!folders.Assign(path.Get(), cut)) return E_OUTOFMEMORY;
  WideString full;
  if (HasDevicePrefix(folders.Get())) {
    full = static_cast<WideString&&>(folders);
  } else {
    RETURN_IF_FAILED(GetFullPath(folders.Get(), &full));
  }
  if (!full.EndsWith(L'\\') && !full.Append(L'\\')) return E_OUTOFMEMORY;
  // A path built from an empty variable must not name a whole disk: the
  // folders above its last name begin with a whole volume root.
  rootLength_ = VolumeRootLength(full.Get());
  if (rootLength_ == 0) return E_INVALIDARG;
  if (!text_.Assign(full) || !text_.Append(last, lastLength)) return E_OUTOFMEMORY;
  FindName(rootLength_);

  WideString root;
  if (!NtPathOf(text_.Get(), rootLength_, &root)) return E_OUTOFMEMORY;
  const NTSTATUS opened = OpenRelative(nullptr, root.Get(), root.Length(), kWalkAccess,
                                       kFileSynchronousIoNonAlert | kFileOpenForBackupIntent | kFileDirectoryFile,
                                       &folder_.handle);
  if (opened < 0) return FromOpenStatus(opened);
  OpenedFacts facts;
  RETURN_IF_FAILED(HResultFromNtStatus(facts.Read(folder_.handle.get())));
  folder_.fileId = facts.FileId();
  folder_.attributes = facts.Info().fileAttributes;
  return folder_.name.Assign(facts.Name(), facts.NameLength()) && asked_.Assign(folder_.name) ? S_OK : E_OUTOFMEMORY;
}

HRESULT PathWalk::Look(FoundEntry* entry) {
  // Each folder is searched once, for the one name below it.
  ListedEntry listed;
  const HRESULT found = LookIn(folder_.handle.get(), &buffer_, NextName(), NextNameLength(), &listed);
  if (found == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) && !AtLastName())
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  RETURN_IF_FAILED(found);
  if (!entry->name.Assign(listed.name, listed.nameLength)) return E_OUTOFMEMORY;
  entry->attributes = listed.attributes;
  entry->reparseTag = listed.reparseTag;
  entry->fileId = listed.fileId;
  return S_OK;
}

void PathWalk::Pass(HeldFolder&& reached, const wchar_t* name, size_t length) {
  folder_ = std::move(reached);
  if (name != nullptr && !(asked_.Append(L'\\') && asked_.Append(name, length))) asked_.Clear();
  FindName(next_ + nextLength_);
}

HRESULT PathWalk::Enter(const FoundEntry& entry) {
  if (!entry.IsFolder()) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  HeldFolder reached;
  if (entry.IsLink()) {
    bool trusted = false;
    RETURN_IF_FAILED(FollowLink(entry, &reached, &trusted));
    Pass(std::move(reached), entry.name.Get(), entry.name.Length());
    // Below a link an administrator made, the names asked for are those
    // below the folder it led to.
    if (trusted && !asked_.Assign(folder_.name)) return E_OUTOFMEMORY;
    return S_OK;
  }
  RETURN_IF_FAILED(OpenCheckedChild(folder_, entry.AsListed(), kWalkAccess, NameKept::kWhole, &reached));
  Pass(std::move(reached), entry.name.Get(), entry.name.Length());
  return S_OK;
}

// Follows the link found as entry into reached; trusted tells whether it
// opened as itself and the caller's rule allows it.
HRESULT PathWalk::FollowLink(const FoundEntry& entry, HeldFolder* reached, bool* trusted) {
  WideString spelt;
  if (!spelt.Assign(text_.Get(), next_ + nextLength_)) return E_OUTOFMEMORY;
  // Held, and shared for reading alone, while it is judged: it can be
  // neither renamed, deleted nor rewritten meanwhile.
  UniqueFile link;
  NTSTATUS status = OpenRelative(folder_.handle.get(), entry.name.Get(), entry.name.Length(),
                                 READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kOpenItself, &link,
                                 FILE_SHARE_READ);
  if (status < 0) return FromOpenStatus(status);
  OpenedFacts facts;
  RETURN_IF_FAILED(HResultFromNtStatus(facts.Read(link.get())));
  const bool itself = IsOpenedLink(link.get(), facts.Info().fileAttributes);
  *trusted = itself && trust_ != nullptr && trust_->mayFollow(trust_->context, link.get(), folder_.handle.get());
  if (itself && !*trusted) {
    refusedLink_ = static_cast<WideString&&>(spelt);
    return kLinkNotTrusted;
  }
  // A link that could not be judged and came before this one is judged by
  // the names reached so far, before a trusted link moves them.
  if (itself) RETURN_IF_FAILED(Confirm());
  UniqueFile target;
  status = OpenRelative(folder_.handle.get(), entry.name.Get(), entry.name.Length(), kWalkAccess,
                        kFileSynchronousIoNonAlert | kFileOpenForBackupIntent | kFileDirectoryFile, &target);
  if (status < 0) return FromOpenStatus(status);
  RETURN_IF_FAILED(HResultFromNtStatus(facts.Read(target.get())));
  if (!facts.IsFolder()) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  if (!reached->name.Assign(facts.Name(), facts.NameLength())) return E_OUTOFMEMORY;
  reached->handle = std::move(target);
  reached->parent = nullptr;
  reached->fileId = facts.FileId();
  reached->attributes = facts.Info().fileAttributes;
  if (!itself && unknownLink_.IsEmpty()) unknownLink_ = static_cast<WideString&&>(spelt);
  return S_OK;
}

HRESULT PathWalk::Make(ACCESS_MASK extraAccess) {
  UniqueFile made;
  const NTSTATUS status =
      OpenRelative(folder_.handle.get(), NextName(), NextNameLength(), kWalkAccess | extraAccess,
                   kOpenItself | kFileDirectoryFile, &made, kShareAll, kFileCreate);
  if (status == kStatusObjectNameCollision) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  if (status < 0) return HResultFromNtStatus(status);
  OpenedFacts facts;
  const ExpectedEntry expected{&folder_, NextName(), NextNameLength(), 0, true, false};
  if (CheckOpened(made.get(), facts, expected) != Verdict::kOwn) return kEntryNotOwn;
  HeldFolder reached;
  if (!reached.name.Assign(facts.Name(), facts.NameLength())) return E_OUTOFMEMORY;
  reached.handle = std::move(made);
  reached.fileId = facts.FileId();
  reached.attributes = facts.Info().fileAttributes;
  Pass(std::move(reached), NextName(), NextNameLength());
  return S_OK;
}

HRESULT PathWalk::Confirm() {
  if (unknownLink_.IsEmpty() || SameReachedName(folder_.name.Get(), folder_.name.Length(), asked_.Get(),
                                                 asked_.Length()))
    return S_OK;
  refusedLink_ = static_cast<WideString&&>(unknownLink_);
  return kLinkNotTrusted;
}

void PathWalk::FindName(size_t from) {
  while (from < text_.Length() && text_[from] == L'\\') ++from;
  next_ = from;
  nextLength_ = 0;
  while (next_ + nextLength_ < text_.Length() && text_[next_ + nextLength_] != L'\\') ++nextLength_;
}
HRESULT ReachParentOf(const WideString& path, const LinkTrust* trust, HeldFolder* parent, FoundEntry* last,
                      WideString* refusedLink) {
  PathWalk walk(trust);
  HRESULT result = walk.Begin(path);
  while (SUCCEEDED(result) && !walk.AtLastName()) {
    FoundEntry entry;
    result = walk.Look(&entry);
    if (SUCCEEDED(result)) result = walk.Enter(entry);
  }
  if (SUCCEEDED(result)) result = walk.Confirm();
  if (SUCCEEDED(result)) result = walk.Look(last);
  if (result == kLinkNotTrusted && refusedLink != nullptr && !refusedLink->Assign(walk.RefusedLink()))
    return E_OUTOFMEMORY;
  if (FAILED(result)) return result;
  *parent = std::move(walk.Folder());
  return S_OK;
}

HRESULT OpenFolderByPath(const WideString& path, const LinkTrust* trust, HeldPath* held, WideString* refusedLink) {
  FoundEntry last;
  RETURN_IF_FAILED(ReachParentOf(path, trust, &held->parent, &last, refusedLink));
  if (last.IsLink()) return kEntryNotOwn;
  if (!last.IsFolder()) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  return OpenCheckedChild(held->parent, last.AsListed(), kWalkAccess, NameKept::kBelowParent, &held->folder);
}

}  // namespace tmn
