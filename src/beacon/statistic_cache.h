// The offline cache: requests that could not be delivered are inserted into
// the table statistic3 of "feed.cache" in the data folder, through the
// product's database library, tarnbase.dll. Rows are only ever added; this
// module never reads, re-sends or deletes them. A machine-wide mutex keeps
// processes from writing the cache at the same time.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/unique.h"
#include "base/wide_string.h"
#include "beacon/cache_interfaces.h"

namespace tmn {

constexpr wchar_t kCacheMutexName[] = L"Global\\{7BDE6A0F-C5BC-4579-BA89-9262EA1A9856}";
constexpr wchar_t kDatabaseLibraryName[] = L"tarnbase.dll";
constexpr wchar_t kCacheFileName[] = L"feed.cache";
// Where a cache the library refuses is moved aside, replacing an older one.
constexpr wchar_t kRefusedCacheSuffix[] = L".bad";
// How long a store waits for another process's store to end. A process
// that hangs while it holds the mutex must not hold the installer too.
constexpr DWORD kCacheLockWaitMs = 2000;
constexpr wchar_t kCacheTableName[] = L"statistic3";
constexpr wchar_t kCreateCacheTable[] =
    L"CREATE TABLE statistic3(CommitTime integer,ID integer,URL varchar,RefererURL varchar,PRIMARY KEY( ID ))";
// Parameter 2, the ID, is left to the library.
constexpr wchar_t kInsertCacheRow[] =
    L"INSERT OR IGNORE INTO statistic3 ( CommitTime, ID, URL, RefererURL ) values(?,?,?,?)";

// Looks for the library beside the host executable, then in the folder
// above it. folder receives the first place (the executable's folder, with
// blanks around the path trimmed), library the file found; E_FAIL when the
// library is in neither place. A library built for another machine than
// this process's counts as missing; the first such file is named in
// otherMachine, when given.
HRESULT FindDatabaseLibrary(const WideString& hostPath, WideString* folder, WideString* library,
                            WideString* otherMachine = nullptr);

class StatisticCache {
 public:
  // The process's cache: the library is looked for from the host
  // executable's path and the file kept in the data folder. The mutex is
  // opened, or made, at once.
  StatisticCache() : StatisticCache(nullptr, nullptr) {}
  // A cache that looks for the library from hostPath and keeps its file in
  // dataFolder instead; null keeps the process's own. Tests of the mutex
  // itself name another one, as the process's own cache holds the real one.
  StatisticCache(const wchar_t* hostPath, const wchar_t* dataFolder, const wchar_t* mutexName = kCacheMutexName);
  ~StatisticCache();
  StatisticCache(const StatisticCache&) = delete;
  StatisticCache& operator=(const StatisticCache&) = delete;

  // Stores one request under the mutex and closes the database again; the
  // library stays loaded. An empty URL stores nothing and gives S_OK. A
  // mutex not had within lockWaitMs fails the store with
  // HRESULT_FROM_WIN32(ERROR_TIMEOUT); one left by a process that ended
  // while holding it is taken. When the library has let the file go, the
  // file at its name must still be the cache itself, not a link.
  HRESULT SaveRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime,
                      DWORD lockWaitMs = kCacheLockWaitMs);

  // The steps of a store, each returning its result code.
  HRESULT LoadDatabaseLibrary();  // S_FALSE when already loaded
  HRESULT CreateDatabaseObject(ICacheDatabase** database);
  HRESULT OpenCache();
  HRESULT InsertRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime);

  HANDLE cacheMutex() const { return cacheMutex_.get(); }
  const WideString& libraryFolder() const { return libraryFolder_; }
  const WideString& libraryPath() const { return libraryPath_; }
  // The library the last search skipped as built for another machine, when
  // no library could be loaded; empty otherwise.
  const WideString& otherMachineLibrary() const { return otherMachineLibrary_; }
  bool IsDatabaseOpen() const { return database_ != nullptr; }

 private:
  void ReleaseDatabase();

  CacheFactory factory_ = nullptr;
  WideString libraryFolder_;
  WideString libraryPath_;
  WideString otherMachineLibrary_;
  UniqueModule databaseLibrary_;
  ICacheDatabase* database_ = nullptr;
  UniqueHandle cacheMutex_;
  WideString hostPath_;    // empty: the host executable's
  WideString dataFolder_;  // empty: the data folder
  WideString cachePath_;   // the file the last store opened; checked once it is let go
};

}  // namespace tmn
