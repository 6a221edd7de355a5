#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <shlobj.h>

#include "base/this_module.h"
#include "base/unique.h"
#include "beacon/report_test_support.h"
#include "beacon/statistic_cache.h"
#include "beacon/statistic_store.h"
#include "report/process_objects.h"
#include "support/file_system_recorder.h"
#include "support/test_support.h"

#ifdef TM_HAVE_TARNBASE
#include "sqlite3.h"
#endif

using tmtest::FileSystemRecorder;
using tmtest::TempDir;

namespace {

// The kept requests waiting beside the cache in folder.
size_t KeptFiles(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\feed.cache.*.row").c_str(), &found);
  size_t count = find != INVALID_HANDLE_VALUE ? 1 : 0;
  while (count > 0 && FindNextFileW(find, &found)) ++count;
  if (count > 0) FindClose(find);
  return count;
}

std::wstring Found(HRESULT result, const tmn::WideString& text) {
  return FAILED(result) ? L"failed" : tmtest::Text(text);
}

TEST(FindDatabaseLibrary, LooksBesideTheHostThenInTheFolderAbove) {
  TempDir dir(L"cachelib");
  const std::wstring app = dir / L"app";
  ASSERT_TRUE(CreateDirectoryW(app.c_str(), nullptr));
  const tmn::WideString host = tmtest::MakeWide(app);
  tmn::WideString library = tmtest::MakeWide(L"junk");
  tmn::PassedOverLibrary passedOver;

  EXPECT_EQ(E_FAIL, tmn::FindDatabaseLibrary(host, &library, &passedOver));
  EXPECT_EQ(L"junk", tmtest::Text(library));

  // A folder of that name is no library.
  ASSERT_TRUE(CreateDirectoryW((app + L"\\tarnbase.dll").c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"tarnbase.dll", "above"));
  HRESULT result = tmn::FindDatabaseLibrary(host, &library, &passedOver);
  EXPECT_EQ(dir / L"tarnbase.dll", Found(result, library));

  ASSERT_TRUE(RemoveDirectoryW((app + L"\\tarnbase.dll").c_str()));
  ASSERT_TRUE(tmtest::WriteFileText(app + L"\\tarnbase.dll", "beside"));
  result = tmn::FindDatabaseLibrary(host, &library, &passedOver);
  EXPECT_EQ(app + L"\\tarnbase.dll", Found(result, library));
  EXPECT_TRUE(passedOver.path.IsEmpty());

  // Beside a host whose folder every user may write, it counts as missing.
  ASSERT_TRUE(tmtest::GrantEveryoneFullAccess(app));
  result = tmn::FindDatabaseLibrary(host, &library, &passedOver);
  EXPECT_EQ(dir / L"tarnbase.dll", Found(result, library));
  EXPECT_EQ(app + L"\\tarnbase.dll", tmtest::Text(passedOver.path));
  EXPECT_EQ(tmn::kLibraryNotSystemOwn, passedOver.why);
}

TEST(FindDatabaseLibrary, StopsAtTheTopOfTheDrive) {
  // The host's folder is the root of a drive: there is no folder above it,
  // and nothing may be taken from the root in its place.
  const tmn::WideString host = tmtest::MakeWide(L"Q:\\");
  tmn::WideString library = tmtest::MakeWide(L"junk");
  tmn::PassedOverLibrary passedOver;
  EXPECT_EQ(E_FAIL, tmn::FindDatabaseLibrary(host, &library, &passedOver));
  EXPECT_EQ(L"junk", tmtest::Text(library));
}

// A store as a report makes it: the request kept, then stored, folding in
// what earlier calls kept, with what else the store did in notes.
HRESULT Save(tmn::StatisticCache& cache, const wchar_t* url, const wchar_t* referer, int64_t time,
             DWORD lockWaitMs = 2000, tmn::StoreNotes* notes = nullptr, DWORD foldMs = 2000) {
  tmn::HeldKeptRequest kept;
  cache.KeepRequest(url, referer, time, &kept);
  tmn::StoreNotes ignored;
  return cache.StoreRequest(url, referer, time, &kept, lockWaitMs, tmn::Deadline(lockWaitMs + foldMs),
                            notes != nullptr ? notes : &ignored);
}

// The same, and its lines in log.
HRESULT SaveAndLog(tmn::StatisticCache& cache, tmn::StatisticLogWriter& log, const wchar_t* url,
                   const wchar_t* referer, int64_t time) {
  tmn::HeldKeptRequest kept;
  cache.KeepRequest(url, referer, time, &kept);
  return tmn::StoreKeptRequest(cache, log, url, referer, time, &kept, 2000, tmn::Deadline(4000));
}

// The process-wide cache of this test program holds the real mutex from
// start to end: the tests of the mutex's own life use one of their own.
const std::wstring kTestMutexName = L"Global\\tmtest-cache-mutex-" + std::to_wstring(GetCurrentProcessId());

// Whether another thread can take the cache's mutex right now.
bool CacheMutexIsFree(const wchar_t* name = tmn::kCacheMutexName) {
  bool free = false;
  std::thread([&free, name] {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
    if (mutex == nullptr) return;
    const DWORD wait = WaitForSingleObject(mutex, 0);
    free = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (free) ReleaseMutex(mutex);
    CloseHandle(mutex);
  }).join();
  return free;
}

TEST(StatisticCache, OpensOrMakesTheMachineWideMutexAtOnceAndClosesIt) {
  const wchar_t* name = kTestMutexName.c_str();
  ASSERT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, name));
  {
    // The first makes it, the second opens it.
    tmn::StatisticCache first(nullptr, nullptr, name);
    tmn::UniqueHandle seen(OpenMutexW(SYNCHRONIZE, FALSE, name));
    EXPECT_TRUE(seen);
    tmn::StatisticCache second(nullptr, nullptr, name);
    seen.reset();
    EXPECT_TRUE(CacheMutexIsFree(name));  // the second holds it open, free
  }
  EXPECT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, name));
  // The process's own cache has the real one, from the moment it loaded.
  tmn::UniqueHandle own(OpenMutexW(SYNCHRONIZE, FALSE, tmn::kCacheMutexName));
  EXPECT_TRUE(own);
  EXPECT_TRUE(CacheMutexIsFree());
}

