#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/this_module.h"
#include "settings/product_settings.h"
#include "support/file_system_recorder.h"
#include "support/installed_product.h"
#include "support/product_support.h"

using tmtest::FileSystemRecorder;
using tmtest::InstalledProduct;

namespace {

std::wstring InstallPath(HMODULE module, HRESULT expected = S_OK) {
  tmn::WideString out = tmtest::MakeWide(L"junk");
  EXPECT_EQ(expected, tmn::GetInstallPath(&out, module));
  return tmtest::Text(out);
}

std::wstring ConfigFilePath(bool create) {
  tmn::WideString out = tmtest::MakeWide(L"junk");
  tmn::GetConfigFilePath(&out, create);
  return tmtest::Text(out);
}

TEST(GetInstallPath, TakesTheStoredTextUnchangedOrTheModulesFolder) {
  InstalledProduct product;
  ASSERT_TRUE(tmtest::WriteInstallPath(L"%TEMP%\\Vardo"));
  EXPECT_EQ(L"%TEMP%\\Vardo", InstallPath(tmn::ThisModule()));
  ASSERT_TRUE(tmtest::WriteInstallPath(L""));
  EXPECT_EQ(L"", InstallPath(nullptr)) << "an empty value counts as found";
  // A value of another type names no folder.
  const wchar_t multi[] = L"C:\\One\0C:\\Two\0";
  ASSERT_TRUE(tmtest::WriteInstallPathValue(REG_MULTI_SZ, multi, sizeof(multi)));
  EXPECT_EQ(product.moduleFolder(), InstallPath(tmn::ThisModule()));
}

TEST(GetInstallPath, AValueLongerThan259CharactersIsAMiss) {
  InstalledProduct product;
  const std::wstring moduleFolder = product.moduleFolder();
  for (size_t length : {258u, 259u, 260u, 261u}) {
    const std::wstring value = L"C:\\" + std::wstring(length - 3, L'v');
    ASSERT_TRUE(tmtest::WriteInstallPath(value));
    EXPECT_EQ(length <= 259 ? value : moduleFolder, InstallPath(tmn::ThisModule())) << length;
  }
}

TEST(GetInstallPath, WithoutTheKeyIsTheModulesFolderAndFailsWhenThatCannotBeRead) {
  InstalledProduct product;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), tmtest::DeleteProductKey());
  EXPECT_EQ(product.moduleFolder(), InstallPath(tmn::ThisModule()));
  EXPECT_EQ(product.moduleFolder() + L"\\Cfg\\config.ini", ConfigFilePath(false));
  EXPECT_EQ(L"junk", InstallPath(reinterpret_cast<HMODULE>(0x10), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)));
}

TEST(GetConfigFilePath, JoinsCfgOnceAndMakesItOnRequest) {
  InstalledProduct product;
  ASSERT_TRUE(tmtest::WriteInstallPath(product.root() + L"\\\\"));
  EXPECT_EQ(product.configFile(), ConfigFilePath(false));
  EXPECT_FALSE(tmtest::IsFolder(product / L"Cfg"));
  FileSystemRecorder recorder;
  EXPECT_EQ(product.configFile(), ConfigFilePath(true));
  EXPECT_TRUE(tmtest::IsFolder(product / L"Cfg"));
  // A folder just made is opened to the users before Windows 6, and only then.
  const size_t grants = tmtest::PrefixIsPreVista() ? 1 : 0;
  ASSERT_EQ(grants, recorder.Writes().size());
  if (grants == 1) {
    EXPECT_EQ(product / L"Cfg", recorder.Writes()[0].path);
    EXPECT_EQ(static_cast<DWORD>(DACL_SECURITY_INFORMATION), recorder.Writes()[0].info);
  }
  recorder.Clear();
  EXPECT_EQ(product.configFile(), ConfigFilePath(true));
  EXPECT_TRUE(recorder.Writes().empty()) << "an existing folder is left as it is";
}

