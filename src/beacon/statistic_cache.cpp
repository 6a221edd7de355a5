#include "beacon/statistic_cache.h"

#include "base/array.h"
#include "base/result.h"
#include "base/this_module.h"
#include "beacon/data_folder.h"
#include "beacon/kept_requests.h"
#include "fs/link_checks.h"
#include "fs/module_path.h"
#include "fs/path_operations.h"
#include "security/access_list.h"

namespace tmn {

namespace {

// Gives Everyone full access; the cache is shared by every user of the
// machine. What comes of it is not examined: where the system refuses, the
// store goes on with the access the object has.
void OpenToEveryone(const wchar_t* path, uint8_t aceFlags) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid everyone;
  if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put())) return;
  const DaclEntry entry = {everyone.get(), true, GENERIC_ALL, aceFlags};
  RewriteDacl(path, &entry, 1);
}

// Makes the cache file when missing (empty, for the library to fill) and
// holds it, then checks that it is the plug-in's own and opens it to
// Everyone. The caller lets it go right before the library opens it.
HRESULT HoldCacheFile(const WideString& path, UniqueFile* held) {
  UniqueFile cacheFile = OpenEntryItself(path.Get(), FILE_READ_DATA, OPEN_EXISTING, false);
  if (!cacheFile && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    // Made empty here, so that its access is set before the library opens it.
    UniqueFile empty(::CreateFileW(path.Get(), GENERIC_ALL, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    empty.reset();
    cacheFile = OpenEntryItself(path.Get(), FILE_READ_DATA, OPEN_EXISTING, false);
  }
  // A file link or a second name would carry the access and the move below
  // to a file that is not the cache.
  if (!cacheFile || IsLinkOrMultiLinked(cacheFile.get(), path.Get())) return HResultFromWin32(ERROR_CANT_ACCESS_FILE);
  OpenToEveryone(path.Get(), 0);
  *held = static_cast<UniqueFile&&>(cacheFile);
  return S_OK;
}

// Moves a refused cache aside, under the first of its numbered names that
// is free, so that no row is lost when the refusal came from a lock or a
// passing fault, nor when a cache is refused again later. When every name
// is taken the cache stays where it is.
HRESULT MoveRefusedCacheAside(const WideString& path) {
  // What stands at its name now is examined again: the library had the
  // file to itself meanwhile, and the plug-in did not hold it. The move
  // never replaces, so the names it moves to need no examining.
  if (IsLinkOrMultiLinked(path.Get())) return HResultFromWin32(ERROR_CANT_ACCESS_FILE);
  for (unsigned number = 1; number <= kRefusedCacheNames; ++number) {
    WideString aside;
    if (!RefusedCacheName(path, number, &aside)) return E_OUTOFMEMORY;
    if (::MoveFileExW(path.Get(), aside.Get(), 0)) return S_OK;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return HResultFromWin32(error);
  }
  return HResultFromWin32(ERROR_FILE_EXISTS);
}

}  // namespace

bool RefusedCacheName(const WideString& cache, unsigned number, WideString* name) {
  if (number == 0 || !name->Assign(cache) || !name->Append(kRefusedCacheSuffix)) return false;
  if (number == 1) return true;
  wchar_t digits[16];
  const int length = ::wsprintfW(digits, L".%u", number);
  return name->Append(digits, static_cast<size_t>(length));
}

bool FillCacheMutexSecurity(SECURITY_DESCRIPTOR* descriptor, ACL* acl, DWORD aclBytes) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY, nt = SECURITY_NT_AUTHORITY;
  UniqueSid everyone, system, administrators;
  if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put()) ||
      !::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, system.put()) ||
      !::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  administrators.put()))
    return false;
  // The entries copy the identifiers: they may go when this returns.
  return ::InitializeAcl(acl, aclBytes, ACL_REVISION) &&
         ::AddAccessAllowedAce(acl, ACL_REVISION, SYNCHRONIZE | MUTEX_MODIFY_STATE, everyone.get()) &&
         ::AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, system.get()) &&
         ::AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, administrators.get()) &&
         ::InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         ::SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE);
}

