// The uninstall report end to end inside the test program: the system is
// described, the stand-in below the install folder receives the public
// record and then the uninstall record.
#include <gtest/gtest.h>

#include <string>

#include "report/install_identity.h"
#include "support/product_support.h"
#include "report/reports.h"
#include "report/system_description.h"

using tmtest::LinesStartingWith;
using tmtest::MakeWide;
using Lines = std::vector<std::string>;

namespace {

TEST(UninstallFlag, IsOneForTheTextOneAlone) {
  EXPECT_EQ(1, tmn::UninstallFlag(MakeWide(L"1")));
  for (const wchar_t* text : {L"", L"01", L" 1", L"1 ", L"true", L"11", L"\x0661"}) {
    EXPECT_EQ(0, tmn::UninstallFlag(MakeWide(text))) << tmtest::Narrow(text);
  }
}

class UninstallReport : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = tmtest::InstallStandIn(dir_.path());
    tmtest::PlaceVersionFile(L"pelvo_3_1", L"pelvo.dll", dir_.path());
    tmtest::SetMachineText(tmtest::kProductKey, L"Install Path", dir_.path());
    tmtest::SetMachineText(tmtest::kProductKey, L"uid", L"00112233445566778899aabbccddeeff");
    tmtest::SetMachineText(tmtest::kCoopKey, L"OEMID", L"7");
    tmn::ForgetInstallIdentity();
  }
  void TearDown() override { tmn::ForgetInstallIdentity(); }

  Lines Writes() const {
    Lines writes = LinesStartingWith(tmtest::ReadLogLines(log_), "write");
    // The time is checked with the client; here the rest of the line.
    for (std::string& line : writes) line = line.substr(0, line.find("|collect_time="));
    return writes;
  }

  tmtest::CleanProductKey clean_;
  tmtest::TempDir dir_{L"uninstall"};
  std::wstring log_;
};

TEST_F(UninstallReport, SendsThePublicRecordThenTheUninstallRecord) {
  for (int32_t flag : {1, 0}) {
    DeleteFileW(log_.c_str());
    tmn::SendUninstallReport(flag);
    const Lines expected = {
        "write public#4 xlumbra_public|uuid=bytes:00112233445566778899aabbccddeeff|pid=int:7|ver=str:3.1.4.15|win=str:" +
            tmtest::Narrow(tmtest::PrefixOsDescription()),
        "write channel#1 lumbra_uninstall|uninstall=int:" + std::to_string(flag)};
    EXPECT_EQ(expected, Writes()) << flag;
    const Lines log = tmtest::ReadLogLines(log_);
    EXPECT_EQ(Lines{"unload freed"}, LinesStartingWith(log, "unload"));
    EXPECT_EQ(Lines{"summary objects=4 released=4 errors=0"}, LinesStartingWith(log, "summary"));
  }
}

TEST_F(UninstallReport, ARecordThatIsNotReadyIsReleasedUnfilledAndNothingIsSent) {
  tmtest::StandInFaults faults("record.IsReady#1");
  tmn::SendUninstallReport(1);
  const Lines log = tmtest::ReadLogLines(log_);
  EXPECT_EQ(Lines{}, Writes());
  EXPECT_EQ((Lines{"create channel#1", "create record#2"}), LinesStartingWith(log, "create"));
  EXPECT_EQ(Lines{"summary objects=2 released=2 errors=0"}, LinesStartingWith(log, "summary"));
}

// Only the public record needs the identity: without the library nothing
// reads it, so no uid is made and stored.
TEST_F(UninstallReport, WithoutTheLibraryTheIdentityIsNotReadAndNoUidIsMade) {
  tmtest::CleanProductKey clean;
  tmtest::TempDir install(L"no_library");
  tmtest::PlaceVersionFile(L"pelvo_3_1", L"pelvo.dll", install.path());
  tmtest::SetMachineText(tmtest::kProductKey, L"Install Path", install.path());
  tmn::SendUninstallReport(1);
  DWORD type = 0;
  std::vector<BYTE> uid;
  EXPECT_FALSE(tmtest::GetMachineValue(tmtest::kProductKey, L"uid", &type, &uid)) << uid.size() << " bytes";
}

TEST_F(UninstallReport, WithoutTheLibraryNothingIsSentAndNothingFails) {
  tmtest::CleanProductKey noInstallFolder;
  tmn::SendUninstallReport(1);
  EXPECT_FALSE(tmtest::FileExists(log_));
}

}  // namespace
