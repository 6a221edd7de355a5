#include <gtest/gtest.h>

#include <string>

#include "base/this_module.h"
#include "settings/download_folders.h"
#include "support/file_system_recorder.h"
#include "support/installed_product.h"
#include "support/product_support.h"

using tmtest::InstalledProduct;

namespace {

using Getter = HRESULT (*)(const wchar_t*, tmn::WideString*);

std::wstring Folder(Getter getter, const InstalledProduct& product, HRESULT expected = S_OK) {
  tmn::WideString out = tmtest::MakeWide(L"junk");
  EXPECT_EQ(expected, getter(product.configFile().c_str(), &out));
  return tmtest::Text(out);
}

TEST(DownloadFolders, WithoutKeysAreTheDefaultsAndOnlySoftwareAndDriverDefaultsAreMade) {
  InstalledProduct product;
  tmtest::FileSystemRecorder recorder;
  EXPECT_EQ(product / L"Hotfix", Folder(tmn::GetHotfixDownloadDir, product));
  EXPECT_FALSE(tmtest::IsFolder(product / L"Hotfix"));
  EXPECT_EQ(product / L"Orvik\\Download", Folder(tmn::GetSoftDownloadDir, product));
  EXPECT_TRUE(tmtest::IsFolder(product / L"Orvik\\Download"));
  EXPECT_EQ(product / L"Driver\\Download", Folder(tmn::GetDriverDownloadDir, product));
  EXPECT_TRUE(tmtest::IsFolder(product / L"Driver\\Download"));
  // Each made chain is opened to the users at its deepest folder, before Windows 6 only.
  std::vector<std::wstring> granted;
  for (const tmtest::SecurityWrite& write : recorder.Writes()) granted.push_back(write.path);
  const std::vector<std::wstring> expected = {product / L"Orvik\\Download", product / L"Driver\\Download"};
  EXPECT_EQ(tmtest::PrefixIsPreVista() ? expected : std::vector<std::wstring>{}, granted);
}

TEST(DownloadFolders, TakeTheConfiguredValueAsItStandsAndMakeTheDefaultAllTheSame) {
  InstalledProduct product;
  product.WriteConfig("[VulMain]\nDownPath=D:\\Hot fixes\\\n[SoftMain]\nSoftDownDir=D:\\Dl\\\n"
                      "[DrvMain]\nDrvDownDir=\n");
  EXPECT_EQ(L"D:\\Hot fixes\\", Folder(tmn::GetHotfixDownloadDir, product));
  EXPECT_EQ(L"D:\\Dl\\", Folder(tmn::GetSoftDownloadDir, product));
  EXPECT_TRUE(tmtest::IsFolder(product / L"Orvik\\Download"));
  EXPECT_EQ(L"", Folder(tmn::GetDriverDownloadDir, product)) << "present but empty";
  EXPECT_TRUE(tmtest::IsFolder(product / L"Driver\\Download"));
  EXPECT_FALSE(tmtest::IsFolder(product / L"Hotfix"));
}

TEST(DownloadFolders, AValueLongerThan259CharactersIsCutAndReportedSo) {
  InstalledProduct product;
  const std::string value = "D:\\" + std::string(297, 'x');
  product.WriteConfig("[SoftMain]\nSoftDownDir=" + value + "\n");
  EXPECT_EQ(tmtest::Widen(value.substr(0, 259)),
            Folder(tmn::GetSoftDownloadDir, product, HRESULT_FROM_WIN32(ERROR_MORE_DATA)));
}

TEST(DownloadFolders, WithNoInstallFolderAtAllTheDefaultIsEmpty) {
  InstalledProduct product;
  product.WriteConfig("[SoftMain]\nSoftDownDir=D:\\Dl\n");
  tmtest::TempDir other(L"nomodule");
  // A module path that fills its buffer cannot name the plug-in's folder.
  std::wstring folder = other.path() + L"\\";
  folder += std::wstring(260 - folder.size() - 6, L'p');
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring copy = folder + L"\\m.dll";
  ASSERT_TRUE(CopyFileW(tmtest::PluginDllPath().c_str(), copy.c_str(), FALSE));
  HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(nullptr, module);
  const HMODULE kept = tmn::ThisModule();
  tmn::KeepThisModule(module);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), tmtest::DeleteProductKey());
  tmn::WideString out = tmtest::MakeWide(L"junk");
  EXPECT_EQ(S_OK, tmn::GetHotfixDownloadDir(product.configFile().c_str(), &out));
  EXPECT_EQ(L"", tmtest::Text(out));
  EXPECT_EQ(S_OK, tmn::GetSoftDownloadDir(product.configFile().c_str(), &out));
  EXPECT_EQ(L"D:\\Dl", tmtest::Text(out)) << "the configured folder does not need the install folder";
  tmn::KeepThisModule(kept);
  FreeLibrary(module);
}

}  // namespace