TEST(StatisticCache, TheMutexItMakesEveryoneMayWaitForAndOnlyTheSystemAndAdministratorsChange) {
  tmn::StatisticCache made(nullptr, nullptr, kTestMutexName.c_str());
  tmn::UniqueHandle mutex(OpenMutexW(READ_CONTROL, FALSE, kTestMutexName.c_str()));
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT,
                                                                DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                                                nullptr, &descriptor));
  ASSERT_NE(nullptr, dacl) << "no access list: everyone may do anything";
  const std::vector<tmtest::AceRecord> expected = {
      {ACCESS_ALLOWED_ACE_TYPE, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE, tmtest::kEveryone},
      {ACCESS_ALLOWED_ACE_TYPE, 0, MUTEX_ALL_ACCESS, tmtest::kSystem},
      {ACCESS_ALLOWED_ACE_TYPE, 0, MUTEX_ALL_ACCESS, tmtest::kAdministrators}};
  EXPECT_EQ(tmtest::Describe(expected), tmtest::Describe(tmtest::AcesOf(dacl)));
  LocalFree(descriptor);
}

TEST(StatisticCache, WithoutTheMutexNothingIsStoredAndTheRequestStaysKept) {
  // The name taken by another kind of object: the mutex can be neither
  // opened nor made.
  TempDir dir(L"cache");
  tmn::UniqueHandle squatter(CreateEventW(nullptr, TRUE, FALSE, kTestMutexName.c_str()));
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"tarnbase.dll", "x"));
  tmn::StatisticCache cache(dir.path().c_str(), (dir / L"data").c_str(), kTestMutexName.c_str());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), Save(cache, L"http://h/1", L"http://r/", 1));
  EXPECT_EQ(1u, KeptFiles(dir / L"data"));
}