HRESULT FindDatabaseLibrary(const WideString& hostFolder, WideString* library, PassedOverLibrary* passedOver) {
  // A file passed over counts as missing.
  const auto loadable = [passedOver](const WideString& file) {
    const HRESULT judged = JudgeProductLibrary(file.Get());
    passedOver->Note(file.Get(), judged);
    return SUCCEEDED(judged);
  };
  WideString place;
  if (!place.Assign(hostFolder) || !AppendPath(place, kDatabaseLibraryName)) return E_OUTOFMEMORY;
  if (!loadable(place)) {
    // The folder above: drop the library's name and the folder's.
    if (!StripLastComponent(place) || !StripLastComponent(place)) return E_FAIL;
    if (!AppendPath(place, kDatabaseLibraryName)) return E_OUTOFMEMORY;
    if (!loadable(place)) return E_FAIL;
  }
  *library = static_cast<WideString&&>(place);
  return S_OK;
}

StatisticCache::StatisticCache(const wchar_t* hostFolder, const wchar_t* dataFolder, const wchar_t* mutexName) {
  hostFolder_.Assign(hostFolder);
  dataFolder_.Assign(dataFolder);
  constexpr DWORD kWaitAndRelease = SYNCHRONIZE | MUTEX_MODIFY_STATE;
  cacheMutex_.reset(::OpenMutexW(kWaitAndRelease, FALSE, mutexName));
  if (cacheMutex_) return;
  union {
    ACL acl;
    BYTE bytes[kCacheMutexAclBytes];
  } acl;
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
  if (FillCacheMutexSecurity(&descriptor, &acl.acl, sizeof(acl))) security.lpSecurityDescriptor = &descriptor;
  // A process that loses the race to make the mutex gets the same mutex,
  // with ERROR_ALREADY_EXISTS: it is kept, so that this process waits too.
  // One that is refused all the access a making asks for opens it with
  // what every user may ask.
  cacheMutex_.reset(::CreateMutexW(&security, FALSE, mutexName));
  if (!cacheMutex_ && ::GetLastError() == ERROR_ACCESS_DENIED)
    cacheMutex_.reset(::OpenMutexW(kWaitAndRelease, FALSE, mutexName));
  if (!cacheMutex_) cacheMutexError_ = HResultFromLastError();
}

StatisticCache::~StatisticCache() {
  if (ProcessIsExiting()) {
    // The library may already be detached: nothing of it is called, and
    // the end of the process unloads it.
    database_ = nullptr;
    databaseLibrary_.release();
    return;
  }
  ReleaseDatabase();
}

void StatisticCache::ReleaseDatabase() {
  if (database_ == nullptr) return;
  database_->operations->ReleaseDatabase(database_);
  database_ = nullptr;
}

HRESULT StatisticCache::LoadDatabaseLibrary() {
  if (databaseLibrary_) return S_FALSE;
  if (libraryPath_.IsEmpty()) {
    WideString folder;
    if (hostFolder_.IsEmpty()) {
      // A path cut by its buffer would name an ancestor's library.
      if (FAILED(ReadHostFolder(&folder))) return E_FAIL;
    } else if (!folder.Assign(hostFolder_)) {
      return E_OUTOFMEMORY;
    }
    RETURN_IF_FAILED(FindDatabaseLibrary(folder, &libraryPath_, &passedOver_));
  }
  const HRESULT loaded = LoadProductLibrary(libraryPath_.Get(), &databaseLibrary_);
  if (FAILED(loaded)) {
    // Changed since it was found: looked for again by the next store.
    passedOver_.Note(libraryPath_.Get(), loaded);
    libraryPath_.Clear();
    return E_FAIL;
  }
  return S_OK;
}

HRESULT StatisticCache::CreateDatabaseObject(ICacheDatabase** database) {
  RETURN_IF_FAILED(LoadDatabaseLibrary());
  if (factory_ == nullptr) {
    FARPROC found = ::GetProcAddress(databaseLibrary_.get(), kCacheFactoryName);
    if (found == nullptr) return E_FAIL;
    factory_ = reinterpret_cast<CacheFactory>(reinterpret_cast<void*>(found));
  }
  ICacheDatabase* made = nullptr;
  if (FAILED(factory_(&kCacheDatabaseId, &made, kCacheFactoryVersion)) || made == nullptr) return E_FAIL;
  *database = made;
  return S_OK;
}

