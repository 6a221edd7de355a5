#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/file_system_calls.h"
#include "fs/nt_calls.h"
#include "removal/download_ledger.h"
#include "support/file_system_recorder.h"
#include "support/installed_product.h"

using tmtest::InstalledProduct;

namespace {

// "id=value" per entry.
std::vector<std::wstring> Entries(const tmn::Array<tmn::LedgerEntry>& list) {
  std::vector<std::wstring> texts;
  for (const tmn::LedgerEntry& entry : list) texts.push_back(std::to_wstring(entry.id) + L"=" + tmtest::Text(entry.value));
  return texts;
}

// The text of a literal with its NULs, without the one the compiler adds.
template <size_t N>
std::wstring Lines(const wchar_t (&text)[N]) {
  return std::wstring(text, N - 1);
}

// Lines as the profile call leaves them: its count leaves out the NUL that
// ends the list, or, for a section cut by the buffer, the NUL that ends
// the cut line as well.
tmn::SectionRead Parse(const std::wstring& lines, bool cut, tmn::Array<tmn::LedgerEntry>& list) {
  const size_t count = lines.empty() ? 0 : lines.size() - (cut ? 2 : 1);
  return tmn::ParseSectionLines(lines.c_str(), count, cut, list);
}

TEST(ParseSectionLines, TakesKeysByTheirNumberAndValuesAfterLeadingBlanks) {
  tmn::Array<tmn::LedgerEntry> list;
  const std::wstring lines = Lines(L"1=a.msu\0" L"007= \tb.msu \0" L"abc=c.msu\0" L"-5=d.msu\0" L"3=\0"
                                   L"=x.msu\0" L"4= \t\0" L" 6 =e.msu\0" L"\0");
  EXPECT_EQ(tmn::SectionRead::kWhole, Parse(lines, false, list));
  EXPECT_EQ((std::vector<std::wstring>{L"1=a.msu", L"7=b.msu ", L"0=c.msu", L"-5=d.msu", L"6=e.msu"}), Entries(list));
}

TEST(ParseSectionLines, ALineWithoutEqualsOrTheCutEndOfASectionEndsTheWalk) {
  tmn::Array<tmn::LedgerEntry> list;
  EXPECT_EQ(tmn::SectionRead::kPartial, Parse(Lines(L"1=a\0; note\0" L"2=b\0" L"\0"), false, list));
  EXPECT_EQ(std::vector<std::wstring>{L"1=a"}, Entries(list));
  list.Clear();
  // A section cut by the buffer ends in the middle of its last line.
  EXPECT_EQ(tmn::SectionRead::kPartial, Parse(Lines(L"1=a\0" L"2=b.ms\0" L"\0"), true, list));
  EXPECT_EQ(std::vector<std::wstring>{L"1=a"}, Entries(list));
  list.Clear();
  EXPECT_EQ(tmn::SectionRead::kNothing, Parse(L"", false, list));
  EXPECT_TRUE(list.IsEmpty());
}

class DownloadLedgerTest : public ::testing::Test {
 protected:
  void Install(const std::string& config) {
    product_.WriteConfig(config);
    for (const char* name : {"a.msu", "b.msu", "c.msu"}) product_.MakeFile(L"Hotfix\\" + tmtest::Widen(name), 10);
  }
  // Makes, loads and acts on a ledger as the hotfix cleanup does.
  tmn::DownloadLedger& Loaded() {
    ledger_.Load();
    return ledger_;
  }
  bool Exists(const wchar_t* name) { return tmtest::FileExists(product_ / L"Hotfix\\" + name); }

