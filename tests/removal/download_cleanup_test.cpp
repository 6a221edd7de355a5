#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "removal/download_cleanup.h"
#include "support/file_system_recorder.h"
#include "support/installed_product.h"

using tmtest::FileSystemRecorder;
using tmtest::InstalledProduct;
using tmtest::TempDir;

namespace {

bool Exists(const std::wstring& path) { return tmtest::FileExists(path); }

// A folder whose path has exactly length characters, made through the
// long-path form so that lengths beyond MAX_PATH can be made at all.
std::wstring FolderOfLength(const TempDir& dir, size_t length, wchar_t fill) {
  std::wstring path = dir.path() + L"\\";
  path += std::wstring(length - path.size(), fill);
  EXPECT_TRUE(CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr)) << GetLastError();
  return path;
}

bool MakeLongFile(const std::wstring& path) {
  HANDLE file = CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, "data", 4, &written, nullptr);
  CloseHandle(file);
  return true;
}

TEST(IsLeftoverName, MatchesThe21EndingsInAnyCaseAfterAtLeastOneCharacter) {
  for (const wchar_t* name :
       {L"a.exe.tmp", L"a.exe.nfo", L"a.exe_kt", L"a.exe_kti", L"a.exe.fd", L"a.exe.fd.cfg", L"a.exec",
        L"a.msu.tmp", L"a.msu.nfo", L"a.msu_kt", L"a.msu_kti", L"a.msu.fd", L"a.msu.fd.cfg", L"a.msuc",
        L"a.zip.tmp", L"a.zip.nfo", L"a.zip_kt", L"a.zip_kti", L"a.zip.fd", L"a.zip.fd.cfg", L"a.zipc",
        L"SETUP.EXE.TMP", L"Kb1.Msu.Fd.Cfg", L"x.exe.exe.tmp"})
    EXPECT_TRUE(tmn::IsLeftoverName(name)) << name;
  for (const wchar_t* name : {L".exe.tmp", L".zipc", L"setup.exe", L"notes.txt", L"a.exe.tmp.txt", L"a.tmp",
                              L"a.cab.tmp", L"a.exe_k", L"a.exe.cfg", L"", L"c"})
    EXPECT_FALSE(tmn::IsLeftoverName(name)) << name;
}

