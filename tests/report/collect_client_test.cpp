// The info-collection client against the real stand-in library, found
// below the install folder that the registry names (the test program's own
// folder holds no "ovec"). The stand-in logs what it receives and how its
// objects were given back; its faults come from TM_GLEANOR_FAIL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "report/collect_client.h"
#include "report/install_identity.h"
#include "support/installed_product.h"
#include "support/product_support.h"
#include "report/system_description.h"

using tmtest::kCoopKey;
using tmtest::kProductKey;
using tmtest::LinesStartingWith;
using tmtest::MakeWide;
using tmtest::SetMachineText;
using tmtest::SetMachineValue;
using tmtest::StandInFaults;
using tmtest::TempDir;
using tmtest::Text;
using Lines = std::vector<std::string>;

namespace {

constexpr wchar_t kUid[] = L"0A1B2C3D4E5F6a7b8C9D0E1F2A3B4C5D";
constexpr char kUuidBytes[] = "0a1b2c3d4e5f6a7b8c9d0e1f2a3b4c5d";

std::wstring LoadedPath(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

bool IsLoaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

// A client's whole life against the stand-in below the install folder.
class CollectClient : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = tmtest::InstallStandIn(install_);
    library_ = install_ + L"\\ovec\\gleanor.dll";
    tmtest::PlaceVersionFile(L"pelvo_2_5", L"pelvo.dll", install_);
    SetMachineText(kProductKey, L"Install Path", install_);
    SetMachineText(kProductKey, L"uid", kUid);
    SetMachineText(kCoopKey, L"OEMID", L"42");
    tmn::ForgetInstallIdentity();
  }
  void TearDown() override { tmn::ForgetInstallIdentity(); }

  // A record of the report's own, filled and handed to Submit.
  static HRESULT SubmitRecord(tmn::CCollectClient& client, const wchar_t* table, int32_t value) {
    tmn::RecordOwner record;
    const HRESULT created = client.CreateRecord(&record);
    if (FAILED(created)) return created;
    record.get()->SetTable(table);
    record.get()->AddInt(L"n", value);
    return client.Submit(std::move(record));
  }

  Lines Log() const { return tmtest::ReadLogLines(log_); }
  Lines Writes() const { return LinesStartingWith(Log(), "write"); }

  // After the client is closed: the library was unloaded, every object was
  // given back exactly once, and nothing was used after its release.
  void ExpectEverythingGivenBack() {
    EXPECT_FALSE(IsLoaded(library_));
    const Lines log = Log();
    EXPECT_EQ(Lines{"unload freed"}, LinesStartingWith(log, "unload"));
    EXPECT_EQ(Lines{}, LinesStartingWith(log, "ERROR"));
    const Lines summary = LinesStartingWith(log, "summary");
    ASSERT_EQ(1u, summary.size());
    const std::string objects = summary[0].substr(summary[0].find("objects=") + 8);
    const std::string count = objects.substr(0, objects.find(' '));
    EXPECT_EQ("summary objects=" + count + " released=" + count + " errors=0", summary[0]);
  }

  std::string PublicRecord(const char* uuid = kUuidBytes) const {
    return std::string("xlumbra_public|uuid=bytes:") + uuid + "|pid=int:42|ver=str:2.5.0.1234|win=str:win";
  }

  TempDir dir_{L"collect"};
  const std::wstring install_ = dir_.path();
  std::wstring log_;
  std::wstring library_;
  tmtest::CleanProductKey clean_;
};

// The public record's line without its time, which is checked apart.
std::string WithoutTime(const std::string& line, long long* time) {
  const size_t at = line.find("|collect_time=int:");
  if (at == std::string::npos) return line;
  *time = std::atoll(line.c_str() + at + 18);
  return line.substr(0, at);
}

