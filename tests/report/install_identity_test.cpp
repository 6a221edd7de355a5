// The install identity against Wine's real registry (the 32-bit view, as
// the plug-in sees it), and the product version against files built to
// carry versions.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "report/install_identity.h"
#include "support/product_support.h"

using tmtest::kCoopKey;
using tmtest::kProductKey;
using tmtest::MakeWide;
using tmtest::SetMachineDword;
using tmtest::SetMachineText;
using tmtest::SetMachineValue;
using tmtest::TempDir;
using tmtest::Text;

namespace {

class InstallIdentity : public ::testing::Test {
 protected:
  void SetUp() override { tmn::ForgetInstallIdentity(); }
  void TearDown() override { tmn::ForgetInstallIdentity(); }

  static const tmn::InstallIdentity& Load() {
    tmn::ForgetInstallIdentity();
    return tmn::GetInstallIdentity();
  }

  tmtest::CleanProductKey clean_;
};

// 32 hexadecimal digits, upper case but for the third group of four.
bool IsMadeUid(const std::wstring& uid) {
  if (uid.size() != 32) return false;
  for (size_t i = 0; i < uid.size(); ++i) {
    const wchar_t c = uid[i];
    const bool lower = i >= 12 && i < 16;
    if (!std::iswxdigit(c) || (lower ? std::iswupper(c) : std::iswlower(c))) return false;
  }
  return true;
}

// The stored text up to its first NUL: the uid is written without its
// NUL, which Windows then adds as the uid's own buffer holds it.
std::wstring StoredUid(DWORD* type) {
  std::vector<BYTE> data;
  if (!tmtest::GetMachineValue(kProductKey, L"uid", type, &data)) return L"(missing)";
  const std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

TEST(FormatUid, WritesThirtyTwoDigitsWithTheThirdGroupInLowerCase) {
  const GUID guid = {0x0A1B2C3D, 0x4E5F, 0x6A7B, {0x8C, 0x9D, 0x0E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D}};
  wchar_t uid[64];
  wmemset(uid, L'#', 64);
  tmn::FormatUid(guid, uid);
  EXPECT_EQ(L"0A1B2C3D4E5F6a7b8C9D0E1F2A3B4C5D", std::wstring(uid));
  EXPECT_EQ(L'#', uid[33]);
}

TEST_F(InstallIdentity, AStoredUidOfAnyTextIsUsedUnchanged) {
  SetMachineText(kProductKey, L"uid", L"abc");
  EXPECT_EQ(L"abc", std::wstring(Load().uid));
  DWORD type = 0;
  EXPECT_EQ(L"abc", StoredUid(&type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

  const std::wstring longest(63, L'u');  // 126 bytes: fits
  SetMachineText(kProductKey, L"uid", longest);
  EXPECT_EQ(longest, std::wstring(Load().uid));
}

// A stored uid that cannot be read is the product's own: it stays as it
// is, and the process makes one of its own for itself. Only an empty one is
// replaced.
TEST_F(InstallIdentity, AUidThatCannotBeReadIsLeftAsItIs) {
  const BYTE binary[] = {'a', 0, 'b', 0};
  struct {
    const char* what;
    DWORD type;
    std::wstring text;
  } cases[] = {{"expandable text", REG_EXPAND_SZ, L"abc"},
               {"binary", REG_BINARY, L"ab"},
               {"64 characters", REG_SZ, std::wstring(64, L'u')},
               {"empty text", REG_SZ, L""}};
  for (const auto& c : cases) {
    if (c.type == REG_BINARY) {
      SetMachineValue(kProductKey, L"uid", REG_BINARY, binary, sizeof(binary));
    } else {
      SetMachineText(kProductKey, L"uid", c.text, c.type);
    }
    const std::wstring uid = Load().uid;
    EXPECT_TRUE(IsMadeUid(uid)) << c.what << ": " << tmtest::Narrow(uid);
    DWORD type = 0;
    const bool replaced = c.text.empty();
    EXPECT_EQ(replaced ? uid : c.text, StoredUid(&type)) << c.what;  // 64 bytes, without the NUL
    EXPECT_EQ(replaced ? static_cast<DWORD>(REG_SZ) : c.type, type) << c.what;
  }
}

TEST_F(InstallIdentity, WithoutTheProductKeyEachLoadMakesANewUidThatIsNotStored) {
  const std::wstring first = Load().uid;
  const std::wstring second = Load().uid;
  EXPECT_TRUE(IsMadeUid(first)) << tmtest::Narrow(first);
  EXPECT_TRUE(IsMadeUid(second)) << tmtest::Narrow(second);
  EXPECT_NE(first, second);
  DWORD type = 0;
  EXPECT_EQ(L"(missing)", StoredUid(&type));
}

TEST_F(InstallIdentity, OemValuesAreTheLeadingDecimalNumberOfATextValue) {
  struct {
    std::wstring text;
    int32_t expected;
  } cases[] = {{L"12abc", 12},
               {L" 7", 7},
               {L"-3", -3},
               {L"abc", 0},
               {L"", 0},
               {L"99999999999", 2147483647},
               {std::wstring(99, L'0') + L"7", 7},     // 200 bytes, no NUL: fits
               {std::wstring(100, L'0') + L"7", 0}};   // does not fit
  for (const auto& c : cases) {
    SetMachineText(kCoopKey, L"OEMID", c.text);
    SetMachineText(kCoopKey, L"PreOEMID", c.text);
    const tmn::InstallIdentity& identity = Load();
    EXPECT_EQ(c.expected, identity.oemId) << tmtest::Narrow(c.text);
    EXPECT_EQ(c.expected, identity.preOemId) << tmtest::Narrow(c.text);
  }
  SetMachineDword(kCoopKey, L"OEMID", 5);
  SetMachineText(kCoopKey, L"PreOEMID", L"8", REG_EXPAND_SZ);
  EXPECT_EQ(0, Load().oemId);
  EXPECT_EQ(0, Load().preOemId);
}

TEST_F(InstallIdentity, MissingValuesGiveZeroAndEmptyTexts) {
  tmn::ForgetInstallIdentity();
  const tmn::InstallIdentity& identity = tmn::GetInstallIdentity();
  EXPECT_TRUE(identity.loaded);
  EXPECT_EQ(0, identity.oemId);
  EXPECT_EQ(0, identity.preOemId);
  EXPECT_EQ(0u, identity.installType);
  EXPECT_EQ(L"", std::wstring(identity.installPath));
}

TEST_F(InstallIdentity, InstallTypeTakesUpToFourRawBytesOfAnyType) {
  SetMachineDword(kCoopKey, L"InstallType", 2);
  EXPECT_EQ(2u, Load().installType);
  SetMachineValue(kCoopKey, L"InstallType", REG_SZ, L"1", 4);  // 0x31 0 0 0
  EXPECT_EQ(49u, Load().installType);
  SetMachineValue(kCoopKey, L"InstallType", REG_SZ, L"12", 6);  // does not fit
  EXPECT_EQ(0u, Load().installType);
  const BYTE one = 1;
  SetMachineValue(kCoopKey, L"InstallType", REG_BINARY, &one, 1);
  EXPECT_EQ(1u, Load().installType);
}

TEST_F(InstallIdentity, IsReadFromTheRegistryOncePerProcess) {
  SetMachineText(kCoopKey, L"OEMID", L"5");
  SetMachineText(kProductKey, L"uid", L"first");
  EXPECT_EQ(5, tmn::GetInstallIdentity().oemId);
  SetMachineText(kCoopKey, L"OEMID", L"6");
  SetMachineText(kProductKey, L"uid", L"second");
  EXPECT_EQ(5, tmn::GetInstallIdentity().oemId);
  EXPECT_EQ(L"first", std::wstring(tmn::GetInstallIdentity().uid));
}

// The install folder a case names, and how often the search asked for it.
std::wstring g_installFolder;
int g_installFolderAsked = 0;
const wchar_t* CaseInstallFolder() {
  ++g_installFolderAsked;
  return g_installFolder.c_str();
}

// The product version from a host folder and an install folder, each
// holding the files a case puts there.
class ProductVersion : public ::testing::Test {
 protected:
  std::wstring Version(const std::wstring& host, const std::wstring& install) {
    tmn::WideString out = MakeWide(L"9.9.9.9");
    g_installFolder = install;
    g_installFolderAsked = 0;
    tmn::GetProductVersionFrom(MakeWide(host), CaseInstallFolder, &out);
    return Text(out);
  }
  TempDir dir_{L"version"};
  const std::wstring host_ = dir_ / L"host";
  const std::wstring install_ = dir_ / L"install";
  void SetUp() override {
    CreateDirectoryW(host_.c_str(), nullptr);
    CreateDirectoryW(install_.c_str(), nullptr);
  }
};

TEST_F(ProductVersion, TheLibraryBesideTheHostComesFirst) {
  tmtest::PlaceVersionFile(L"pelvo_3_1", L"pelvo.dll", host_);
  tmtest::PlaceVersionFile(L"pelvo_2_5", L"pelvo.dll", install_);
  tmtest::PlaceVersionFile(L"vardo_4_2", L"vardo.exe", host_);
  EXPECT_EQ(L"3.1.4.15", Version(host_, install_));
  EXPECT_EQ(0, g_installFolderAsked);  // nor the identity behind it
}

TEST_F(ProductVersion, WithoutTheLibraryBesideTheHostTheInstallFoldersCounts) {
  tmtest::PlaceVersionFile(L"pelvo_2_5", L"pelvo.dll", install_);
  tmtest::PlaceVersionFile(L"vardo_4_2", L"vardo.exe", host_);
  EXPECT_EQ(L"2.5.0.1234", Version(host_, install_));
  EXPECT_EQ(1, g_installFolderAsked);
  EXPECT_EQ(L"2.5.0.1234", Version(L"", install_));  // no host folder known
}

TEST_F(ProductVersion, ALibraryOfVersionZeroBesideTheHostHandsOverToTheExecutableBesideTheHost) {
  tmtest::PlaceVersionFile(L"pelvo_0", L"pelvo.dll", host_);
  tmtest::PlaceVersionFile(L"pelvo_2_5", L"pelvo.dll", install_);
  EXPECT_EQ(L"0.0.0.0", Version(host_, install_));
  tmtest::PlaceVersionFile(L"vardo_4_2", L"vardo.exe", host_);
  EXPECT_EQ(L"4.2.0.7", Version(host_, install_));
  tmtest::PlaceVersionFile(L"vardo_4_2", L"vardo.exe", install_);
  DeleteFileW((host_ + L"\\vardo.exe").c_str());
  EXPECT_EQ(L"0.0.0.0", Version(host_, install_));  // never the install folder's executable
}

TEST_F(ProductVersion, WithNoVersionAnywhereTheTextIsZeroWhateverWasThere) {
  EXPECT_EQ(L"0.0.0.0", Version(host_, install_));
  EXPECT_EQ(L"0.0.0.0", Version(L"", L""));
  tmtest::PlaceVersionFile(L"vardo_0", L"vardo.exe", host_);
  EXPECT_EQ(L"0.0.0.0", Version(host_, install_));
}

TEST_F(ProductVersion, GetProductVersionLooksInTheInstallFolderTheRegistryNames) {
  tmtest::CleanProductKey clean;
  tmtest::PlaceVersionFile(L"pelvo_2_5", L"pelvo.dll", install_);
  SetMachineText(kProductKey, L"Install Path", install_);
  tmn::ForgetInstallIdentity();
  tmn::WideString out;
  tmn::GetProductVersion(&out);  // the test program's folder holds no product file
  tmn::ForgetInstallIdentity();
  EXPECT_EQ(L"2.5.0.1234", Text(out));
}

}  // namespace