TEST(DeleteLeftoverFiles, DeletesLeftoversDirectlyInTheFolderOnly) {
  TempDir dir(L"leftovers");
  const std::wstring folder = dir.path();
  for (const wchar_t* name : {L"setup.exe.tmp", L"kb1.msu.fd.cfg", L"a.zipc", L"b.exe_kti", L"setup.exe",
                              L"notes.txt", L".exe.tmp"})
    ASSERT_TRUE(tmtest::WriteFileText(dir / name, "x"));
  ASSERT_TRUE(SetFileAttributesW((dir / L"a.zipc").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW((dir / L"x.exe.tmp").c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"x.exe.tmp\\inner.exe.tmp", "x"));
  EXPECT_EQ(1, tmn::DeleteLeftoverFiles(tmtest::MakeWide(folder + L"\\")));
  for (const wchar_t* gone : {L"setup.exe.tmp", L"kb1.msu.fd.cfg", L"a.zipc", L"b.exe_kti"})
    EXPECT_FALSE(Exists(dir / gone)) << gone;
  for (const wchar_t* kept : {L"setup.exe", L"notes.txt", L".exe.tmp", L"x.exe.tmp\\inner.exe.tmp"})
    EXPECT_TRUE(Exists(dir / kept)) << kept;
}

// Names a path would lose or turn into a device are deleted as themselves,
// at any length; the folder itself stays.
TEST(DeleteLeftoverFiles, DeletesLeftoversByTheirExactNamesAtAnyLength) {
  TempDir dir(L"leftovers");
  const std::wstring folder = FolderOfLength(dir, 240, L'f');
  std::vector<std::wstring> paths;
  for (size_t length : {258u, 259u, 260u, 261u, 300u}) {
    const std::wstring name = std::wstring(length - folder.size() - 1 - 8, L'n') + L".exe.tmp";
    paths.push_back(folder + L"\\" + name);
  }
  for (const wchar_t* name : {L"con.exe.tmp", L"aux.zipc", L"nul.msu.nfo"}) paths.push_back(folder + L"\\" + name);
  for (const std::wstring& path : paths) ASSERT_TRUE(MakeLongFile(path)) << tmtest::Narrow(path);
  tmn::DeleteLeftoverFiles(tmtest::MakeWide(folder));
  for (const std::wstring& path : paths) EXPECT_FALSE(Exists(L"\\\\?\\" + path)) << tmtest::Narrow(path);
  EXPECT_TRUE(Exists(L"\\\\?\\" + folder));
}

// Standard output of the test program goes to a file while a call runs.
class CapturedOutput {
 public:
  explicit CapturedOutput(const std::wstring& path) : path_(path), previous_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, file_);
  }
  std::string Finish() {
    SetStdHandle(STD_OUTPUT_HANDLE, previous_);
    CloseHandle(file_);
    std::ifstream in(std::filesystem::path(path_), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::wstring path_;
  HANDLE previous_;
  HANDLE file_;
};

// The trace a walk by pattern writes: FindFirstFileW lists "." and ".."
// too, the first entry of each listing gets a line of its own.
std::string TraceByPattern(const std::wstring& folder, const std::wstring& notEntered) {
  std::string trace;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return trace;
  trace += "First file name is " + tmtest::Narrow(data.cFileName) + "\n";
  do {
    const std::wstring name = data.cFileName;
    trace += "Next file name is " + tmtest::Narrow(name) + "\n";
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L".." && name != notEntered)
      trace += TraceByPattern(folder + L"\\" + name, notEntered);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return trace;
}

// Links are never entered: the end-to-end cases plant real ones.
TEST(GetFolderSize, AddsEveryFileBelowAndTracesEachEntryAsAListingByPatternWould) {
  TempDir dir(L"size");
  const std::wstring root = dir / L"root";
  for (const wchar_t* folder : {L"", L"\\a", L"\\a\\b"}) ASSERT_TRUE(CreateDirectoryW((root + folder).c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(root + L"\\top.bin", std::string(100, 'x')));
  ASSERT_TRUE(tmtest::WriteFileText(root + L"\\a\\inner.bin", std::string(20, 'x')));
  ASSERT_TRUE(MakeLongFile(root + L"\\a\\b\\deep.bin"));  // 4 bytes
  const std::string expected = TraceByPattern(root, L"");
  CapturedOutput output(dir / L"trace.txt");
  EXPECT_EQ(124u, tmn::GetFolderSize(tmtest::MakeWide(root), true));
  const std::string trace = output.Finish();
  EXPECT_EQ(100u, tmn::GetFolderSize(tmtest::MakeWide(root + L"\\"), false));
  EXPECT_EQ(0u, tmn::GetFolderSize(tmtest::MakeWide(dir / L"missing"), true));
  EXPECT_EQ(expected, trace);
  EXPECT_NE(std::string::npos, trace.find("Next file name is a\nFirst file name is .\n")) << "depth first: " << trace;
  EXPECT_NE(std::string::npos, trace.find("Next file name is deep.bin\n")) << trace;
}

TEST(DeleteFolderTree, DeletesTheWholeTreeReadOnlyFilesAndLongPathsIncluded) {
  TempDir dir(L"tree");
  const std::wstring root = dir / L"tree";
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr) && CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(root + L"\\sub\\ro.txt", "x"));
  ASSERT_TRUE(SetFileAttributesW((root + L"\\sub\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  std::wstring deep = root;
  while (deep.size() < 300) {
    deep += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
  }
  ASSERT_TRUE(MakeLongFile(deep + L"\\deep.bin"));
  tmn::DeleteFolderTree(tmtest::MakeWide(root));
  EXPECT_FALSE(Exists(root));
}

class CleanupTest : public ::testing::Test {
 protected:
  bool Exists(const std::wstring& relative) const { return tmtest::FileExists(product_ / relative); }
  InstalledProduct product_;
};

TEST_F(CleanupTest, OnlyTheExactAnswerYDeletesTheDefaultFolderButLeftoversGoWhateverTheAnswer) {
  const std::wstring configured = product_ / L"Configured";
  product_.WriteConfig("[SoftMain]\nSoftDownDir=" + tmtest::Narrow(configured) + "\n");
  for (const char* answer : {"Y", "yes", "", "n", "y"}) {
    product_.MakeFile(L"Orvik\\Download\\pkg\\setup.exe");
    product_.MakeFile(L"Configured\\setup.exe.tmp");
    product_.MakeFile(L"Configured\\setup.exe");
    tmn::CleanSoftDownloads(tmtest::MakeWide(tmtest::Widen(answer)));
    const bool yes = std::string(answer) == "y";
    EXPECT_EQ(!yes, Exists(L"Orvik\\Download\\pkg\\setup.exe")) << answer;
    EXPECT_EQ(!yes, Exists(L"Orvik\\Download")) << answer;
    EXPECT_FALSE(Exists(L"Configured\\setup.exe.tmp")) << answer;
    EXPECT_TRUE(Exists(L"Configured\\setup.exe")) << answer;
  }
}

TEST_F(CleanupTest, AnEmptyDefaultFolderIsMadeAndKeptAndAConfiguredDefaultFolderGoesBeforeItsLeftoverPass) {
  tmn::CleanDriverDownloads(tmtest::MakeWide(L"y"));
  EXPECT_TRUE(Exists(L"Driver\\Download"));
  product_.MakeFile(L"Driver\\Download\\d.zipc");
  product_.WriteConfig("[DrvMain]\nDrvDownDir=" + tmtest::Narrow(product_ / L"Driver\\Download") + "\n");
  tmn::CleanDriverDownloads(tmtest::MakeWide(L"y"));
  EXPECT_FALSE(Exists(L"Driver\\Download"));
  EXPECT_TRUE(Exists(L"Driver"));
}

TEST_F(CleanupTest, FoldersThatAreNotFullyQualifiedOrWereCutAreNeitherMeasuredNorTouched) {
  product_.MakeFile(L"Orvik\\Download\\setup.exe.tmp");
  product_.WriteConfig("[SoftMain]\nSoftDownDir=" + tmtest::Narrow(product_ / L"Orvik\\Download") + "\\" +
                       std::string(300, 'x') + "\n[VulMain]\nDownPath=\n[DownFiles]\n1=a.msu\n[InstedRet]\n1=1\n");
  FileSystemRecorder recorder;
  tmn::CleanSoftDownloads(tmtest::MakeWide(L"n"));  // the configured folder was cut
  EXPECT_TRUE(Exists(L"Orvik\\Download\\setup.exe.tmp"));
  for (const wchar_t* installPath : {L"", L"Vardo"}) {
    ASSERT_TRUE(tmtest::WriteInstallPath(installPath));
    recorder.Clear();
    tmn::CleanAllDownloads();
    EXPECT_TRUE(recorder.Calls().empty()) << installPath;
  }
  EXPECT_TRUE(Exists(L"Orvik\\Download\\setup.exe.tmp"));
}

// How "DownPath" spells its folder below the install folder.
enum class Spelling { kPlain, kLongForm, kShortNames, kRelative, kDevice, kCut };

struct HotfixCase {
  const char* answer;
  const wchar_t* downPath;  // below the install folder; null: not configured
  Spelling spelling;
  bool hotfixStays;
  bool pendingStays;
  const char* comment;
};

void PrintTo(const HotfixCase& c, std::ostream* os) { *os << "answer " << c.answer << ", " << c.comment; }

std::string Spell(const std::wstring& folder, Spelling spelling) {
  wchar_t shortPath[MAX_PATH] = {};
  switch (spelling) {
    case Spelling::kLongForm: return tmtest::Narrow(L"\\\\?\\" + folder);
    case Spelling::kShortNames:
      EXPECT_NE(0u, GetShortPathNameW(folder.c_str(), shortPath, MAX_PATH));
      EXPECT_NE(folder, shortPath) << "no name of the path has a short form";
      return tmtest::Narrow(shortPath);
    case Spelling::kRelative: return "Hotfix";
    case Spelling::kDevice: return tmtest::Narrow(L"\\\\.\\" + folder);
    case Spelling::kCut: return tmtest::Narrow(folder) + "\\" + std::string(300, 'x');
    default: return tmtest::Narrow(folder);
  }
}

class HotfixCleanup : public CleanupTest, public ::testing::WithParamInterface<HotfixCase> {};

TEST_P(HotfixCleanup, KeepsTheDownloadsTheUserKeepsAndTheFolderHoldingThem) {
  const HotfixCase& c = GetParam();
  const std::wstring downloads = c.downPath != nullptr ? std::wstring(c.downPath) : L"Hotfix";
  const std::wstring folder = downloads.substr(0, downloads.find_last_not_of(L'\\') + 1);
  product_.MakeFile(folder + L"\\installed.msu");
  product_.MakeFile(folder + L"\\pending.msu");
  product_.MakeFile(L"Hotfix\\other\\x.bin");
  std::string config = "[DownFiles]\n1=installed.msu\n2=pending.msu\n[InstedRet]\n1=1\n";
  if (c.downPath != nullptr) config += "[VulMain]\nDownPath=" + Spell(product_ / downloads, c.spelling) + "\n";
  product_.WriteConfig(config);
  tmn::CleanHotfixDownloads(tmtest::MakeWide(tmtest::Widen(c.answer)));
  EXPECT_EQ(c.hotfixStays, Exists(L"Hotfix\\other\\x.bin")) << c.comment;
  EXPECT_EQ(c.pendingStays, Exists(folder + L"\\pending.msu")) << c.comment;
  const bool yes = std::string(c.answer) == "y";
  EXPECT_EQ(!yes && c.pendingStays, Exists(folder + L"\\installed.msu")) << c.comment;
}

INSTANTIATE_TEST_SUITE_P(
    ByAnswerAndFolder, HotfixCleanup,
    ::testing::Values(
        HotfixCase{"n", nullptr, Spelling::kPlain, true, true, "the default folder holds the downloads"},
        HotfixCase{"n", L"HOTFIX", Spelling::kPlain, true, true, "the same folder in other letters"},
        HotfixCase{"n", L"Hotfix\\", Spelling::kPlain, true, true, "the same folder with a trailing backslash"},
        HotfixCase{"n", L"Hotfix", Spelling::kLongForm, true, true, "the same folder in the \\\\?\\ form"},
        HotfixCase{"n", L"Hotfix", Spelling::kShortNames, true, true, "the same folder by its short names"},
        HotfixCase{"n", L"Hotfix\\dl", Spelling::kPlain, true, true, "a folder below it"},
        HotfixCase{"n", L".", Spelling::kPlain, true, true, "the install folder, above it"},
        HotfixCase{"n", L"Hotfix", Spelling::kRelative, true, true, "a relative folder"},
        HotfixCase{"n", L"Hotfix", Spelling::kDevice, true, true, "a device path"},
        HotfixCase{"n", L"Hotfix", Spelling::kCut, true, true, "a folder cut by the buffer"},
        HotfixCase{"n", L"Elsewhere", Spelling::kPlain, false, true, "a folder elsewhere"},
        HotfixCase{"n", L"Elsewhere", Spelling::kShortNames, false, true, "a folder elsewhere by short names"},
        HotfixCase{"y", nullptr, Spelling::kPlain, false, false, "the whole folder goes"},
        HotfixCase{"y", L"Elsewhere", Spelling::kPlain, false, true, "only installed downloads go elsewhere"}));

TEST_F(CleanupTest, AnswerNoKeepsTheHotfixFolderWhenTheLedgerWasNotReadWhole) {
  // Wine's profile reader keeps a line without "=": what follows it is unseen.
  product_.WriteConfig("[DownFiles]\nnote\n1=pending.msu\n");
  product_.MakeFile(L"Hotfix\\pending.msu");
  tmn::CleanHotfixDownloads(tmtest::MakeWide(L"n"));
  EXPECT_TRUE(Exists(L"Hotfix\\pending.msu"));
}

TEST_F(CleanupTest, WithNothingDownloadedTheHotfixFoldersGoWhateverTheAnswer) {
  product_.WriteConfig("[VulMain]\nDownPath=" + tmtest::Narrow(product_ / L"Elsewhere") +
                       "\n[DownFiles]\n1=missing.msu\n[InstedRet]\n1=1\n");
  product_.MakeFile(L"Hotfix\\x.bin");
  ASSERT_TRUE(CreateDirectoryW((product_ / L"Elsewhere").c_str(), nullptr));
  tmn::CleanHotfixDownloads(tmtest::MakeWide(L"n"));
  EXPECT_FALSE(Exists(L"Hotfix"));
  EXPECT_FALSE(Exists(L"Elsewhere")) << "removed once empty";
  EXPECT_EQ("[VulMain]\nDownPath=" + tmtest::Narrow(product_ / L"Elsewhere") + "\n", product_.ReadConfig());
}

// What one download of the ledger costs through the seam when its hotfix
// is installed and the answer is "y": told apart by difference.
TEST_F(CleanupTest, ADeletedDownloadCostsFourCalls) {
  const auto cost = [&](int count) {
    std::string downloads, results;
    for (int id = 1; id <= count; ++id) {
      product_.MakeFile(L"Elsewhere\\kb" + std::to_wstring(id) + L".msu");
      downloads += std::to_string(id) + "=kb" + std::to_string(id) + ".msu\n";
      results += std::to_string(id) + "=1\n";
    }
    product_.WriteConfig("[VulMain]\nDownPath=" + tmtest::Narrow(product_ / L"Elsewhere") + "\n[DownFiles]\n" +
                         downloads + "[InstedRet]\n" + results);
    FileSystemRecorder recorder;
    tmn::CleanHotfixDownloads(tmtest::MakeWide(L"y"));
    EXPECT_FALSE(Exists(L"Elsewhere"));
    return recorder.seamCalls.load();
  };
  const double perDownload = (cost(40) - cost(20)) / 20.0;
  printf("calls: %.2f a download\n", perDownload);
  EXPECT_LE(perDownload, 4.0);
}

}  // namespace