TEST_F(CollectClient, ThePublicRecordGoesOnceBeforeTheFirstRecord) {
  const long long before = static_cast<long long>(std::time(nullptr));
  {
    tmn::CCollectClient client;
    EXPECT_TRUE(IsLoaded(library_));
    EXPECT_EQ(S_OK, SubmitRecord(client, L"first", 1));
    EXPECT_EQ(S_OK, SubmitRecord(client, L"second", 2));
  }
  const long long after = static_cast<long long>(std::time(nullptr));
  const Lines writes = Writes();
  ASSERT_EQ(3u, writes.size()) << ::testing::PrintToString(Log());
  long long collectTime = 0;
  EXPECT_EQ("write public#4 " + PublicRecord(), WithoutTime(writes[0], &collectTime));
  EXPECT_LE(before, collectTime);
  EXPECT_GE(after, collectTime);
  EXPECT_EQ("write channel#1 first|n=int:1", writes[1]);
  EXPECT_EQ("write channel#1 second|n=int:2", writes[2]);
  EXPECT_EQ((Lines{"commit channel#1 1", "commit channel#1 1"}), LinesStartingWith(Log(), "commit"));
  EXPECT_EQ(Lines{}, LinesStartingWith(Log(), "defer"));
  ExpectEverythingGivenBack();
}

TEST_F(CollectClient, AProductVersionHandedInIsTheOneThePublicRecordNames) {
  const tmn::WideString handed = MakeWide(L"7.6.5.4");
  {
    tmn::CCollectClient client(&handed);
    ASSERT_EQ(S_OK, SubmitRecord(client, L"t", 1));
  }
  const Lines writes = Writes();
  ASSERT_EQ(2u, writes.size());
  long long time = 0;
  std::string expected = PublicRecord();
  expected.replace(expected.find("2.5.0.1234"), 10, "7.6.5.4");
  EXPECT_EQ("write public#4 " + expected, WithoutTime(writes[0], &time));
}

TEST_F(CollectClient, AMadeUidWithItsLowerCaseGroupDecodesToSixteenBytes) {
  tmtest::CleanProductKey noUid;
  SetMachineText(kProductKey, L"Install Path", install_);
  SetMachineText(kCoopKey, L"OEMID", L"42");
  {
    tmn::CCollectClient client;
    EXPECT_EQ(S_OK, SubmitRecord(client, L"t", 1));
  }
  std::wstring uid = tmn::GetInstallIdentity().uid;
  ASSERT_EQ(32u, uid.size());
  std::string hex = tmtest::Narrow(uid);
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  long long ignored = 0;
  EXPECT_EQ("write public#4 " + PublicRecord(hex.c_str()), WithoutTime(Writes().at(0), &ignored));
}

struct FaultCase {
  const char* faults;
  HRESULT result;
  Lines writes;   // what reached a channel
  Lines defers;   // what was handed back, in order
};

TEST_F(CollectClient, AnUndeliveredRecordIsDeferredOrKeptUntilClose) {
  const std::string pub = "write public#4 ";
  const FaultCase cases[] = {
      // The record of the report is the second one sealed.
      {"record.Seal#2", E_FAIL, {pub}, {"defer record#2 1 t|n=int:1"}},
      {"channel.Write", E_FAIL, {pub, "write-refused channel#1 t|n=int:1"}, {"defer record#2 1 t|n=int:1"}},
      {"channel.Commit", E_FAIL, {pub, "write channel#1 t|n=int:1"}, {"defer record#2 1 t|n=int:1"}},
      // Not taken: kept, and handed back once more when the client closes.
      {"record.Seal#2,record.Defer", E_FAIL, {pub}, {"defer record#2 0 t|n=int:1", "defer record#2 0 t|n=int:1"}},
      // No public record: no other record either.
      {"public.Create", E_POINTER, {}, {"defer record#2 1 t|n=int:1"}},
      {"public.IsReady", E_FAIL, {}, {"defer record#2 1 t|n=int:1"}},
      {"public.Write", E_FAIL, {"write-refused public#4 "}, {"defer record#2 1 t|n=int:1"}},
      {"record.Create#2", E_POINTER, {}, {"defer record#2 1 t|n=int:1"}},
      {"record.IsReady#2", E_FAIL, {}, {"defer record#2 1 t|n=int:1"}},
      {"record.Seal#1", E_FAIL, {}, {"defer record#2 1 t|n=int:1"}},
      // No channel at all.
      {"channel.Create", E_FAIL, {}, {"defer record#1 1 t|n=int:1"}},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.faults);
    DeleteFileW(log_.c_str());
    tmn::ForgetInstallIdentity();
    {
      StandInFaults faults(c.faults);
      tmn::CCollectClient client;
      EXPECT_EQ(c.result, SubmitRecord(client, L"t", 1));
    }
    // The public record is checked elsewhere; here only where it went.
    Lines writes = Writes();
    for (std::string& line : writes) line = line.substr(0, line.find("xlumbra_public"));
    EXPECT_EQ(c.writes, writes);
    EXPECT_EQ(c.defers, LinesStartingWith(Log(), "defer"));
    ExpectEverythingGivenBack();
  }
}