  InstalledProduct product_;
  tmn::DownloadLedger ledger_;
};

TEST_F(DownloadLedgerTest, DeletesOnlyInstalledDownloadsAndRewritesBothSectionsWithTheRest) {
  Install("[DownFiles]\n1=a.msu\n2=b.msu\n007=c.msu\n[InstedRet]\n1=1\n2=0\n2=abc\n7=-1\n");
  EXPECT_EQ(30u, Loaded().TotalDownloadedSize());
  EXPECT_TRUE(ledger_.MeasuresEveryDownload());
  EXPECT_EQ(1, ledger_.DeleteInstalledDownloads());
  EXPECT_FALSE(Exists(L"a.msu"));
  EXPECT_TRUE(Exists(L"b.msu"));
  EXPECT_FALSE(Exists(L"c.msu"));
  // Both results of id 2 are written under the same key: the later one stays.
  EXPECT_EQ("[DownFiles]\n2=b.msu\n[InstedRet]\n2=abc\n", product_.ReadConfig());
}

TEST_F(DownloadLedgerTest, TheFirstInstalledResultOfAnIdWinsAndEmptiedSectionsVanish) {
  Install("[Other]\nk=v\n[DownFiles]\n7=a.msu\n[InstedRet]\n7=0\n7=2\n7=0\n");
  Loaded().DeleteInstalledDownloads();
  EXPECT_FALSE(Exists(L"a.msu"));
  EXPECT_EQ("[Other]\nk=v\n[InstedRet]\n7=0\n", product_.ReadConfig());
}

TEST_F(DownloadLedgerTest, NothingIsWrittenWhenNothingIsInstalled) {
  Install("[DownFiles]\n1 = a.msu\n[InstedRet]\n1 = 0\n; kept as written\n");
  const std::string before = product_.ReadConfig();
  Loaded().DeleteInstalledDownloads();
  EXPECT_EQ(before, product_.ReadConfig());
  EXPECT_TRUE(Exists(L"a.msu"));
}

TEST_F(DownloadLedgerTest, NamesLeadingOutOfTheFolderAreNeitherMeasuredNorDeletedButTheirEntriesGo) {
  const std::wstring outside = product_.MakeFile(L"outside.msu", 1000);
  Install("[DownFiles]\n1=..\\outside.msu\n2=" + tmtest::Narrow(outside) + "\n3=*.msu\n4=a.msu\n"
          "[InstedRet]\n1=1\n2=1\n3=1\n");
  EXPECT_EQ(10u, Loaded().TotalDownloadedSize()) << "a.msu alone";
  ledger_.DeleteInstalledDownloads();
  EXPECT_TRUE(tmtest::FileExists(outside));
  EXPECT_TRUE(Exists(L"a.msu") && Exists(L"b.msu"));
  EXPECT_EQ("[DownFiles]\n4=a.msu\n", product_.ReadConfig());
}

// A line leaves the ledger only with its file: a download that stays (here
// refused, as a file in use is) keeps both its lines, for the next cleanup.
TEST_F(DownloadLedgerTest, ADownloadThatStaysKeepsItsLines) {
  Install("[DownFiles]\n1=a.msu\n2=b.msu\n3=gone.msu\n[InstedRet]\n1=1\n2=1\n3=1\n");
  tmtest::FileSystemRecorder recorder;
  const std::wstring stuck = product_ / L"Hotfix\\b.msu";
  recorder.refuseDelete = [&](const std::wstring& path) { return path == stuck; };
  Loaded().DeleteInstalledDownloads();
  EXPECT_FALSE(Exists(L"a.msu"));
  EXPECT_TRUE(Exists(L"b.msu"));
  EXPECT_EQ("[DownFiles]\n2=b.msu\n[InstedRet]\n2=1\n", product_.ReadConfig());
}

// Hotfix\j is a real folder that shows as a junction when it is opened.
TEST_F(DownloadLedgerTest, NamesReachedThroughALinkAreNeitherMeasuredNorDeleted) {
  product_.MakeFile(L"Hotfix\\j\\sub\\x.msu", 1000);
  Install("[DownFiles]\n1=j\\sub\\x.msu\n2=j/sub/x.msu\n3=sub\\..\\j\\sub\\x.msu\n4=.\\a.msu\n5=a.msu\n"
          "[InstedRet]\n1=1\n2=1\n3=1\n4=1\n5=1\n");
  tmtest::FileSystemRecorder recorder;
  const std::wstring junction = product_ / L"Hotfix\\j";
  recorder.openedAttributes = [junction](const std::wstring& path, DWORD attributes) {
    return _wcsicmp(path.c_str(), junction.c_str()) == 0 ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
  };
  EXPECT_EQ(10u, Loaded().TotalDownloadedSize()) << "a.msu alone";
  ledger_.DeleteInstalledDownloads();
  EXPECT_TRUE(Exists(L"j\\sub\\x.msu"));
  EXPECT_FALSE(Exists(L"a.msu"));
}

// The open of one folder of a download's name, relative to the folder
// above it, fails with a given status.
struct RefusedStep {
  static NTSTATUS status;
  static NTSTATUS NTAPI Open(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK io,
                             PLARGE_INTEGER allocation, ULONG attributes, ULONG share, ULONG disposition,
                             ULONG options, PVOID ea, ULONG eaLength) {
    const UNICODE_STRING* name = object->ObjectName;
    if (object->RootDirectory != nullptr && std::wstring(name->Buffer, name->Length / sizeof(wchar_t)) == L"sub")
      return status;
    return tmn::kWindowsFileSystem.openRelative(file, access, object, io, allocation, attributes, share, disposition,
                                                options, ea, eaLength);
  }
};
NTSTATUS RefusedStep::status;

class OpenRelativeSwap {
 public:
  explicit OpenRelativeSwap(tmn::NtCreateFileCall call) { tmn::g_fileSystem.openRelative = call; }
  ~OpenRelativeSwap() { tmn::g_fileSystem = saved_; }

