// The offline cache: requests that could not be delivered are inserted into
// the table statistic3 of "feed.cache" in the data folder, through the
// product's database library, tarnbase.dll. Rows are only ever added; this
// module never reads, re-sends or deletes them. A machine-wide mutex keeps
// processes and threads from writing the cache at the same time.
//
// A request is kept in a file of its own beside the cache before it is
// stored (kept_requests.h), and its file goes only once the cache has it.
// A store that cannot have the mutex in time, or cannot reach the cache,
// leaves the file for a later store to fold in: each store that reaches the
// cache goes on through the kept files until it has folded in its batch,
// looking at a bounded number of names, and moves aside every file there
// that holds no kept request, so that no such file is looked at twice.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/array.h"
#include "base/deadline.h"
#include "base/unique.h"
#include "base/wide_string.h"
#include "beacon/cache_interfaces.h"
#include "beacon/kept_requests.h"
#include "beacon/library_loading.h"

namespace tmn {

// A kept request of an earlier call, held from its insert until the store
// is known good, then deleted.
struct FoldedRequest {
  HeldKeptRequest file;
  KeptEntry entry;
};

constexpr wchar_t kCacheMutexName[] = L"Global\\{7BDE6A0F-C5BC-4579-BA89-9262EA1A9856}";
constexpr wchar_t kDatabaseLibraryName[] = L"tarnbase.dll";
constexpr wchar_t kCacheFileName[] = L"feed.cache";
// Where a cache the library refuses is moved aside: "<cache>.bad", then
// "<cache>.bad.2" and on, never over an older one.
constexpr wchar_t kRefusedCacheSuffix[] = L".bad";
constexpr unsigned kRefusedCacheNames = 100;
// How many requests kept by earlier calls one store folds in at most, and
// how many kept files' names it looks at to find them: the files still
// held by their writers, and those it moves aside, are looked at too.
constexpr size_t kKeptRequestsPerStore = 16;
constexpr size_t kKeptNamesExaminedPerStore = 256;
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

// What a store did besides its own row, told once its mutex is let go.
struct StoreNotes {
  // The requests of earlier calls that the store folded into the cache.
  Array<KeptEntry> folded;
  // The files it moved aside as holding no kept request.
  Array<WideString> refusedFiles;
  // The library the search passed over, when no library could be loaded.
  PassedOverLibrary passedOver;
};

// Looks for the library in hostFolder, then in the folder above it;
// library receives the file found. E_FAIL when neither place has one that
// may be loaded (beacon/library_loading.h); the first one passed over is
// noted in passedOver.
HRESULT FindDatabaseLibrary(const WideString& hostFolder, WideString* library, PassedOverLibrary* passedOver);

class StatisticCache {
 public:
  // The process's cache: the library is looked for from the host
  // executable's folder and the file kept in the data folder. The mutex is
  // opened, or made, at once.
  StatisticCache() : StatisticCache(nullptr, nullptr) {}
  // A cache that looks for the library from hostFolder and keeps its file
  // in dataFolder instead; null keeps the process's own. Tests of the mutex
  // itself name another one, as the process's own cache holds the real one.
  StatisticCache(const wchar_t* hostFolder, const wchar_t* dataFolder, const wchar_t* mutexName = kCacheMutexName);
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

 private:
  // The steps of a store, each returning its result code.
  HRESULT LoadDatabaseLibrary();  // S_FALSE when already loaded
  HRESULT CreateDatabaseObject(ICacheDatabase** database);
  HRESULT OpenCache();
  HRESULT InsertRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime);
  // Folds in kept files of earlier calls, moving aside those that hold none.
  void FoldEarlierRequests(const WideString& folder, const Deadline& foldUntil, Array<FoldedRequest>* folded,
                           StoreNotes* notes);
  void ReleaseDatabase();
  // The steps under the mutex: the own row (when url is not null), then the
  // kept requests of earlier calls.
  HRESULT StoreHoldingMutex(const wchar_t* url, const wchar_t* referer, int64_t requestTime, HeldKeptRequest* kept,
                            const Deadline& foldUntil, StoreNotes* notes);
  HRESULT WithMutex(DWORD lockWaitMs, const wchar_t* url, const wchar_t* referer, int64_t requestTime,
                    HeldKeptRequest* kept, const Deadline& foldUntil, StoreNotes* notes);

  CacheFactory factory_ = nullptr;
  WideString libraryPath_;
  PassedOverLibrary passedOver_;
  UniqueModule databaseLibrary_;
  ICacheDatabase* database_ = nullptr;
  UniqueHandle cacheMutex_;
  HRESULT cacheMutexError_ = S_OK;  // why it could neither be opened nor made
  WideString hostFolder_;  // empty: the host executable's
  WideString dataFolder_;  // empty: the data folder
  WideString cachePath_;   // the file the last store opened; checked once it is let go
};

}  // namespace tmn