HRESULT StatisticCache::OpenCache() {
  if (database_ != nullptr) return S_OK;
  // Held until the library has the file open: the folders and the file
  // rewritten and opened below cannot be replaced by links meanwhile.
  HeldDataFolder folder;
  RETURN_IF_FAILED(folder.Hold(dataFolder_));
  OpenToEveryone(folder.path().Get(), OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);

  WideString path;
  if (!path.Assign(folder.path()) || !path.Append(L'\\') || !path.Append(kCacheFileName)) return E_OUTOFMEMORY;
  UniqueFile cacheFile;
  RETURN_IF_FAILED(HoldCacheFile(path, &cacheFile));
  RETURN_IF_FAILED(CreateDatabaseObject(&database_));
  cachePath_ = static_cast<WideString&&>(path);
  const ICacheDatabaseOperations& db = *database_->operations;
  // The file is let go right before the library opens it: a library that
  // opens its file for itself alone would be refused while it is held. The
  // file the library leaves is examined once it is let go (SaveRequest).
  cacheFile.reset();
  HRESULT result = db.OpenDatabase(database_, cachePath_.Get());
  if (FAILED(result)) {
    // A file the library cannot read as a database is moved aside, never
    // deleted: a lock or a passing fault may have refused it, and its rows
    // are kept. A new one is made in its place, once.
    HRESULT moved = MoveRefusedCacheAside(cachePath_);
    if (SUCCEEDED(moved)) moved = HoldCacheFile(cachePath_, &cacheFile);
    if (FAILED(moved)) {
      ReleaseDatabase();
      return moved == HResultFromWin32(ERROR_CANT_ACCESS_FILE) ? moved : result;
    }
    cacheFile.reset();
    result = db.OpenDatabase(database_, cachePath_.Get());
  }
  if (SUCCEEDED(result) && db.TableExists(database_, kCacheTableName) == 0) {
    ICacheStatement* create = nullptr;
    result = db.PrepareStatement(database_, kCreateCacheTable, &create);
    if (SUCCEEDED(result) && create == nullptr) result = E_UNEXPECTED;
    if (SUCCEEDED(result)) {
      result = create->operations->Step(create, 0);
      create->operations->ResetStatement(create);
    }
  }
  if (SUCCEEDED(result)) return result;
  ReleaseDatabase();
  return result;
}

HRESULT StatisticCache::InsertRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime) {
  RETURN_IF_FAILED(OpenCache());
  const ICacheDatabaseOperations& db = *database_->operations;
  ICacheStatement* insert = nullptr;
  RETURN_IF_FAILED(db.PrepareStatement(database_, kInsertCacheRow, &insert));
  if (insert == nullptr) return E_UNEXPECTED;
  RETURN_IF_FAILED(db.BeginTransaction(database_, 1));
  const ICacheStatementOperations& row = *insert->operations;
  row.BindInt64(insert, 1, requestTime);
  row.BindText(insert, 3, url != nullptr ? url : L"");
  row.BindText(insert, 4, referer != nullptr ? referer : L"");
  const HRESULT result = row.Step(insert, 0);
  row.ResetStatement(insert);
  db.EndTransaction(database_);
  return result;
}

HRESULT StatisticCache::KeepRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime,
                                    HeldKeptRequest* kept) {
  kept->Close();
  if (url == nullptr || *url == L'\0') return S_OK;
  HeldDataFolder folder;
  RETURN_IF_FAILED(folder.Hold(dataFolder_));
  return kept->Write(folder.path(), url, referer, requestTime);
}

void StatisticCache::ForgetRequest(HeldKeptRequest* kept) {
  kept->DeleteWhenClosed();
  kept->Close();
}

bool StatisticCache::HasKeptRequests() {
  WideString folder, path;
  if (FAILED(GetDataFolder(dataFolder_, &folder))) return false;
  KeptRequestListing listing(folder);
  return listing.Next(&path);
}

HRESULT StatisticCache::StoreRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime,
                                     HeldKeptRequest* kept, DWORD lockWaitMs, const Deadline& foldUntil,
                                     StoreNotes* notes) {
  if (url == nullptr || *url == L'\0') return S_OK;
  const HRESULT result = WithMutex(lockWaitMs, url, referer, requestTime, kept, foldUntil, notes);
  kept->Close();
  return result;
}