 private:
  tmn::FileSystemCalls saved_ = tmn::g_fileSystem;
};

// A folder of the name that cannot be opened, for whatever reason, may be
// a link: nothing below it is measured or deleted.
TEST_F(DownloadLedgerTest, AStepThatCannotBeOpenedRefusesTheName) {
  for (NTSTATUS status : {NTSTATUS{0}, tmn::kStatusAccessDenied, static_cast<NTSTATUS>(0xC0000043) /* sharing violation */,
                          static_cast<NTSTATUS>(0xC000000D) /* invalid parameter */}) {
    product_.MakeFile(L"Hotfix\\sub\\x.msu", 1000);
    Install("[DownFiles]\n1=sub\\x.msu\n[InstedRet]\n1=1\n");
    RefusedStep::status = status;
    OpenRelativeSwap swap(status != 0 ? RefusedStep::Open : tmn::kWindowsFileSystem.openRelative);
    tmn::DownloadLedger ledger;
    ledger.Load();
    EXPECT_EQ(status == 0 ? 1000u : 0u, ledger.TotalDownloadedSize()) << std::hex << status;
    ledger.DeleteInstalledDownloads();
    EXPECT_EQ(status != 0, Exists(L"sub\\x.msu")) << std::hex << status;
  }
}

// A line without "=" (which Wine's profile reader keeps) or a section
// longer than the buffer: the ledger and its files stay as they are.
TEST_F(DownloadLedgerTest, ALedgerNotReadToTheEndOfASectionIsLeftWholeWithItsFiles) {
  std::string longSection = "[DownFiles]\n1=a.msu\n";
  for (int id = 100; longSection.size() < 80000; ++id)
    longSection += std::to_string(id) + "=download_" + std::to_string(id) + ".msu\n";
  for (const std::string& config : {std::string("[DownFiles]\n1=a.msu\nkeep me\n2=b.msu\n[InstedRet]\n1=1\n2=1\n"),
                                    std::string("[DownFiles]\n1=a.msu\n[InstedRet]\n1=1\nkeep me\n"),
                                    longSection + "[InstedRet]\n1=1\n"}) {
    Install(config);
    tmn::DownloadLedger ledger;
    ledger.Load();
    EXPECT_FALSE(ledger.MeasuresEveryDownload());
    ledger.DeleteInstalledDownloads();
    EXPECT_TRUE(Exists(L"a.msu") && Exists(L"b.msu")) << config.substr(0, 60);
    const std::string after = product_.ReadConfig();
    EXPECT_TRUE(after == config) << after.substr(0, 60) << "... instead of " << config.substr(0, 60);
  }
}

TEST_F(DownloadLedgerTest, SizesAddUpBeyondFourGigabytesAndFoldersAndMissingFilesCountNothing) {
  Install("[VulMain]\nDownPath=" + tmtest::Narrow(product_ / L"Hotfix") + "\\\n"
          "[DownFiles]\n1=big.msu\n2=missing.msu\n3=sub\n4=a.msu\n");
  product_.MakeFile(L"Hotfix\\sub\\x.msu", 5);
  HANDLE big = CreateFileW((product_ / L"Hotfix\\big.msu").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, big);
  LARGE_INTEGER size;
  size.QuadPart = 0x140000000LL;  // 5 GiB, sparse
  EXPECT_TRUE(SetFilePointerEx(big, size, nullptr, FILE_BEGIN) && SetEndOfFile(big));
  CloseHandle(big);
  EXPECT_EQ(0x140000000ULL + 10, Loaded().TotalDownloadedSize()) << "a trailing backslash changes nothing";
}

TEST_F(DownloadLedgerTest, AnEmptyOrRelativeDownloadFolderMeasuresAndDeletesNothing) {
  for (const char* folder : {"", "Hotfix"}) {
    Install(std::string("[VulMain]\nDownPath=") + folder + "\n[DownFiles]\n1=a.msu\n[InstedRet]\n1=1\n");
    tmn::DownloadLedger ledger;
    ledger.Load();
    tmtest::FileSystemRecorder recorder;
    EXPECT_EQ(0u, ledger.TotalDownloadedSize()) << folder;
    EXPECT_FALSE(ledger.MeasuresEveryDownload()) << folder;
    ledger.DeleteInstalledDownloads();
    for (const std::wstring& call : recorder.Calls())
      EXPECT_EQ(std::wstring::npos, call.find(L"Hotfix")) << folder << ": " << tmtest::Narrow(call);
    EXPECT_TRUE(Exists(L"a.msu"));
  }
}

}  // namespace