// A user who swaps the folder just made for another before its access list
// is written opens nothing to the users: the list goes to the folder made,
// through the handle it was made with.
TEST(GetInstallSubPath, OpensToTheUsersTheFolderItMadeWhereverItsNameLeadsByThen) {
  if (!tmtest::PrefixIsPreVista()) GTEST_SKIP() << "nothing is opened to the users on Windows 6 and later";
  InstalledProduct product;
  FileSystemRecorder recorder;
  bool swapped = false;
  recorder.readStatus = [&](const std::wstring&) {
    swapped = !swapped && MoveFileW((product / L"Orvik").c_str(), (product / L"moved").c_str()) &&
              CreateDirectoryW((product / L"Orvik").c_str(), nullptr);
    return static_cast<DWORD>(ERROR_SUCCESS);
  };
  tmn::WideString out;
  EXPECT_EQ(S_OK, tmn::GetInstallSubPath(&out, L"Orvik", true));
  EXPECT_TRUE(swapped);
  const std::vector<tmtest::SecurityWrite> writes = recorder.Writes();
  ASSERT_EQ(1u, writes.size());
  EXPECT_TRUE(writes[0].throughHandle) << "written to " << tmtest::Narrow(writes[0].path);
}

TEST(GetInstallSubPath, MakesNothingForAnInstallFolderThatIsNotFullyQualified) {
  InstalledProduct product;
  tmtest::CurrentFolder standing(product.scratch());
  for (const wchar_t* installPath : {L"", L"relative"}) {
    ASSERT_TRUE(tmtest::WriteInstallPath(installPath));
    tmn::WideString out = tmtest::MakeWide(L"junk");
    EXPECT_EQ(E_INVALIDARG, tmn::GetInstallSubPath(&out, L"Orvik\\Download", true));
    EXPECT_EQ(std::wstring(installPath) + L"\\Orvik\\Download", tmtest::Text(out));
    EXPECT_EQ(std::wstring(installPath) + L"\\Cfg\\config.ini", ConfigFilePath(true));
  }
  EXPECT_FALSE(tmtest::FileExists(product.scratch() + L"\\relative"));
}

class ReadProfileStringTest : public ::testing::Test {
 protected:
  std::wstring Read(const wchar_t* key, const wchar_t* defaultValue, HRESULT expected = S_OK) {
    tmn::WideString out = tmtest::MakeWide(L"junk");
    EXPECT_EQ(expected, tmn::ReadProfileString(product_.configFile().c_str(), L"S", key, defaultValue, &out))
        << key;
    return tmtest::Text(out);
  }
  InstalledProduct product_;
};

TEST_F(ReadProfileStringTest, GivesTheValueTheDefaultForAnAbsentKeyAndEmptyForAnEmptyOne) {
  product_.WriteConfig("[S]\nkey=value\nempty=\n");
  EXPECT_EQ(L"value", Read(L"key", L"default"));
  EXPECT_EQ(L"", Read(L"empty", L"default"));
  EXPECT_EQ(L"default", Read(L"absent", L"default"));
  EXPECT_EQ(L"", Read(L"absent", nullptr));
  const std::wstring longDefault(300, L'd');
  EXPECT_EQ(longDefault, Read(L"absent", longDefault.c_str())) << "a default is never cut";
}

TEST_F(ReadProfileStringTest, AValueLongerThan259CharactersArrivesCutAndSaysSo) {
  std::string config = "[S]\n";
  for (int length : {258, 259, 260, 261})
    config += "v" + std::to_string(length) + "=" + std::string(length, 'a' + length % 26) + "\n";
  product_.WriteConfig(config);
  for (int length : {258, 259, 260, 261}) {
    const std::wstring key = L"v" + std::to_wstring(length);
    const bool whole = length <= 259;
    const std::wstring value = Read(key.c_str(), L"", whole ? S_OK : HRESULT_FROM_WIN32(ERROR_MORE_DATA));
    EXPECT_EQ(std::wstring(whole ? length : 259, L'a' + length % 26), value) << length;
  }
}