TEST_F(CollectClient, AChannelThatIsNotReadyIsReplacedAndTheNextSubmitUsesTheFreshOne) {
  {
    StandInFaults faults("channel.IsReady#1");
    tmn::CCollectClient client;
    EXPECT_EQ(E_FAIL, SubmitRecord(client, L"first", 1));
    EXPECT_EQ(S_OK, SubmitRecord(client, L"second", 2));
  }
  // The public record went out with each try, as it was not yet counted.
  Lines writes = Writes();
  ASSERT_EQ(3u, writes.size()) << ::testing::PrintToString(Log());
  EXPECT_EQ(0u, writes[0].find("write public#4 xlumbra_public|"));
  EXPECT_EQ(0u, writes[1].find("write public#8 xlumbra_public|"));
  EXPECT_EQ("write channel#5 second|n=int:2", writes[2]);
  EXPECT_EQ(Lines{"defer record#2 1 first|n=int:1"}, LinesStartingWith(Log(), "defer"));
  ExpectEverythingGivenBack();
}

TEST_F(CollectClient, ThePublicRecordIsTriedAgainAtTheNextSubmitAfterAFailure) {
  {
    StandInFaults faults("public.Write#1");
    tmn::CCollectClient client;
    EXPECT_EQ(E_FAIL, SubmitRecord(client, L"first", 1));
    EXPECT_EQ(S_OK, SubmitRecord(client, L"second", 2));
    EXPECT_EQ(S_OK, SubmitRecord(client, L"third", 3));
  }
  const Lines writes = Writes();
  ASSERT_EQ(4u, writes.size()) << ::testing::PrintToString(Log());
  EXPECT_EQ(0u, writes[0].find("write-refused public#4 xlumbra_public|"));
  EXPECT_EQ(0u, writes[1].find("write public#7 xlumbra_public|"));
  EXPECT_EQ("write channel#1 second|n=int:2", writes[2]);
  EXPECT_EQ("write channel#1 third|n=int:3", writes[3]);
  ExpectEverythingGivenBack();
}

TEST_F(CollectClient, UidsThatCannotBeDecodedSendNoPublicRecord) {
  for (const wchar_t* uid : {L"0A1", L"0G", L"abc"}) {
    SCOPED_TRACE(tmtest::Narrow(uid));
    DeleteFileW(log_.c_str());
    SetMachineText(kProductKey, L"uid", uid);
    tmn::ForgetInstallIdentity();
    {
      tmn::CCollectClient client;
      EXPECT_EQ(E_FAIL, SubmitRecord(client, L"t", 1));
    }
    EXPECT_EQ(Lines{}, Writes());
    ExpectEverythingGivenBack();
  }
  // An empty uid, as when no id could be made.
  DeleteFileW(log_.c_str());
  tmn::ForgetInstallIdentity();
  const_cast<tmn::InstallIdentity&>(tmn::GetInstallIdentity()).uid[0] = L'\0';
  {
    tmn::CCollectClient client;
    EXPECT_EQ(tmn::kUidEmpty, SubmitRecord(client, L"t", 1));
  }
  EXPECT_EQ(Lines{}, Writes());
  ExpectEverythingGivenBack();
}

TEST_F(CollectClient, CreateRecordAnswersForMissingAndUnreadyRecords) {
  {
    StandInFaults faults("record.Create#1,record.IsReady#1");
    tmn::CCollectClient client;
    tmn::RecordOwner record;
    EXPECT_EQ(E_POINTER, client.CreateRecord(&record));
    EXPECT_FALSE(record);
    EXPECT_EQ(E_FAIL, client.CreateRecord(&record));
    EXPECT_FALSE(record);
    EXPECT_EQ(S_OK, client.CreateRecord(&record));
    EXPECT_TRUE(record);
    EXPECT_EQ(E_POINTER, client.Submit(tmn::RecordOwner()));
  }
  ExpectEverythingGivenBack();
}

