// Puts recording stand-ins into the file-system seam for the life of the
// object, then the table it found back. Recorders do not nest. File calls go through to Wine unless
// a test tells them to refuse; security calls are answered here (Wine keeps
// no security descriptors), from a descriptor written in SDDL.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fs/file_system_calls.h"

namespace tmtest {

struct AceRecord {
  int type;
  int flags;
  DWORD mask;
  std::wstring sid;  // S-1-...
};

struct SecurityWrite {
  std::wstring path;
  DWORD info;
  std::wstring owner;            // empty when none was handed over
  bool daclGiven;
  std::vector<AceRecord> dacl;
  bool throughHandle = false;    // by handle, not SetNamedSecurityInfoW
  bool alone = false;            // to the object alone (SetKernelObjectSecurity)
};

class FileSystemRecorder {
 public:
  FileSystemRecorder();
  ~FileSystemRecorder();
  FileSystemRecorder(const FileSystemRecorder&) = delete;
  FileSystemRecorder& operator=(const FileSystemRecorder&) = delete;

  // Which calls to refuse, by path (the listing: by the directory listed).
  std::function<bool(const std::wstring&)> refuseDelete, refuseRemove, refuseSetAttributes, refuseListing;
  // The status a refused removal of a folder answers through its handle.
  NTSTATUS removeRefusal = static_cast<NTSTATUS>(0xC0000022);  // STATUS_ACCESS_DENIED
  // Attributes the listing reports for an entry, from its name and its real
  // attributes (Wine keeps no read-only attribute on folders).
  std::function<DWORD(const std::wstring& name, DWORD attributes)> listedAttributes;
  // The reparse tag it reports (dwReserved0), from its name and the real one.
  std::function<DWORD(const std::wstring& name, DWORD tag)> listedTag;

  // What an entry opened through its handle shows (FileAllInformation): its
  // attributes and file id, from its path and the real ones. Wine shows no
  // reparse point on an opened link.
  std::function<DWORD(const std::wstring& path, DWORD attributes)> openedAttributes;
  // Shows the folder named name, at path, as Windows shows a junction:
  // listed and opened as a reparse point with the mount point's tag.
  void ShowAsJunction(const std::wstring& name, const std::wstring& path);
  std::function<uint64_t(const std::wstring& path, uint64_t id)> openedId;
  // Runs before an entry is opened relative to its folder: a test changes
  // the tree there, at the moment a racer would.
  std::function<void(const std::wstring& path)> beforeOpen;
  // Refuses a relative open with openRefusal, from the path and the access asked.
  std::function<bool(const std::wstring& path, ACCESS_MASK access)> refuseOpen;
  NTSTATUS openRefusal = static_cast<NTSTATUS>(0xC0000022);  // STATUS_ACCESS_DENIED
  // The status a relative open that went through answers, from the path,
  // the open's options and the status Wine gave; the handle stays open.
  std::function<NTSTATUS(const std::wstring& path, ULONG options, NTSTATUS opened)> openStatus;

  // Answer of the security read: a status per path (ERROR_SUCCESS gives the
  // descriptor below).
  std::function<DWORD(const std::wstring&)> readStatus;
  std::wstring descriptor = L"O:BUG:BUD:(A;;FA;;;BU)";
  // When set and not empty for a path, its descriptor instead.
  std::function<std::wstring(const std::wstring& path)> descriptorOf;
  // Answer of a security write by its security information.
  std::function<DWORD(DWORD info)> writeStatus;

  // Shows path as Windows shows an entry whose list denies Everyone the
  // rights denied: an open that asks for one of them is refused, but for
  // WRITE_OWNER while the take-ownership privilege is enabled, and
  // READ_CONTROL and WRITE_DAC once its owner was set through a handle;
  // once a new list was written, nothing is refused. A security read or
  // write through a handle not granted its right is refused.
  void DenyEveryone(const std::wstring& path, ACCESS_MASK denied);

  // Every call that went through the seam's file calls.
  std::atomic<long> seamCalls{0};

  // Every call in order: "delete <path>", "remove <path>", "attributes <path>
  // 0x<attributes>", "list <directory>", "find <path>" (a lookup without a
  // pattern), "listed <name>", "open <path>" (relative to its folder's
  // handle), "read-security <path> 0x<info>", "write-security <path>
  // 0x<info>". Through a handle, the path is the one the handle names.
  std::vector<std::wstring> Calls() const;
  std::vector<SecurityWrite> Writes() const;
  void Clear();

  // Calls with their paths made relative to base ("." for base itself).
  std::vector<std::wstring> CallsBelow(const std::wstring& base) const;

  // The calls that were in the seam before this recorder; calls that are
  // not refused go on to them.
  const tmn::FileSystemCalls& Found() const { return found_; }

  void Record(const std::wstring& call);
  void RecordWrite(SecurityWrite write);

  // For the stand-ins: whether an open of path asking for access is
  // refused as DenyEveryone says; what a handle was granted; a write seen.
  bool RefusedAsWindowsWould(const std::wstring& path, ACCESS_MASK access);
  void Granted(HANDLE handle, ACCESS_MASK access);
  bool WasGranted(HANDLE handle, ACCESS_MASK access, const std::wstring& path);
  void Wrote(const std::wstring& path, DWORD info);

 private:
  std::map<std::wstring, ACCESS_MASK> denied_;  // the rights still denied
  std::map<HANDLE, ACCESS_MASK> granted_;
  tmn::FileSystemCalls found_;
  mutable std::mutex mutex_;
  std::vector<std::wstring> calls_;
  std::vector<SecurityWrite> writes_;
};

// Whether path is the system folder as a handle to it names it (a 32-bit
// program under 64-bit Windows reaches SysWOW64).
bool IsSystemFolder(const std::wstring& path);

// Gives Everyone full control of path, as Wine keeps it.
void OpenToEveryone(const std::wstring& path);

// The take-ownership privilege of this process's token.
bool TakeOwnershipEnabled();
void SetTakeOwnership(bool enabled);

// The path an open handle names, in the drive-letter form.
std::wstring PathOfHandle(HANDLE handle);

std::wstring SidText(PSID sid);
std::vector<AceRecord> AcesOf(PACL acl);
// "(type,flags,mask,sid)" per entry, for comparing whole lists.
std::wstring Describe(const std::vector<AceRecord>& aces);

// The trustees the access writers name, as SidText gives them.
constexpr wchar_t kSystem[] = L"S-1-5-18";
constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
constexpr wchar_t kUsers[] = L"S-1-5-32-545";
constexpr wchar_t kEveryone[] = L"S-1-1-0";

}  // namespace tmtest
