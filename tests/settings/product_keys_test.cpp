// The readers of the product's "Install Path" value against Wine's
// registry, in the 32-bit view the plug-in sees.
#include <gtest/gtest.h>

#include <string>

#include "settings/product_keys.h"
#include "support/product_support.h"

using tmtest::kProductKey;
using tmtest::MakeWide;
using tmtest::SetMachineText;
using tmtest::SetMachineValue;
using tmtest::Text;

namespace {

class ProductKeys : public ::testing::Test {
 protected:
  static std::wstring IdentityText() {
    wchar_t text[tmn::kInstallPathChars];
    wmemset(text, L'#', tmn::kInstallPathChars);
    tmn::ReadInstallPathText(text);
    return std::wstring(text, wcsnlen(text, tmn::kInstallPathChars));
  }
  tmtest::CleanProductKey clean_;
};

TEST_F(ProductKeys, TheIdentitysTextIsKeptOnlyWhenItEndsWithinItsBuffer) {
  EXPECT_EQ(L"", IdentityText());  // no key
  const std::wstring path259 = L"C:\\" + std::wstring(256, L'p');
  SetMachineValue(kProductKey, L"Install Path", REG_SZ, path259.c_str(), 520);  // with its NUL
  EXPECT_EQ(path259, IdentityText());
  // 260 characters without a NUL fill the buffer: no folder is named.
  SetMachineText(kProductKey, L"Install Path", path259 + L"q");
  EXPECT_EQ(L"", IdentityText());
  SetMachineText(kProductKey, L"Install Path", std::wstring(300, L'p'));
  EXPECT_EQ(L"", IdentityText());
  SetMachineText(kProductKey, L"Install Path", L"D:\\Vardo");
  EXPECT_EQ(L"D:\\Vardo", IdentityText());
}

TEST_F(ProductKeys, TheLibrarySearchTakesTextsThatFitIn516Bytes) {
  tmn::WideString folder = MakeWide(L"junk");
  EXPECT_FALSE(tmn::ReadInstallFolder(&folder));
  const std::wstring path258 = L"C:\\" + std::wstring(255, L'p');
  SetMachineText(kProductKey, L"Install Path", path258);  // 516 bytes, no NUL
  ASSERT_TRUE(tmn::ReadInstallFolder(&folder));
  EXPECT_EQ(path258 + L"\\", Text(folder));
  SetMachineText(kProductKey, L"Install Path", path258 + L"q");
  folder = MakeWide(L"junk");
  EXPECT_FALSE(tmn::ReadInstallFolder(&folder));
  EXPECT_EQ(L"junk", Text(folder));
  SetMachineText(kProductKey, L"Install Path", L"C:");  // 4 bytes
  EXPECT_FALSE(tmn::ReadInstallFolder(&folder));
  SetMachineValue(kProductKey, L"Install Path", REG_SZ, L"C:", 6);
  ASSERT_TRUE(tmn::ReadInstallFolder(&folder));
  EXPECT_EQ(L"C:\\", Text(folder));
  SetMachineValue(kProductKey, L"Install Path", REG_SZ, L"\0\0\0", 6);
  EXPECT_FALSE(tmn::ReadInstallFolder(&folder));  // six bytes, but no folder
}

}  // namespace
