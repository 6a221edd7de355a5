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
  static std::wstring Read() {
    tmn::WideString path = MakeWide(L"junk");
    return tmn::ReadInstallPath(&path) ? Text(path) : L"(none, " + Text(path) + L")";
  }
  tmtest::CleanProductKey clean_;
};

// One rule for every reader: a REG_SZ text that ends within its buffer.
TEST_F(ProductKeys, InstallPathIsAStringThatEndsWithinItsBuffer) {
  EXPECT_EQ(L"(none, junk)", Read());  // no key
  const std::wstring path259 = L"C:\\" + std::wstring(256, L'p');
  SetMachineValue(kProductKey, L"Install Path", REG_SZ, path259.c_str(), 520);  // with its NUL
  EXPECT_EQ(path259, Read());
  // 260 characters without a NUL fill the buffer: no folder is named.
  SetMachineText(kProductKey, L"Install Path", path259 + L"q");
  EXPECT_EQ(L"(none, junk)", Read());
  SetMachineText(kProductKey, L"Install Path", std::wstring(300, L'p'));
  EXPECT_EQ(L"(none, junk)", Read());
  SetMachineValue(kProductKey, L"Install Path", REG_SZ, L"D:\\Vardo\0x", 20);
  EXPECT_EQ(L"D:\\Vardo", Read());
  SetMachineText(kProductKey, L"Install Path", L"");
  EXPECT_EQ(L"", Read());
  for (const DWORD type : {REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY}) {
    SetMachineValue(kProductKey, L"Install Path", type, L"D:\\Vardo", 18);
    EXPECT_EQ(L"(none, junk)", Read()) << type;
  }
}

}  // namespace