TEST(StatisticCache, EveryCacheThatMakesTheMutexAtTheSameTimeKeepsIt) {
  // Caches built at the same moment race to make the mutex; the losers are
  // handed the winner's mutex and must keep it, or they would store without.
  constexpr int kCaches = 8, kRounds = 100;
  TempDir dir(L"mutexrace");
  const std::wstring data = dir / L"data";
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, kTestMutexName.c_str())) << round;
    std::vector<std::unique_ptr<tmn::StatisticCache>> caches(kCaches);
    std::atomic<int> waiting{kCaches};
    std::vector<std::thread> builders;
    for (int i = 0; i < kCaches; ++i) {
      builders.emplace_back([&caches, &waiting, &data, i] {
        --waiting;
        while (waiting > 0) std::this_thread::yield();
        caches[i] = std::make_unique<tmn::StatisticCache>(nullptr, data.c_str(), kTestMutexName.c_str());
      });
    }
    for (std::thread& builder : builders) builder.join();
    // A cache without the mutex refuses every store.
    tmn::StoreNotes notes;
    for (int i = 0; i < kCaches; ++i)
      ASSERT_EQ(S_OK, caches[i]->FoldKeptRequests(0, tmn::Deadline(0), &notes)) << "round " << round << ", cache " << i;
  }
}

TEST(StatisticCache, AnEmptyUrlIsNeitherStoredNorLogged) {
  TempDir dir(L"cache");
  const std::wstring data = dir / L"data";
  tmn::StatisticCache cache(dir.path().c_str(), data.c_str());
  EXPECT_EQ(S_OK, Save(cache, L"", L"R", 1));
  EXPECT_EQ(S_OK, Save(cache, nullptr, L"R", 1));
  EXPECT_FALSE(tmtest::FileExists(data));
  EXPECT_TRUE(CacheMutexIsFree());

  tmn::StatisticLogWriter log(dir.path().c_str());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_ARGUMENTS), SaveAndLog(cache, log, L"", L"R", 1));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_ARGUMENTS), SaveAndLog(cache, log, nullptr, L"R", 1));
  EXPECT_FALSE(tmtest::FileExists(data));
  WIN32_FIND_DATAW found;
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW((dir / L"*_statistic.log").c_str(), &found));
}

TEST(StatisticCache, ADataFolderThatCannotBeMadeFailsBeforeTheLibraryIsLoaded) {
  TempDir dir(L"cache");
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"file", "x"));
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"tarnbase.dll", "x"));
  tmn::StatisticCache cache(dir.path().c_str(), (dir / L"file\\Tolmen\\Lumbra").c_str());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), Save(cache, L"U", L"R", 1));
  EXPECT_EQ("x", tmtest::ReadFileBytes(dir / L"file"));
}

TEST(StatisticCache, ACacheFileWithASecondNameIsNeitherOpenedToEveryoneNorDeleted) {
  TempDir dir(L"cache");
  const std::wstring data = dir / L"data", other = dir / L"other.txt";
  ASSERT_TRUE(CreateDirectoryW(data.c_str(), nullptr));
  const std::string junk(3000, 'j');
  ASSERT_TRUE(tmtest::WriteFileText(other, junk));
  ASSERT_TRUE(CreateHardLinkW((data + L"\\feed.cache").c_str(), other.c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"tarnbase.dll", "x"));
  FileSystemRecorder recorder;
  tmn::StatisticCache cache(dir.path().c_str(), data.c_str());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANT_ACCESS_FILE), Save(cache, L"U", L"R", 1));
  EXPECT_EQ(junk, tmtest::ReadFileBytes(other));
  EXPECT_EQ(junk, tmtest::ReadFileBytes(data + L"\\feed.cache"));
  // Only the folder's access was rewritten; nothing was deleted.
  const std::vector<tmtest::SecurityWrite> writes = recorder.Writes();
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ(data, writes[0].path);
  for (const std::wstring& call : recorder.Calls())
    EXPECT_NE(0u, call.rfind(L"delete ", 0)) << tmtest::Narrow(call);
}

#ifdef TM_HAVE_TARNBASE

struct CacheRow {
  int64_t commitTime;
  int64_t id;
  std::wstring url;
  std::wstring referer;
};

std::wstring ColumnText(sqlite3_stmt* query, int column) {
  const void* text = sqlite3_column_text16(query, column);
  return text == nullptr ? L"(null)" : static_cast<const wchar_t*>(text);
}

