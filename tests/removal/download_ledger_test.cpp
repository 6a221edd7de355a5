#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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

// A profile file's bytes as a user's editor saves it: ANSI (here ASCII),
// UTF-8 after its mark, or UTF-16LE after its mark.
enum class Saved { kAnsi, kUtf8, kUtf16 };
std::string Bytes(const std::wstring& text, Saved as) {
  if (as == Saved::kUtf16)
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  std::string bytes = as == Saved::kUtf8 ? "\xEF\xBB\xBF" : "";
  for (wchar_t c : text) bytes += static_cast<char>(c);
  return bytes;
}

// A file's bytes and the text read from them. Reads past either end are
// the fuzz driver's to find, which places every input against a guard page.
struct FileBytes {
  explicit FileBytes(const std::string& saved)
      : bytes(saved), text(tmn::ReadProfileText(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size())) {}
  std::string bytes;
  tmn::ProfileText text;
};

const wchar_t kLedgerText[] =
    L"[Other]\r\nk=v\r\n[downfiles]\r\n1=a.msu\r\n 007 = \tb.msu \r\n; note\r\nabc=c.msu\n-5=d.msu\r\n3=\r\n"
    L"=x.msu\r\n[ InstedRet ]\n1=1\r\n[Last]\r\nlong=";

TEST(LedgerText, ReadsEntriesAsTheProfileFunctionsDoInEveryEncodingAndRewritesOnlyTheirLines) {
  // A NUL inside a value, a line of 100,000 characters and no line end at
  // the end of the file.
  std::wstring text(kLedgerText, sizeof(kLedgerText) / sizeof(wchar_t) - 1);
  text.insert(text.find(L"\r\n[ InstedRet"), std::wstring(L"\r\n 6 =e\0f.msu", 13));
  text += std::wstring(100000, L'x');
  for (Saved as : {Saved::kAnsi, Saved::kUtf8, Saved::kUtf16}) {
    FileBytes file(Bytes(text, as));
    tmn::Array<tmn::LedgerEntry> downloads, results, other;
    ASSERT_EQ(tmn::SectionRead::kWhole, tmn::ParseSection(file.text, L"DownFiles", downloads));
    ASSERT_EQ(tmn::SectionRead::kWhole, tmn::ParseSection(file.text, L"InstedRet", results));
    EXPECT_EQ(tmn::SectionRead::kNothing, tmn::ParseSection(file.text, L"Missing", other));
    EXPECT_EQ((std::vector<std::wstring>{L"1=a.msu", L"7=b.msu", L"0=c.msu", L"-5=d.msu", std::wstring(L"6=e\0f.msu", 9)}),
              Entries(downloads));
    tmn::WideString value;
    EXPECT_TRUE(tmn::FindProfileValue(file.text, L"last", L"LONG", &value));
    EXPECT_EQ(100000u, value.Length());
    // The downloads of ids 7 and 6 go, and with the one result the whole
    // section: the rest stays byte for byte, and the profile functions still
    // read it.
    downloads[1].gone = downloads[4].gone = results[0].gone = true;
    size_t size = 0;
    const tmn::UniqueHeapBlock rewritten =
        tmn::RewriteSections(file.text, L"DownFiles", downloads, L"InstedRet", results, &size);
    std::wstring expected = text;
    expected.erase(expected.find(L" 007"), expected.find(L"; note") - expected.find(L" 007"));
    expected.erase(expected.find(L" 6 =e"), 13);
    expected.erase(expected.find(L"[ InstedRet"), 19);
    EXPECT_EQ(Bytes(expected, as), std::string(static_cast<const char*>(rewritten.get()), size));
    tmtest::TempDir dir(L"ledger");
    ASSERT_TRUE(tmtest::WriteFileText(dir / L"config.ini", std::string(static_cast<const char*>(rewritten.get()), size)));
    wchar_t read[8] = {};
    GetPrivateProfileStringW(L"Other", L"k", L"", read, 8, (dir / L"config.ini").c_str());
    EXPECT_STREQ(L"v", read);
  }
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
  // The lines of the others stay as they were written.
  EXPECT_EQ("[DownFiles]\n2=b.msu\n[InstedRet]\n2=0\n2=abc\n", product_.ReadConfig());
}

TEST_F(DownloadLedgerTest, TheFirstInstalledResultOfAnIdWinsAndEmptiedSectionsVanish) {
  Install("[Other]\nk=v\n[DownFiles]\n7=a.msu\n[InstedRet]\n7=0\n7=2\n7=0\n");
  Loaded().DeleteInstalledDownloads();
  EXPECT_FALSE(Exists(L"a.msu"));
  EXPECT_EQ("[Other]\nk=v\n[InstedRet]\n7=2\n7=0\n", product_.ReadConfig());
}

