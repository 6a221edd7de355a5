// The offline cache: requests that could not be delivered are inserted into
// the table statistic3 of "feed.cache" in the data folder, through the
// product's database library, tarnbase.dll. Rows are only ever added; this
// module never reads, re-sends or deletes them. A machine-wide mutex keeps
// processes and threads from writing the cache at the same time.
//
// A request is kept in a file of its own beside the cache before it is
// stored (kept_requests.h), and its file goes only once the cache has it.
// A store that cannot have the mutex in time, or cannot reach the cache,
// leaves the file; the next store folds it in.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/deadline.h"
#include "base/unique.h"
#include "base/wide_string.h"
#include "beacon/cache_interfaces.h"
#include "beacon/kept_requests.h"

namespace tmn {

constexpr wchar_t kCacheMutexName[] = L"Global\\{7BDE6A0F-C5BC-4579-BA89-9262EA1A9856}";
constexpr wchar_t kDatabaseLibraryName[] = L"tarnbase.dll";
constexpr wchar_t kCacheFileName[] = L"feed.cache";
// Where a cache the library refuses is moved aside: "<cache>.bad", then
// "<cache>.bad.2" and on, never over an older one.
constexpr wchar_t kRefusedCacheSuffix[] = L".bad";
constexpr unsigned kRefusedCacheNames = 100;
// How many requests kept by earlier calls one store folds in at most.
constexpr size_t kKeptRequestsPerStore = 16;
// How long a store waits for another process's store to end. A process
// that hangs while it holds the mutex must not hold the installer too.
constexpr DWORD kCacheLockWaitMs = 2000;
constexpr wchar_t kCacheTableName[] = L"statistic3";
constexpr wchar_t kCreateCacheTable[] =
    L"CREATE TABLE statistic3(CommitTime integer,ID integer,URL varchar,RefererURL varchar,PRIMARY KEY( ID ))";
// Parameter 2, the ID, is left to the library.
constexpr wchar_t kInsertCacheRow[] =
    L"INSERT OR IGNORE INTO statistic3 ( CommitTime, ID, URL, RefererURL ) values(?,?,?,?)";

// The name a refused cache is moved to, the number-th of them (from 1).
bool RefusedCacheName(const WideString& cache, unsigned number, WideString* name);

// The access of the cache's mutex: every user may wait for it and release
// it; only the system and the administrators may change it, so that a user
// who makes it first cannot lock the others out of it.
bool FillCacheMutexSecurity(SECURITY_DESCRIPTOR* descriptor, ACL* acl, DWORD aclBytes);
constexpr DWORD kCacheMutexAclBytes = 128;

// Told of what a store did besides its own row.
struct StoreNotes {
  // Each request of an earlier call that the store folded into the cache.
  void (*folded)(void* context, const wchar_t* url, const wchar_t* referer, int64_t requestTime) = nullptr;
  void* context = nullptr;
  // The library the search passed over as built for another machine, when
  // no library could be loaded; empty otherwise.
  WideString otherMachineLibrary;
};

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

  // Keeps the request in a file beside the cache, held in kept until the
  // request is stored or forgotten. Needs no lock and does not wait.
  HRESULT KeepRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime, HeldKeptRequest* kept);
  // Deletes a kept request that went out after all.
  void ForgetRequest(HeldKeptRequest* kept);

  // Stores one request under the mutex, deletes its kept file (when kept
  // holds one) once the cache has it, then folds in what earlier calls
  // kept, while foldUntil has time left, and closes the database again;
  // the library stays loaded. An empty URL stores nothing and gives S_OK.
  // A mutex not had within lockWaitMs fails the store with
  // HRESULT_FROM_WIN32(ERROR_TIMEOUT), and one that could neither be opened
  // nor made with the error of that; one left by a process that ended while
  // holding it is taken. When the library has let the file go, the file at
  // its name must still be the cache itself, not a link.
  // The kept file is let go either way: one whose store failed stays for
  // a later store.
  HRESULT StoreRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime, HeldKeptRequest* kept,
                       DWORD lockWaitMs, const Deadline& foldUntil, StoreNotes* notes);
  // Folds in what earlier calls kept, as a store does after its own row.
  HRESULT FoldKeptRequests(DWORD lockWaitMs, const Deadline& foldUntil, StoreNotes* notes);
  // Whether requests kept by earlier calls wait beside the cache.
  bool HasKeptRequests();

  // Keeps the request, then stores it: as a store of an undelivered one.
  HRESULT SaveRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime,
                      DWORD lockWaitMs = kCacheLockWaitMs, StoreNotes* notes = nullptr);

  // The steps of a store, each returning its result code.
  HRESULT LoadDatabaseLibrary();  // S_FALSE when already loaded
  HRESULT CreateDatabaseObject(ICacheDatabase** database);
  HRESULT OpenCache();
  HRESULT InsertRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime);

  HANDLE cacheMutex() const { return cacheMutex_.get(); }
  // Why the mutex could neither be opened nor made; S_OK when it is held.
  HRESULT cacheMutexError() const { return cacheMutexError_; }
  const WideString& libraryFolder() const { return libraryFolder_; }
  const WideString& libraryPath() const { return libraryPath_; }
  bool IsDatabaseOpen() const { return database_ != nullptr; }

 private:
  void ReleaseDatabase();
  // The steps under the mutex: the own row (when url is not null), then the
  // kept requests of earlier calls.
  HRESULT StoreHoldingMutex(const wchar_t* url, const wchar_t* referer, int64_t requestTime, HeldKeptRequest* kept,
                            const Deadline& foldUntil, StoreNotes* notes);
  HRESULT WithMutex(DWORD lockWaitMs, const wchar_t* url, const wchar_t* referer, int64_t requestTime,
                    HeldKeptRequest* kept, const Deadline& foldUntil, StoreNotes* notes);

  CacheFactory factory_ = nullptr;
  WideString libraryFolder_;
  WideString libraryPath_;
  WideString otherMachineLibrary_;
  UniqueModule databaseLibrary_;
  ICacheDatabase* database_ = nullptr;
  UniqueHandle cacheMutex_;
  HRESULT cacheMutexError_ = S_OK;
  WideString hostPath_;    // empty: the host executable's
  WideString dataFolder_;  // empty: the data folder
  WideString cachePath_;   // the file the last store opened; checked once it is let go
};

}  // namespace tmn