// The cache file as SQLite itself reads it: its rows, the statement of its
// table, and the integrity check's answer.
struct CacheFile {
  std::vector<CacheRow> rows;
  std::wstring schema;
  std::wstring integrity;
};

CacheFile ReadCacheFile(const std::wstring& path) {
  CacheFile file;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(tmtest::Narrow(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    file.integrity = L"cannot open";
    return file;
  }
  sqlite3_stmt* query = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &query, nullptr) == SQLITE_OK &&
      sqlite3_step(query) == SQLITE_ROW)
    file.integrity = ColumnText(query, 0);
  sqlite3_finalize(query);
  if (sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE name = 'statistic3'", -1, &query, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(query) == SQLITE_ROW)
    file.schema = ColumnText(query, 0);
  sqlite3_finalize(query);
  if (sqlite3_prepare_v2(db, "SELECT CommitTime, ID, URL, RefererURL FROM statistic3 ORDER BY ID", -1, &query,
                         nullptr) == SQLITE_OK) {
    while (sqlite3_step(query) == SQLITE_ROW)
      file.rows.push_back({sqlite3_column_int64(query, 0), sqlite3_column_int64(query, 1), ColumnText(query, 2),
                           ColumnText(query, 3)});
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return file;
}

std::wstring Describe(const std::vector<CacheRow>& rows) {
  std::wstring text;
  for (const CacheRow& r : rows)
    text += L"(" + std::to_wstring(r.commitTime) + L"," + std::to_wstring(r.id) + L"," + r.url + L"," +
            r.referer + L")";
  return text;
}

// Whether a program holds the file open: an open without sharing fails then.
bool IsHeldOpen(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return false;
}

// What the stand-in library is told to refuse, for the life of the object.
class LibraryFailures {
 public:
  explicit LibraryFailures(const wchar_t* failures) { SetEnvironmentVariableW(L"TM_TARNBASE_FAIL", failures); }
  ~LibraryFailures() { SetEnvironmentVariableW(L"TM_TARNBASE_FAIL", nullptr); }
};

std::wstring StandInPath() { return tmtest::TestBinDir() + L"\\..\\..\\standins\\tarnbase.dll"; }

// A host executable's folder with the library beside it, and a data folder
// that does not exist yet.
class CacheStoreTest : public ::testing::Test {
 protected:
  CacheStoreTest() {
    CreateDirectoryW(host_.c_str(), nullptr);
    CopyFileW(StandInPath().c_str(), library_.c_str(), FALSE);
  }
  void SetUp() override { ASSERT_TRUE(tmtest::FileExists(library_)) << "no stand-in at " << StandInPath(); }

  TempDir dir_{L"cache"};
  const std::wstring app_ = dir_ / L"app";
  const std::wstring host_ = app_;  // the host executable's folder
  const std::wstring library_ = app_ + L"\\tarnbase.dll";
  const std::wstring data_ = dir_ / L"data\\Tolmen\\Lumbra";
  const std::wstring file_ = data_ + L"\\feed.cache";
};

TEST_F(CacheStoreTest, TheFirstStoreMakesTheFolderTheFileAndTheTableOpenToEveryone) {
  FileSystemRecorder recorder;
  {
    tmn::StatisticCache cache(host_.c_str(), data_.c_str());
    const std::wstring url = L"http://h/2813985/tongji.gif?a=b&c=d %\u00e9";
    EXPECT_EQ(S_OK, Save(cache, url.c_str(), L"http://r/install/1.0", 1700000000));
    EXPECT_EQ(S_OK, Save(cache, L"http://h/2", L"http://r/2", -1));

    const CacheFile file = ReadCacheFile(file_);
    EXPECT_EQ(L"ok", file.integrity);
    EXPECT_EQ(std::wstring(tmn::kCreateCacheTable), file.schema);
    EXPECT_EQ(Describe({{1700000000, 1, url, L"http://r/install/1.0"}, {-1, 2, L"http://h/2", L"http://r/2"}}),
              Describe(file.rows));

    // The file is open only during a store; the library stays loaded.
    EXPECT_FALSE(IsHeldOpen(file_));
    EXPECT_TRUE(CacheMutexIsFree());
    EXPECT_NE(nullptr, GetModuleHandleW(library_.c_str()));
  }
  EXPECT_EQ(nullptr, GetModuleHandleW(library_.c_str()));

  const std::vector<tmtest::SecurityWrite> writes = recorder.Writes();
  ASSERT_EQ(4u, writes.size());  // both stores, folder then file
  for (size_t i = 0; i < writes.size(); ++i) {
    const bool folder = i % 2 == 0;
    EXPECT_EQ(folder ? data_ : file_, writes[i].path) << i;
    EXPECT_EQ(static_cast<DWORD>(DACL_SECURITY_INFORMATION), writes[i].info) << i;
    ASSERT_EQ(1u, writes[i].dacl.size()) << i;
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, writes[i].dacl[0].type);
    EXPECT_EQ(folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0, writes[i].dacl[0].flags) << i;
    EXPECT_EQ(static_cast<DWORD>(GENERIC_ALL), writes[i].dacl[0].mask);
    EXPECT_EQ(tmtest::kEveryone, writes[i].dacl[0].sid);
  }
}

