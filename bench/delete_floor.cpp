// The floors of a tree deletion under this Windows. Both list the whole
// tree first, untimed, and print only the milliseconds of the deletes:
//   path    deletes every entry by its path, one after another (contents
//           before their folder);
//   handle  holds every folder open (opened relative to its parent), then
//           for each entry opens it relative to its folder's handle, reads
//           its id and the name it reached in one query, compares both, and
//           deletes it through that handle: what a deletion that checks
//           each entry cannot do without.
// Usage: delete_floor.exe path|handle <folder>
#include <windows.h>
#include <winternl.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

struct Entry {
  std::wstring path;
  std::wstring name;
  size_t folder;  // index of its folder in the list of folders
  bool directory;
  size_t self;    // for a folder: its own index in the list of folders
};

struct Folder {
  std::wstring path;
  size_t parent;
  std::wstring name;
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::wstring reported;
};

void List(const std::wstring& path, size_t index, std::vector<Folder>& folders, std::vector<Entry>& order) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        folders.push_back({child, index, name, INVALID_HANDLE_VALUE, {}});
        List(child, folders.size() - 1, folders, order);
      } else {
        order.push_back({child, name, index, false, 0});
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  order.push_back({path, folders[index].name, folders[index].parent, true, index});
}

using CreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using InformationCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
CreateFileCall g_create;
InformationCall g_query, g_set;

HANDLE OpenRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG options) {
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES object = {};
  object.Length = sizeof(object);
  object.RootDirectory = parent;
  object.ObjectName = &text;
  object.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK status;
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (g_create(&handle, access, &object, &status, nullptr, 0, 7, 1, options | 0x200000 | 0x20 | 0x4000, nullptr, 0) < 0)
    return INVALID_HANDLE_VALUE;
  return handle;
}

// One FileAllInformation query: the id at offset 64, the name at 100.
bool Check(HANDLE entry, const std::wstring& expected, std::wstring* reported) {
  alignas(8) static BYTE buffer[8192];
  IO_STATUS_BLOCK status;
  if (g_query(entry, &status, buffer, sizeof(buffer), static_cast<FILE_INFORMATION_CLASS>(18)) < 0) return false;
  const ULONG length = *reinterpret_cast<ULONG*>(buffer + 96) / sizeof(wchar_t);
  const wchar_t* name = reinterpret_cast<wchar_t*>(buffer + 100);
  if (reported != nullptr) reported->assign(name, length);
  return *reinterpret_cast<LONGLONG*>(buffer + 64) != 0 &&
         (expected.empty() || (length == expected.size() && expected.compare(0, length, name, length) == 0));
}

bool Dispose(HANDLE entry) {
  BOOLEAN yes = TRUE;
  IO_STATUS_BLOCK status;
  return g_set(entry, &status, &yes, sizeof(yes), static_cast<FILE_INFORMATION_CLASS>(13)) >= 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const bool handles = std::wstring(argv[1]) == L"handle";
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  g_create = reinterpret_cast<CreateFileCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
  g_query = reinterpret_cast<InformationCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")));
  g_set = reinterpret_cast<InformationCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
  const std::wstring root = argv[2];
  std::vector<Folder> folders;
  const size_t cut = root.find_last_of(L'\\');
  folders.push_back({root, static_cast<size_t>(-1), root.substr(cut + 1), INVALID_HANDLE_VALUE, {}});
  std::vector<Entry> order;
  List(root, 0, folders, order);
  HANDLE rootParent = INVALID_HANDLE_VALUE;
  std::wstring rootParentName;
  if (handles) {
    rootParent = CreateFileW(root.substr(0, cut).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, 7, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    Check(rootParent, L"", &rootParentName);
    for (Folder& folder : folders) {
      const HANDLE parent = folder.parent == static_cast<size_t>(-1) ? rootParent : folders[folder.parent].handle;
      folder.handle = OpenRelative(parent, folder.name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | DELETE |
                                   FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, 1);
      Check(folder.handle, L"", &folder.reported);
    }
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  size_t failed = 0;
  for (const Entry& entry : order) {
    if (!handles) {
      if (!(entry.directory ? RemoveDirectoryW(entry.path.c_str()) : DeleteFileW(entry.path.c_str()))) ++failed;
      continue;
    }
    const std::wstring& parentName =
        entry.folder == static_cast<size_t>(-1) ? rootParentName : folders[entry.folder].reported;
    const std::wstring expected = parentName + L"\\" + entry.name;
    HANDLE handle = entry.directory ? folders[entry.self].handle
                                    : OpenRelative(folders[entry.folder].handle, entry.name,
                                                   DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                                                   0x40);
    if (handle == INVALID_HANDLE_VALUE || !Check(handle, expected, nullptr) || !Dispose(handle)) ++failed;
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  QueryPerformanceCounter(&end);
  if (rootParent != INVALID_HANDLE_VALUE) CloseHandle(rootParent);
  printf("%lld %zu %zu\n", (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, order.size(), failed);
  return failed == 0 ? 0 : 1;
}