TEST_F(CollectClient, WithoutTheLibraryOrItsExportNothingIsMadeAndNothingStaysLoaded) {
  DeleteFileW(library_.c_str());
  {
    tmn::CCollectClient client;
    tmn::RecordOwner record;
    EXPECT_EQ(E_POINTER, client.CreateRecord(&record));
  }
  // A library without the export is loaded, unused, and freed.
  tmtest::PlaceVersionFile(L"pelvo_2_5", L"pelvo.dll", install_ + L"\\ovec");
  ASSERT_TRUE(MoveFileW((install_ + L"\\ovec\\pelvo.dll").c_str(), library_.c_str()));
  {
    tmn::CCollectClient client;
    EXPECT_TRUE(IsLoaded(library_));
    tmn::RecordOwner record;
    EXPECT_EQ(E_POINTER, client.CreateRecord(&record));
  }
  EXPECT_FALSE(IsLoaded(library_));
}

TEST_F(CollectClient, AnOpenClientHoldsTheMutexOnlyWhenItMadeIt) {
  auto first = std::make_unique<tmn::CCollectClient>();
  HANDLE seen = OpenMutexW(SYNCHRONIZE, FALSE, tmn::kClientMutexName);
  EXPECT_NE(nullptr, seen);
  CloseHandle(seen);
  auto second = std::make_unique<tmn::CCollectClient>();
  EXPECT_EQ(S_OK, SubmitRecord(*second, L"t", 1));
  first.reset();
  // Only the first client held it.
  EXPECT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, tmn::kClientMutexName));
  second.reset();
  EXPECT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, tmn::kClientMutexName));
}

// The stand-in itself: the checks every case above relies on do report a
// misuse when there is one.
TEST(StandIn, ReportsADoubleReleaseAUseAfterReleaseAndObjectsNeverReleased) {
  TempDir dir(L"standin");
  const std::wstring log = tmtest::InstallStandIn(dir.path());
  HMODULE library = LoadLibraryW((dir / L"ovec\\gleanor.dll").c_str());
  ASSERT_NE(nullptr, library);
  auto exportFn = reinterpret_cast<tmn::GetExportInterfaceFn>(
      reinterpret_cast<void*>(GetProcAddress(library, tmn::kGetExportInterfaceName)));
  ASSERT_NE(nullptr, exportFn);
  auto* record = static_cast<tmn::ICollectRecord*>(exportFn(tmn::kCollectRecordId));
  auto* channel = static_cast<tmn::ICollectChannel*>(exportFn(tmn::kCollectChannelId));
  ASSERT_NE(nullptr, record);
  ASSERT_NE(nullptr, channel);
  EXPECT_EQ(nullptr, exportFn(L"no such id"));
  record->Release();
  record->AddInt(L"late", 1);
  record->Release();
  FreeLibrary(library);
  const Lines lines = tmtest::ReadLogLines(log);
  EXPECT_EQ((Lines{"ERROR use after release record#1 AddInt", "ERROR double release record#1"}),
            LinesStartingWith(lines, "ERROR"));
  EXPECT_EQ((Lines{"object record#1 releases=2 defers=0", "object channel#2 releases=0 defers=0"}),
            LinesStartingWith(lines, "object"));
  EXPECT_EQ(Lines{"summary objects=2 released=0 errors=2"}, LinesStartingWith(lines, "summary"));
}

// ---- where the library is found ----

class LibrarySearch : public ::testing::Test {
 protected:
  std::wstring Loaded(const std::wstring& host) {
    tmn::PassedOverLibrary passedOver;
    HMODULE module = tmn::LoadCollectLibraryFrom(MakeWide(host), &passedOver);
    const std::wstring path = module != nullptr ? LoadedPath(module) : L"(none)";
    if (module != nullptr) FreeLibrary(module);
    return path;
  }
  TempDir dir_{L"search"};
  const std::wstring host_ = dir_ / L"host";
  const std::wstring install_ = dir_ / L"install";
  tmtest::CleanProductKey clean_;
  void SetUp() override {
    CreateDirectoryW(host_.c_str(), nullptr);
    CreateDirectoryW(install_.c_str(), nullptr);
  }
};

TEST_F(LibrarySearch, TheHostFolderComesBeforeTheInstallFolder) {
  tmtest::InstallStandIn(host_);
  tmtest::InstallStandIn(install_);
  SetMachineText(kProductKey, L"Install Path", install_);
  EXPECT_EQ(host_ + L"\\ovec\\gleanor.dll", Loaded(host_ + L"\\"));
  EXPECT_EQ(install_ + L"\\ovec\\gleanor.dll", Loaded(L""));
  DeleteFileW((host_ + L"\\ovec\\gleanor.dll").c_str());
  EXPECT_EQ(install_ + L"\\ovec\\gleanor.dll", Loaded(host_ + L"\\"));
}