// A cache the library refuses goes to the first free numbered name, never
// over an older one; with every name taken it stays, and so does the row.
TEST_F(CacheStoreTest, ARefusedCacheIsMovedToTheFirstFreeNameAndNeverOverAnother) {
  const std::string junk(4096, 'g');
  for (const unsigned taken : {0u, 2u, tmn::kRefusedCacheNames}) {  // names used by earlier refusals
    TempDir dir(L"refused");
    const std::wstring data = dir / L"data", file = data + L"\\feed.cache";
    ASSERT_EQ(0, SHCreateDirectoryExW(nullptr, data.c_str(), nullptr));
    ASSERT_TRUE(tmtest::WriteFileText(file, junk));
    // feed.cache.bad, feed.cache.bad.2, ...
    const auto nameOf = [&file](unsigned n) { return file + L".bad" + (n > 1 ? L"." + std::to_wstring(n) : L""); };
    for (unsigned n = 1; n <= taken; ++n) ASSERT_TRUE(tmtest::WriteFileText(nameOf(n), std::to_string(n)));
    tmn::StatisticCache cache(host_.c_str(), data.c_str());
    const HRESULT result = Save(cache, L"http://h/1", L"http://r/", 5);
    for (unsigned n = 1; n <= taken; ++n) EXPECT_EQ(std::to_string(n), tmtest::ReadFileBytes(nameOf(n)));
    const bool moved = taken < tmn::kRefusedCacheNames;
    EXPECT_EQ(moved, SUCCEEDED(result)) << taken;
    EXPECT_EQ(junk, tmtest::ReadFileBytes(moved ? nameOf(taken + 1) : file)) << taken;
    EXPECT_EQ(moved ? 1u : 0u, ReadCacheFile(file).rows.size()) << taken;
    EXPECT_EQ(moved ? 0u : 1u, KeptFiles(data)) << taken;  // the row waits for a later store
  }
}

TEST_F(CacheStoreTest, AStoreWaitsForTheMutexOnlySoLongAndTakesOneLeftByAnEndedHolder) {
  const wchar_t* name = kTestMutexName.c_str();
  tmn::StatisticCache cache(host_.c_str(), data_.c_str(), name);
  tmn::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name)),
      ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.get(), 0));
  HRESULT held = S_OK;
  std::thread store([&] { held = Save(cache, L"http://h/1", L"http://r/", 1, 200); SetEvent(ended.get()); });
  WaitForSingleObject(ended.get(), 10000);  // a store that waited without limit ends stored
  ReleaseMutex(mutex.get());
  store.join();
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), held);
  EXPECT_FALSE(tmtest::FileExists(file_));
  EXPECT_EQ(1u, KeptFiles(data_));  // for the next store

  std::thread([&mutex] { WaitForSingleObject(mutex.get(), INFINITE); }).join();  // ends holding it
  EXPECT_EQ(S_OK, Save(cache, L"http://h/2", L"http://r/", 2, 200));
  EXPECT_TRUE(CacheMutexIsFree(name));
  EXPECT_EQ(2u, ReadCacheFile(file_).rows.size());
  EXPECT_EQ(0u, KeptFiles(data_));
}

