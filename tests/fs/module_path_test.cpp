#include <gtest/gtest.h>

#include <string>

#include "fs/module_path.h"
#include "support/test_support.h"

using tmtest::TempDir;

namespace {

// A copy of the plug-in whose full path has exactly length characters.
std::wstring CopyPluginToPathOfLength(const TempDir& dir, size_t length) {
  std::wstring folder = dir.path() + L"\\";
  const std::wstring name = L"\\m.dll";
  folder += std::wstring(length - folder.size() - name.size(), L'p');
  EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
  const std::wstring path = folder + name;
  EXPECT_TRUE(CopyFileW(tmtest::PluginDllPath().c_str(), path.c_str(), FALSE)) << GetLastError();
  EXPECT_EQ(length, path.size());
  return path;
}

TEST(ReadModulePath, ReadsTheHostExecutableAndLoadedModules) {
  tmn::WideString path = tmtest::MakeWide(L"junk");
  ASSERT_EQ(S_OK, tmn::ReadModulePath(nullptr, &path));
  const std::wstring host = tmtest::Text(path);
  EXPECT_EQ(tmtest::TestBinDir(), host.substr(0, host.rfind(L'\\')));
  ASSERT_EQ(S_OK, tmn::ReadHostFolder(&path));
  EXPECT_EQ(tmtest::TestBinDir(), tmtest::Text(path));
}

TEST(ReadModulePath, APathThatFillsTheBufferIsAFailureAndLeavesTheOutputAlone) {
  TempDir dir(L"modpath");
  for (size_t length : {258u, 259u, 260u, 261u}) {
    const std::wstring copy = CopyPluginToPathOfLength(dir, length);
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, module) << "length " << length << ", error " << GetLastError();
    tmn::WideString path = tmtest::MakeWide(L"junk");
    const HRESULT read = tmn::ReadModulePath(module, &path);
    FreeLibrary(module);
    if (length < 260) {
      EXPECT_EQ(S_OK, read) << length;
      EXPECT_EQ(copy, tmtest::Text(path)) << length;
    } else {
      EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), read) << length;
      EXPECT_EQ(L"junk", tmtest::Text(path)) << length;
    }
  }
}

}  // namespace
