#include "report/collect_client.h"

#include <utility>

#include "base/heap.h"
#include "base/result.h"
#include "base/unix_time.h"
#include "beacon/statistic_log.h"
#include "fs/module_path.h"
#include "fs/path_operations.h"
#include "report/install_identity.h"
#include "settings/product_keys.h"

namespace tmn {

namespace {

int HexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// A library passed over counts as missing; the first one is noted.
HMODULE LoadFromFolder(const WideString& folder, PassedOverLibrary* passedOver) {
  WideString path;
  if (!path.Assign(folder) || !AppendPath(path, kCollectLibraryName)) return nullptr;
  UniqueModule library;
  passedOver->Note(path.Get(), LoadProductLibrary(path.Get(), &library));
  return library.release();
}

}  // namespace

bool IsInTemporaryFolder(const WideString& folder) {
  // In the form the temporary folder is named in: an uninstaller's copy is
  // started by a path made from it, which its module's path keeps.
  wchar_t temporary[MAX_PATH];
  const DWORD length = ::GetTempPathW(MAX_PATH, temporary);
  if (length == 0 || length >= MAX_PATH) return false;
  WideString prefix, start;
  if (!prefix.Assign(temporary, length)) return false;
  TrimTrailingSeparators(prefix);
  const size_t count = prefix.Length();
  return folder.Length() >= count && (folder.Length() == count || folder[count] == L'\\') &&
         start.Assign(folder.Get(), count) && ::lstrcmpiW(start.Get(), prefix.Get()) == 0;
}

HMODULE LoadCollectLibraryFrom(const WideString& hostFolder, PassedOverLibrary* passedOver) {
  if (!hostFolder.IsEmpty()) {
    if (HMODULE library = LoadFromFolder(hostFolder, passedOver)) return library;
  }
  // Never by the relative name: the system would look for it in the
  // current folder and along PATH, where any user may put one. A relative
  // install folder is refused by the loader for the same reason.
  WideString installFolder;
  if (ReadInstallPath(&installFolder) && !installFolder.IsEmpty()) return LoadFromFolder(installFolder, passedOver);
  return nullptr;
}

bool HexToBytes(const wchar_t* text, uint8_t* bytes, size_t capacity) {
  const size_t length = TextLength(text);
  if (length % 2 != 0 || length / 2 > capacity) return false;
  for (size_t i = 0; i < length; i += 2) {
    const int high = HexDigitValue(text[i]);
    const int low = HexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i / 2] = static_cast<uint8_t>((high << 4) | low);
  }
  return true;
}

CCollectClient::CCollectClient(const WideString* productVersion, const wchar_t* osDescription,
                               const wchar_t* logFolder) {
  if (productVersion != nullptr) version_.Assign(*productVersion);
  osDescription_.Assign(osDescription);
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kClientMutexName);
  const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  mutex_.reset(mutex);
  if (existed) mutex_.reset();  // another process's client holds it
  WideString hostFolder;
  if (SUCCEEDED(ReadHostFolder(&hostFolder)) && IsInTemporaryFolder(hostFolder)) hostFolder.Clear();
  PassedOverLibrary passedOver;
  library_.reset(LoadCollectLibraryFrom(hostFolder, &passedOver));
  if (!passedOver.path.IsEmpty()) {
    // Missing as far as this process goes; the log says which file it was.
    StatisticLogWriter log(logFolder);
    log.WriteSkippedLibrary(passedOver.path.Get(), passedOver.LoggedCode());
  }
  if (library_) {
    exportFn_ = reinterpret_cast<GetExportInterfaceFn>(
        reinterpret_cast<void*>(::GetProcAddress(library_.get(), kGetExportInterfaceName)));
  }
  if (exportFn_ != nullptr) channel_.reset(Obtain<ICollectChannel>(kCollectChannelId));
}

CCollectClient::~CCollectClient() {
  // The records' code lives in the library: they go back before it is freed.
  FlushPending();
  mutex_.reset();
  channel_.reset();
  exportFn_ = nullptr;
  library_.reset();
}