TEST_F(LibrarySearch, TheInstallFolderIsUsedWithOrWithoutItsSeparator) {
  tmtest::InstallStandIn(install_);
  for (const std::wstring& path : {install_, install_ + L"\\", install_ + L"/"}) {
    SetMachineText(kProductKey, L"Install Path", path);
    EXPECT_EQ(install_ + L"\\ovec\\gleanor.dll", Loaded(host_ + L"\\")) << tmtest::Narrow(path);
  }
}

// Nothing is looked for by a relative name or path: the system would look
// in the current folder and along PATH, which users may write.
TEST_F(LibrarySearch, WithNeitherFolderNothingIsLoadedFromTheCurrentFolder) {
  tmtest::InstallStandIn(dir_.path());
  CreateDirectoryW((dir_ / L"relative").c_str(), nullptr);
  tmtest::InstallStandIn(dir_ / L"relative");
  tmtest::CurrentFolder standing(dir_.path());
  const struct {
    const wchar_t* what;
    DWORD type;
    std::wstring data;
  } cases[] = {
      {L"no value", REG_NONE, L""},  // the first: the key is clean
      {L"a one-character folder", REG_SZ, L"C"},
      {L"a value of another type", REG_EXPAND_SZ, install_},
      {L"a relative folder", REG_SZ, L"relative"},
  };
  for (const auto& c : cases) {
    if (c.type != REG_NONE) SetMachineText(kProductKey, L"Install Path", c.data, c.type);
    EXPECT_EQ(L"(none)", Loaded(host_ + L"\\")) << tmtest::Narrow(c.what);
  }
}

// An uninstaller's copy runs in the temporary folder: no library is looked
// for beside it.
TEST(IsInTemporaryFolder, IsTheTemporaryFolderAndWhatLiesBelowIt) {
  TempDir below(L"temporary");
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  const std::wstring folder = std::wstring(temporary).substr(0, wcslen(temporary) - 1);
  EXPECT_TRUE(tmn::IsInTemporaryFolder(MakeWide(folder)));
  EXPECT_TRUE(tmn::IsInTemporaryFolder(MakeWide(below.path())));
  EXPECT_FALSE(tmn::IsInTemporaryFolder(MakeWide(folder + L"x")));
  EXPECT_FALSE(tmn::IsInTemporaryFolder(MakeWide(tmtest::TestBinDir())));
}

TEST(HexToBytes, DecodesPairsOfDigitsInEitherCase) {
  uint8_t bytes[12];
  memset(bytes, 0xbd, sizeof(bytes));
  ASSERT_TRUE(tmn::HexToBytes(L"0A1b", bytes, 2));
  EXPECT_EQ(0x0A, bytes[0]);
  EXPECT_EQ(0x1B, bytes[1]);
  EXPECT_EQ(0xbd, bytes[2]);
  ASSERT_TRUE(tmn::HexToBytes(L"0123456789abcdefABCDEF", bytes, 11));
  const uint8_t all[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(0, memcmp(all, bytes, sizeof(all)));
  EXPECT_TRUE(tmn::HexToBytes(L"", bytes, 0));
}

TEST(HexToBytes, RefusesOddLengthsTooManyPairsAndOtherCharacters) {
  uint8_t bytes[4];
  memset(bytes, 0xbd, sizeof(bytes));
  EXPECT_FALSE(tmn::HexToBytes(L"0A1", bytes, 4));
  EXPECT_FALSE(tmn::HexToBytes(L"0A1B2C", bytes, 2));
  EXPECT_EQ(0xbd, bytes[0]);  // refused before writing
  EXPECT_FALSE(tmn::HexToBytes(L"0G", bytes, 4));
  EXPECT_FALSE(tmn::HexToBytes(L"0A 1", bytes, 4));
  EXPECT_FALSE(tmn::HexToBytes(L"0AxB", bytes, 4));
  EXPECT_EQ(0x0A, bytes[0]);  // what came before the bad pair stays written
  EXPECT_EQ(0xbd, bytes[1]);
}

}  // namespace
