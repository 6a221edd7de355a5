// The floor of a tree deletion under this Windows: lists the whole tree
// first, untimed, then deletes every entry one after another (contents
// before their folder) and prints only the milliseconds the deletes took.
// Usage: delete_floor.exe <folder>
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

struct Entry {
  std::wstring path;
  bool directory;
};

void ListAfterContents(const std::wstring& folder, std::vector<Entry>& order) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        ListAfterContents(path, order);
      else
        order.push_back({path, false});
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  order.push_back({folder, true});
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  std::vector<Entry> order;
  ListAfterContents(argv[1], order);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  size_t failed = 0;
  for (const Entry& entry : order)
    if (!(entry.directory ? RemoveDirectoryW(entry.path.c_str()) : DeleteFileW(entry.path.c_str()))) ++failed;
  QueryPerformanceCounter(&end);
  printf("%lld %zu %zu\n", (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, order.size(), failed);
  return failed == 0 ? 0 : 1;
}