HRESULT StatisticCache::FoldKeptRequests(DWORD lockWaitMs, const Deadline& foldUntil, StoreNotes* notes) {
  HeldKeptRequest none;
  return WithMutex(lockWaitMs, nullptr, nullptr, 0, &none, foldUntil, notes);
}

HRESULT StatisticCache::WithMutex(DWORD lockWaitMs, const wchar_t* url, const wchar_t* referer, int64_t requestTime,
                                  HeldKeptRequest* kept, const Deadline& foldUntil, StoreNotes* notes) {
  // Never without the mutex: a request that cannot be stored stays kept.
  if (!cacheMutex_) return cacheMutexError_;
  // A mutex left by a process that ended while storing is ours now: the
  // library finds whatever that store left.
  const DWORD wait = ::WaitForSingleObject(cacheMutex_.get(), lockWaitMs);
  if (wait == WAIT_TIMEOUT) return HResultFromWin32(ERROR_TIMEOUT);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return HResultFromLastError();
  const HRESULT result = StoreHoldingMutex(url, referer, requestTime, kept, foldUntil, notes);
  ::ReleaseMutex(cacheMutex_.get());
  return result;
}

HRESULT StatisticCache::StoreHoldingMutex(const wchar_t* url, const wchar_t* referer, int64_t requestTime,
                                          HeldKeptRequest* kept, const Deadline& foldUntil, StoreNotes* notes) {
  // The folder is held for the whole store: the kept files listed and
  // deleted are the ones in the checked folder. The store's own kept file
  // is held by its writer, and no other store can open it.
  HeldDataFolder folder;
  HRESULT result = folder.Hold(dataFolder_);
  Array<FoldedRequest> folded;
  cachePath_.Clear();
  if (SUCCEEDED(result) && url != nullptr) result = InsertRequest(url, referer, requestTime);
  // Room for every request folded in comes first: a row the cache takes
  // must keep its file to delete, or a later store would add it again.
  if (SUCCEEDED(result) && folded.Reserve(kKeptRequestsPerStore) && notes->folded.Reserve(kKeptRequestsPerStore))
    FoldEarlierRequests(folder.path(), foldUntil, &folded, notes);
  // The file stays open only while the mutex is held.
  const bool opened = database_ != nullptr;
  ReleaseDatabase();
  // Between the check and the library's open the file was not held: a link
  // put there meanwhile is found now, and no row is called stored.
  if (opened && SUCCEEDED(result) && IsLinkOrMultiLinked(cachePath_.Get()))
    result = HResultFromWin32(ERROR_CANT_ACCESS_FILE);
  // Told once, by the store whose search passed it over.
  notes->passedOver = static_cast<PassedOverLibrary&&>(passedOver_);
  passedOver_ = PassedOverLibrary();
  if (FAILED(result)) return result;
  // The cache has them: their files go as they are let go, and the caller
  // is told of each once the mutex is let go.
  kept->DeleteWhenClosed();
  for (FoldedRequest& request : folded) {
    request.file.DeleteWhenClosed();
    notes->folded.Push(static_cast<KeptEntry&&>(request.entry));
  }
  return result;
}

void StatisticCache::FoldEarlierRequests(const WideString& folder, const Deadline& foldUntil,
                                         Array<FoldedRequest>* folded, StoreNotes* notes) {
  KeptRequestListing listing(folder);
  WideString path;
  for (size_t examined = 0; examined < kKeptNamesExaminedPerStore && folded->Size() < kKeptRequestsPerStore &&
                            !foldUntil.Passed() && listing.Next(&path);
       ++examined) {
    // One its writer still holds, or one that is a link or a second name,
    // stays where it is.
    FoldedRequest request;
    if (FAILED(request.file.Open(path))) continue;
    const HRESULT read = request.file.Read(&request.entry);
    if (read == kNotAKeptRequest) {
      // Moved aside under a name no listing yields: it never takes a
      // kept request's place again.
      if (SUCCEEDED(request.file.MoveAside(path))) notes->refusedFiles.Push(static_cast<WideString&&>(path));
      continue;
    }
    if (FAILED(read)) continue;
    if (FAILED(InsertRequest(request.entry.url.Get(), request.entry.referer.Get(), request.entry.requestTime))) break;
    folded->Push(static_cast<FoldedRequest&&>(request));
  }
}

}  // namespace tmn