TEST_F(ReadProfileStringTest, AFileThatIsNotFullyQualifiedIsNotRead) {
  product_.WriteConfig("[S]\nkey=value\n");
  tmtest::CurrentFolder standing(product_.root());
  tmn::WideString out;
  EXPECT_EQ(S_OK, tmn::ReadProfileString(L"Cfg\\config.ini", L"S", L"key", L"default", &out));
  EXPECT_EQ(L"default", tmtest::Text(out));
  EXPECT_EQ(7, tmn::ReadProfileInt(L"Cfg\\config.ini", L"S", L"key", 7));
}

struct ProxyCase {
  const char* section;
  int32_t mode, port, needAuth;
  const wchar_t *host, *login, *password;
};

TEST(ReadProxySettings, ReadsEachKeyOnlyInTheModesThatUseIt) {
  InstalledProduct product;
  const wchar_t* junk = L"junk";
  const ProxyCase cases[] = {
      {"", 1, -7, 0, junk, junk, junk},
      {"Mode=0\nHost=h\nPort=1\nNeedauth=1\nLogin=l\nBypassproxyserverforlocaladdress=0", 0, -7, -7, junk, junk,
       junk},
      {"Mode=1\nHost=h\nPort=81\nNeedauth=0\nLogin=l\nBypassproxyserverforlocaladdress=0", 1, -7, 0, junk, junk,
       junk},
      {"Mode=2\nHost=proxy.example\nNeedauth=1", 2, 8080, 1, L"proxy.example", L"", L""},
      {"Mode=2\nHost=h\nPort=3128\nNeedauth=2\nLogin=user\nPassword=secret\n"
       "Bypassproxyserverforlocaladdress=abc",
       2, 3128, 2, L"h", L"user", L"secret"},
      {"Mode=7\nNeedauth=1\nLogin=user", 7, -7, 1, junk, L"user", L""},
      // A port is a TCP port or none: the profile's integers would wrap
      // 4294967376 to 80, and WinINet would cut 65616 to 80.
      {"Mode=2\nHost=h\nPort=4294967376", 2, 0, 0, L"h", junk, junk},
      {"Mode=2\nHost=h\nPort=65616", 2, 0, 0, L"h", junk, junk},
      {"Mode=2\nHost=h\nPort=-1", 2, 0, 0, L"h", junk, junk},
      {"Mode=2\nHost=h\nPort=65535x", 2, 65535, 0, L"h", junk, junk},
      {"Mode=2\nHost=h\nPort=", 2, 8080, 0, L"h", junk, junk},
  };
  for (const ProxyCase& c : cases) {
    product.WriteConfig(std::string("[Proxy]\n") + c.section + "\n");
    tmn::ProxySettings record;
    record.mode = record.port = record.needAuth = -7;
    record.host.Assign(junk);
    record.login.Assign(junk);
    record.password.Assign(junk);
    tmn::ReadProxySettings(product.configFile().c_str(), &record);
    const std::string what = std::string("config: ") + c.section;
    EXPECT_EQ(c.mode, record.mode) << what;
    EXPECT_EQ(c.port, record.port) << what;
    EXPECT_EQ(c.needAuth, record.needAuth) << what;
    EXPECT_EQ(std::wstring(c.host), tmtest::Text(record.host)) << what;
    EXPECT_EQ(std::wstring(c.login), tmtest::Text(record.login)) << what;
    EXPECT_EQ(std::wstring(c.password), tmtest::Text(record.password)) << what;
  }
}

TEST(ProxySettings, ANewRecordHoldsTheDefaults) {
  const tmn::ProxySettings record;
  EXPECT_EQ(1, record.mode);
  EXPECT_EQ(0, record.port);
  EXPECT_EQ(0, record.needAuth);
  EXPECT_TRUE(record.host.IsEmpty() && record.login.IsEmpty() && record.password.IsEmpty());
}

}  // namespace