HRESULT CCollectClient::CreateRecord(RecordOwner* out) {
  out->reset();
  if (exportFn_ == nullptr) return E_POINTER;
  RecordOwner record(Obtain<ICollectRecord>(kCollectRecordId));
  if (!record) return E_POINTER;
  if (record.get()->IsReady() == 0) return E_FAIL;
  *out = std::move(record);
  return S_OK;
}

HRESULT CCollectClient::Submit(RecordOwner&& record) {
  RecordOwner owned(std::move(record));
  if (!owned) return E_POINTER;
  const HRESULT result = Deliver(owned.get());
  if (SUCCEEDED(result)) return result;
  if (owned.get()->Defer() != 0) return result;
  CriticalSectionLock lock(lock_);
  pending_.Push(std::move(owned));  // without room it is released here, undelivered
  return result;
}

HRESULT CCollectClient::Deliver(ICollectRecord* record) {
  if (!channel_) return E_FAIL;
  if (publicSent_ == 0) {
    // No record goes before the public record.
    RETURN_IF_FAILED(SendPublicRecord());
    RETURN_IF_FAILED(CheckChannel());
    publicSent_ = 1;
  }
  if (record->Seal() == 0) return E_FAIL;
  const void* data = record->Data();
  const uint32_t size = record->Size();
  if (channel_.get()->Write(data, size) != 0 && channel_.get()->Commit() != 0) return S_OK;
  return E_FAIL;
}

HRESULT CCollectClient::SendPublicRecord() {
  const int32_t collectTime = static_cast<int32_t>(CurrentUnixTime());  // the low 32 bits
  // Destroyed in reverse: the record, the channel, then the bytes the
  // record was given.
  UniqueHeapBlock bytes;
  ProductObject<IPublicChannel> channel;
  RecordOwner record;
  RETURN_IF_FAILED(CreateRecord(&record));
  channel.reset(Obtain<IPublicChannel>(kPublicChannelId));
  if (!channel) return E_POINTER;
  if (channel.get()->IsReady() == 0) {
    channel.reset();
    return E_FAIL;
  }
  ICollectRecord* fields = record.get();
  fields->SetTable(L"xlumbra_public");
  const InstallIdentity& identity = GetInstallIdentity();
  const size_t count = TextLength(identity.uid) / 2;
  if (count == 0) return kUidEmpty;
  bytes.reset(HeapAllocateZeroed(count));
  if (!bytes) return kNoMemoryForUid;
  uint8_t* uuid = static_cast<uint8_t*>(bytes.get());
  if (!HexToBytes(identity.uid, uuid, count)) return E_FAIL;
  fields->AddBytes(L"uuid", uuid, static_cast<uint32_t>(count));
  fields->AddInt(L"pid", identity.oemId);
  fields->AddString(L"ver", ProductVersion().Get());
  fields->AddString(L"win", osDescription_.Get());
  fields->AddInt(L"collect_time", collectTime);
  if (fields->Seal() == 0) return E_FAIL;
  const void* data = fields->Data();
  const uint32_t size = fields->Size();
  return channel.get()->Write(data, size) != 0 ? S_OK : E_FAIL;
}

HRESULT CCollectClient::CheckChannel() {
  if (!channel_) return E_POINTER;
  if (channel_.get()->IsReady() != 0) return S_OK;
  // The record in hand goes undelivered; the next Submit uses the fresh one.
  channel_.reset();
  channel_.reset(Obtain<ICollectChannel>(kCollectChannelId));
  return E_FAIL;
}

const WideString& CCollectClient::ProductVersion() {
  if (version_.IsEmpty()) GetProductVersion(&version_);
  return version_;
}

void CCollectClient::FlushPending() {
  for (RecordOwner& record : pending_) {
    record.get()->Defer();
    record.reset();
  }
  pending_.Clear();
}

}  // namespace tmn