std::vector<std::wstring> FoldedUrls(const tmn::StoreNotes& notes) {
  std::vector<std::wstring> urls;
  for (const tmn::KeptEntry& entry : notes.folded) urls.push_back(tmtest::Text(entry.url));
  return urls;
}

// Files any user may put beside the cache under kept requests' names never
// take their place: each is moved aside once, whole, and looked at no more.
TEST_F(CacheStoreTest, AStoreFoldsInWhatEarlierCallsKeptPastFilesThatHoldNone) {
  tmn::StatisticCache cache(host_.c_str(), data_.c_str());
  tmn::HeldKeptRequest earlier, held;
  ASSERT_EQ(S_OK, cache.KeepRequest(L"http://h/held", L"http://r/", 2, &held));
  constexpr int kJunk = 100;  // more than a batch, fewer than the names a store looks at
  for (int i = 0; i < kJunk; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"\\feed.cache.%04d.row", i);
    ASSERT_TRUE(tmtest::WriteFileText(data_ + name, "junk " + std::to_string(i)));
  }
  ASSERT_EQ(S_OK, cache.KeepRequest(L"http://h/earlier", L"http://r/", 1, &earlier));
  earlier.Close();  // its call has ended
  tmn::StoreNotes notes;
  EXPECT_EQ(S_OK, Save(cache, L"http://h/own", L"http://r/", 3, 200, &notes, 30000));
  EXPECT_EQ(std::vector<std::wstring>{L"http://h/earlier"}, FoldedUrls(notes));
  EXPECT_EQ(Describe({{3, 1, L"http://h/own", L"http://r/"}, {1, 2, L"http://h/earlier", L"http://r/"}}),
            Describe(ReadCacheFile(file_).rows));
  EXPECT_EQ(static_cast<size_t>(kJunk), notes.refusedFiles.Size());
  EXPECT_EQ(1u, KeptFiles(data_));  // the one its writer still holds
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((data_ + L"\\feed.cache.0007.row.*.refused").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  FindClose(find);
  EXPECT_EQ("junk 7", tmtest::ReadFileBytes(data_ + L"\\" + found.cFileName));

  held.Close();
  tmn::StoreNotes next;
  EXPECT_EQ(S_OK, cache.FoldKeptRequests(200, tmn::Deadline(2000), &next));
  EXPECT_EQ(std::vector<std::wstring>{L"http://h/held"}, FoldedUrls(next));
  EXPECT_EQ(0u, next.refusedFiles.Size());
  EXPECT_EQ(0u, KeptFiles(data_));
}

// Whether the test's mutex was free at each write to the log.
std::vector<int>* g_mutexFreeAtWrite = nullptr;
BOOL WINAPI WriteNotingTheMutex(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED place) {
  g_mutexFreeAtWrite->push_back(CacheMutexIsFree(kTestMutexName.c_str()) ? 1 : 0);
  return WriteFile(file, data, bytes, written, place);
}

std::vector<std::wstring> LoggedRecords(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*_statistic.log").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return {};
  FindClose(find);
  std::vector<std::wstring> records;
  for (const std::wstring& line : tmtest::ReadLog(folder + L"\\" + found.cFileName).lines)
    records.push_back(tmtest::RecordOfLine(line));
  return records;
}

