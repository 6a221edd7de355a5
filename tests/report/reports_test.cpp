// The uninstall report end to end inside the test program: the system is
// described, the stand-in below the install folder receives the public
// record and then the uninstall record.
#include <gtest/gtest.h>

#include <string>

#include "beacon/report_test_support.h"
#include "fs/file_system_calls.h"
#include "report/install_identity.h"
#include "report/process_objects.h"
#include "report/reports.h"
#include "report/system_description.h"
#include "support/product_support.h"

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

// Opens of files whose path ends with a suffix wait until released, as an
// opportunistic lock any user may take holds an open on Windows; then they
// go on. The table is put back at the end.
class HeldOpens {
 public:
  explicit HeldOpens(const wchar_t* suffix) : found_(tmn::g_fileSystem) {
    suffix_ = suffix;
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    tmn::g_fileSystem.createFile = Open;
  }
  ~HeldOpens() {
    Release();
    Sleep(300);  // a worker released just now leaves the table first
    tmn::g_fileSystem = found_;
    CloseHandle(release_);
  }
  void Release() { SetEvent(release_); }

 private:
  static HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE model) {
    const std::wstring text = path;
    if (text.size() >= suffix_.size() && text.compare(text.size() - suffix_.size(), suffix_.size(), suffix_) == 0)
      WaitForSingleObject(release_, 20000);
    return tmn::kWindowsFileSystem.createFile(path, access, share, security, disposition, flags, model);
  }
  static std::wstring suffix_;
  static HANDLE release_;
  tmn::FileSystemCalls found_;
};
std::wstring HeldOpens::suffix_;
HANDLE HeldOpens::release_ = nullptr;

// The records of the log the report wrote into folder, once it has lines.
std::vector<std::wstring> RecordsOnceWritten(const std::wstring& folder) {
  const std::wstring log = folder + L"\\report_tests.exe_statistic.log";
  for (int i = 0; i < 100 && tmtest::ReadLog(log).lines.empty(); ++i) Sleep(100);
  std::vector<std::wstring> records;
  for (const std::wstring& line : tmtest::ReadLog(log).lines) records.push_back(tmtest::RecordOfLine(line));
  return records;
}

// Once the workers' time is up nothing that may block runs on the
// installer's thread: the log's lines of what went undone are written by a
// worker, which the call waits for only until its deadline.
TEST_F(UninstallReport, TheCallReturnsInTimeWhileTheLogCannotBeOpened) {
  SetEnvironmentVariableA("TM_GLEANOR_STALL", "channel.Commit:3000");
  const DWORD started = GetTickCount();
  {
    HeldOpens held(L"_statistic.log");
    tmn::SendUninstallReport(1, 1500, dir_.path().c_str());
    const DWORD took = GetTickCount() - started;
    EXPECT_LE(took, 2500u);
  }
  SetEnvironmentVariableA("TM_GLEANOR_STALL", nullptr);
  const std::vector<std::wstring> records = RecordsOnceWritten(dir_.path());
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(0u, records[0].find(L"[ERROR.SendRecord] table:lumbra_uninstall, items:uninstall=1, time:"))
      << tmtest::Narrow(records[0]);
  EXPECT_EQ(L", err:0x800705b4", records[0].substr(records[0].size() - 16));
  for (int i = 0; i < 100 && LinesStartingWith(tmtest::ReadLogLines(log_), "unload").empty(); ++i) Sleep(100);
}

// A request whose keeping stalls until the deadline is neither delivered
// nor kept: the log says so, with its referer.
TEST_F(UninstallReport, ARequestNotKeptByTheDeadlineIsNamedInTheLog) {
  const std::wstring data = dir_ / L"data";
  tmn::StatisticCache cache(dir_.path().c_str(), data.c_str());
  tmn::CStatistics statistics(cache, dir_.path().c_str());
  {
    HeldOpens held(L".row.part");
    tmn::SendInstallReport(1500, &statistics, dir_.path().c_str());
  }
  const std::vector<std::wstring> records = RecordsOnceWritten(dir_.path());
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(0u, records[0].find(L"[ERROR.SaveStatistic] url:http://127.0.0.1/2813985/tongji.gif, "
                                L"refer_url:http://127.0.0.1/install/3.1.4.15, time:"))
      << tmtest::Narrow(records[0]);
  EXPECT_EQ(L", count:1, err:0x800705b4", records[0].substr(records[0].size() - 25));
  // Given up, it is not kept once its keeping ends.
  const auto kept = [&data] {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((data + L"\\feed.cache.*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return find != INVALID_HANDLE_VALUE;
  };
  for (int i = 0; i < 50 && kept(); ++i) Sleep(100);
  EXPECT_FALSE(kept());
}

TEST_F(UninstallReport, WithoutTheLibraryNothingIsSentAndNothingFails) {
  tmtest::CleanProductKey noInstallFolder;
  tmn::SendUninstallReport(1);
  EXPECT_FALSE(tmtest::FileExists(log_));
}

}  // namespace