// A ledger the elevated uninstaller would obey must be the product's own:
// not another file under its name (a second name, a link), and in a "Cfg"
// folder no one but the system's writers may change. Else it deletes
// nothing and stays as it is; it is still measured where it could be read.
TEST_F(DownloadLedgerTest, ALedgerThatIsNotTheProductsOwnDeletesNothingAndStaysAsItIs) {
  enum class Way { kSecondName, kLink, kOpenCfg };
  struct Case {
    const char* what;
    Way way;
    HRESULT why;
    uint64_t measured;
  } cases[] = {
      {"a second name of a user's file", Way::kSecondName, tmn::kLedgerHasSecondName, 10},
      {"a link", Way::kLink, tmn::kEntryNotOwn, 0},
      {"in a Cfg folder everyone may change", Way::kOpenCfg, tmn::kLedgerOthersMayChange, 10},
  };
  const std::string text = "[DownFiles]\n1=a.msu\n[InstedRet]\n1=1\n";
  for (const Case& c : cases) {
    Install(text);
    const std::wstring user = product_.scratch() + L"\\startup.cmd";
    if (c.way == Way::kSecondName) {
      ASSERT_TRUE(MoveFileW(product_.configFile().c_str(), user.c_str()));
      ASSERT_TRUE(CreateHardLinkW(product_.configFile().c_str(), user.c_str(), nullptr));
    }
    // The link through the seam, as Windows opens one as itself; the rest
    // as Wine keeps it.
    std::unique_ptr<tmtest::FileSystemRecorder> recorder;
    if (c.way == Way::kLink) recorder = std::make_unique<tmtest::FileSystemRecorder>();
    if (recorder) recorder->ShowAsJunction(L"config.ini", product_.configFile());
    if (c.way == Way::kOpenCfg) tmtest::OpenToEveryone(product_ / L"Cfg");
    tmn::DownloadLedger ledger;
    ledger.Load();
    EXPECT_EQ(c.why, ledger.Obeyed()) << c.what;
    EXPECT_EQ(c.measured, ledger.TotalDownloadedSize()) << c.what;
    ledger.DeleteInstalledDownloads();
    EXPECT_TRUE(Exists(L"a.msu")) << c.what;
    EXPECT_EQ(text, product_.ReadConfig()) << c.what;
    DeleteFileW(user.c_str());
  }
}

// The file read is the file written: held with no one else writing,
// renaming or deleting it, so it cannot be swapped for another meanwhile
// (a user's oplock would hold the ledger between the two for as long as
// the user wished).
TEST_F(DownloadLedgerTest, TheLedgerIsWrittenBackToTheFileItWasReadFromNeverToOneSwappedIn) {
  Install("[DownFiles]\n1=a.msu\n2=b.msu\n[InstedRet]\n1=1\n");
  const std::wstring config = product_.configFile(), aside = config + L".aside";
  tmtest::FileSystemRecorder recorder;
  bool swapped = false;
  recorder.beforeOpen = [&](const std::wstring& path) {
    if (path.find(L"a.msu") != std::wstring::npos && !swapped)
      swapped = MoveFileW(config.c_str(), aside.c_str()) && tmtest::WriteFileText(config, "[DownFiles]\r\n9=x\r\n");
  };
  Loaded().DeleteInstalledDownloads();
  EXPECT_FALSE(swapped);
  EXPECT_EQ("[DownFiles]\n2=b.msu\n", product_.ReadConfig());
  DeleteFileW(aside.c_str());
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

// A line without "=", a second section of the same name, or a section
// longer than the longest read: the ledger and its files stay as they are.
TEST_F(DownloadLedgerTest, ALedgerNotReadToTheEndOfASectionIsLeftWholeWithItsFiles) {
  std::string longSection = "[DownFiles]\n1=a.msu\n";
  for (int id = 100; longSection.size() < 80000; ++id)
    longSection += std::to_string(id) + "=download_" + std::to_string(id) + ".msu\n";
  for (const std::string& config : {std::string("[DownFiles]\n1=a.msu\nkeep me\n2=b.msu\n[InstedRet]\n1=1\n2=1\n"),
                                    std::string("[DownFiles]\n1=a.msu\n[InstedRet]\n1=1\nkeep me\n"),
                                    std::string("[DownFiles]\n1=a.msu\n[InstedRet]\n1=1\n[downfiles]\n2=b.msu\n"),
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