// Other installers' stores wait for the mutex: no line is written while
// it is held, and the files moved aside share one line.
TEST_F(CacheStoreTest, ItsLinesAreWrittenOnceTheMutexIsLetGo) {
  tmn::StatisticCache cache(host_.c_str(), data_.c_str(), kTestMutexName.c_str());
  for (int i = 1; i <= 2; ++i) {
    tmn::HeldKeptRequest earlier;
    ASSERT_EQ(S_OK, cache.KeepRequest((L"http://h/e" + std::to_wstring(i)).c_str(), L"http://r/", i, &earlier));
  }
  for (const wchar_t* junk : {L"\\feed.cache.a.row", L"\\feed.cache.b.row"})
    ASSERT_TRUE(tmtest::WriteFileText(data_ + junk, "junk"));
  std::vector<int> free;
  g_mutexFreeAtWrite = &free;
  tmn::g_logWrite = WriteNotingTheMutex;
  tmn::StatisticLogWriter log(dir_.path().c_str());
  const HRESULT stored = SaveAndLog(cache, log, L"http://h/own", L"http://r/", 3);
  tmn::g_logWrite = WriteFile;
  EXPECT_EQ(S_OK, stored);
  EXPECT_EQ(std::vector<int>(free.size(), 1), free);
  std::vector<std::wstring> records = LoggedRecords(dir_.path());
  ASSERT_EQ(4u, records.size()) << tmtest::Narrow(records.empty() ? L"" : records[0]);
  EXPECT_EQ(L"[INFO.SaveStatistic] url:http://h/own, refer_url:http://r/, time:3, count:1", records[0]);
  const std::wstring one = data_ + L"\\feed.cache.a.row", other = data_ + L"\\feed.cache.b.row";
  EXPECT_TRUE(records[1] == L"[ERROR.KeptRequest] files:" + one + L"|" + other + L", count:2, err:0x8007000d" ||
              records[1] == L"[ERROR.KeptRequest] files:" + other + L"|" + one + L", count:2, err:0x8007000d")
      << tmtest::Narrow(records[1]);
  std::sort(records.begin() + 2, records.end());
  EXPECT_EQ(L"[INFO.SaveStatistic] url:http://h/e1, refer_url:http://r/, time:1, count:1", records[2]);
  EXPECT_EQ(L"[INFO.SaveStatistic] url:http://h/e2, refer_url:http://r/, time:2, count:1", records[3]);
}

TEST_F(CacheStoreTest, RefusedAccessWritesDoNotStopTheStore) {
  FileSystemRecorder recorder;
  recorder.writeStatus = [](DWORD) { return static_cast<DWORD>(ERROR_ACCESS_DENIED); };
  tmn::StatisticCache cache(host_.c_str(), data_.c_str());
  EXPECT_EQ(S_OK, Save(cache, L"http://h/1", L"http://r/", 5));
  recorder.readStatus = [](const std::wstring&) { return static_cast<DWORD>(ERROR_ACCESS_DENIED); };
  EXPECT_EQ(S_OK, Save(cache, L"http://h/2", L"http://r/", 6));
  EXPECT_EQ(2u, ReadCacheFile(file_).rows.size());
}

TEST_F(CacheStoreTest, EachStoreIsLoggedWithItsTagAndCode) {
  struct Case {
    const wchar_t* what;
    const wchar_t* failures;
    const wchar_t* library;  // copied in as tarnbase.dll; null: none
    HRESULT expected;
    bool tableMade = false;  // the cache exists with its table: no CREATE TABLE
  };
  const std::wstring standIn = StandInPath(), plugin = tmtest::PluginDllPath();
  const Case cases[] = {
      {L"no library", L"", nullptr, E_FAIL},
      {L"no factory", L"", plugin.c_str(), E_FAIL},
      {L"factory fails", L"create", standIn.c_str(), E_FAIL},
      {L"factory gives no object", L"create-empty", standIn.c_str(), E_FAIL},
      {L"open refused once", L"open-once", standIn.c_str(), S_OK},
      {L"open refused twice", L"open", standIn.c_str(), static_cast<HRESULT>(0x8004010E)},
      {L"prepare fails", L"prepare", standIn.c_str(), static_cast<HRESULT>(0x80040101)},
      {L"prepare gives no table statement", L"prepare-empty", standIn.c_str(), E_UNEXPECTED},
      {L"prepare gives no insert statement", L"prepare-empty", standIn.c_str(), E_UNEXPECTED, true},
      {L"transaction refused", L"begin", standIn.c_str(), static_cast<HRESULT>(0x80040105)},
      {L"step fails", L"step", standIn.c_str(), static_cast<HRESULT>(0x8004010A)},
  };
  for (const Case& c : cases) {
    TempDir dir(L"cachecase");
    const std::wstring app = dir / L"app", library = app + L"\\tarnbase.dll", data = dir / L"data";
    ASSERT_TRUE(CreateDirectoryW(app.c_str(), nullptr));
    if (c.library != nullptr) {
      ASSERT_TRUE(CopyFileW(c.library, library.c_str(), FALSE));
    }
    {
      tmn::StatisticCache cache(app.c_str(), data.c_str());
      tmn::StatisticLogWriter log(dir.path().c_str());
      if (c.tableMade) { ASSERT_EQ(S_OK, Save(cache, L"http://h/0", L"", 1)) << c.what; }
      LibraryFailures failures(c.failures);
      EXPECT_EQ(c.expected, SaveAndLog(cache, log, L"http://h/p?q", L"http://r/", 1700000000))
          << c.what;
      EXPECT_TRUE(CacheMutexIsFree()) << c.what;
      EXPECT_EQ(c.library != nullptr, GetModuleHandleW(library.c_str()) != nullptr) << c.what;

      WIN32_FIND_DATAW found;
      HANDLE find = FindFirstFileW((dir / L"*_statistic.log").c_str(), &found);
      ASSERT_NE(INVALID_HANDLE_VALUE, find) << c.what;
      FindClose(find);
      const tmtest::LogContents contents = tmtest::ReadLog(dir / found.cFileName);
      ASSERT_EQ(1u, contents.lines.size()) << c.what;
      std::wstring expected = SUCCEEDED(c.expected) ? L"[INFO.SaveStatistic]" : L"[ERROR.SaveStatistic]";
      expected += L" url:http://h/p?q, refer_url:http://r/, time:1700000000, count:1";
      if (FAILED(c.expected)) {
        wchar_t code[16];
        swprintf(code, 16, L"%08lx", static_cast<unsigned long>(c.expected));
        expected += std::wstring(L", err:0x") + code;
      }
      EXPECT_EQ(expected, tmtest::RecordOfLine(contents.lines[0])) << c.what;
      if (tmtest::FileExists(data + L"\\feed.cache")) {
        EXPECT_FALSE(IsHeldOpen(data + L"\\feed.cache")) << c.what;
      }
    }
    if (SUCCEEDED(c.expected)) {
      EXPECT_EQ(1u, ReadCacheFile(data + L"\\feed.cache").rows.size()) << c.what;
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(library.c_str())) << c.what;
  }
}

TEST_F(CacheStoreTest, AtTheEndOfTheProcessTheLibraryIsLeftToTheSystem) {
  {
    tmn::StatisticCache cache(host_.c_str(), data_.c_str());
    ASSERT_EQ(S_OK, Save(cache, L"http://h/1", L"http://r/", 1));
    tmn::KeepProcessExiting(true);
  }
  tmn::KeepProcessExiting(false);
  HMODULE library = GetModuleHandleW(library_.c_str());
  EXPECT_NE(nullptr, library);
  FreeLibrary(library);  // what the end of the process does
  EXPECT_EQ(nullptr, GetModuleHandleW(library_.c_str()));
}

TEST_F(CacheStoreTest, ASecondNameGivenWhileTheLibraryHasTheFileFailsTheStore) {
  tmn::StatisticCache cache(host_.c_str(), data_.c_str());
  ASSERT_EQ(S_OK, Save(cache, L"http://h/1", L"http://r/", 1));
  sqlite3 *reader = nullptr, *prober = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open16(file_.c_str(), &reader));
  ASSERT_EQ(SQLITE_OK, sqlite3_open16(file_.c_str(), &prober));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM statistic3;", nullptr, nullptr, nullptr));
  // Once the store is in its transaction, past the checks made before the
  // library opened the file, the file gets a second name; then the reader
  // the commit waits for ends.
  std::thread linker([&] {
    for (int i = 0; i < 2000; ++i, Sleep(5))
      if (sqlite3_exec(prober, "BEGIN IMMEDIATE; ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_BUSY) break;
    CreateHardLinkW((dir_ / L"second").c_str(), file_.c_str(), nullptr);
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANT_ACCESS_FILE), Save(cache, L"http://h/2", L"http://r/", 2));
  linker.join();
  sqlite3_close(prober);
  sqlite3_close(reader);
  EXPECT_EQ(2u, ReadCacheFile(file_).rows.size());  // committed after the reader
}

#else

TEST(CacheStore, NeedsTheStandInLibrary) { GTEST_SKIP() << "tarnbase.dll was not built: " TM_TARNBASE_SKIPPED; }

#endif

}  // namespace
