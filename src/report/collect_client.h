// The client of the product's info-collection library, one per report: it
// loads the library for the span of the report, sends the install's public
// record once before the first record, and hands back to the library, at
// the latest when it closes, every record it could not deliver.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include "base/array.h"
#include "base/unique.h"
#include "base/wide_string.h"
#include "beacon/library_loading.h"
#include "report/collect_interfaces.h"

namespace tmn {

// Owns one object of the library and gives it back with its Release.
template <typename T>
struct ProductObjectTraits {
  using Type = T*;
  static Type Invalid() { return nullptr; }
  static void Close(Type object) { object->Release(); }
};
template <typename T>
using ProductObject = UniqueAny<ProductObjectTraits<T>>;
using RecordOwner = ProductObject<ICollectRecord>;

// Result codes of the public record.
constexpr HRESULT kUidEmpty = static_cast<HRESULT>(0x800705B6);        // ERROR_INCORRECT_SIZE
constexpr HRESULT kNoMemoryForUid = static_cast<HRESULT>(0x80070008);  // ERROR_NOT_ENOUGH_MEMORY

constexpr wchar_t kCollectLibraryName[] = L"ovec\\gleanor.dll";
constexpr wchar_t kClientMutexName[] = L"Global\\{2C4A41E4-3A65-4ea4-BC37-CEA52BBCF908}";

// Whether folder lies in the user's temporary folder, where an
// uninstaller runs a copy of itself and any program of the user's may put
// a library beside it: the library is never looked for there.
bool IsInTemporaryFolder(const WideString& folder);

// The library below hostFolder (unless it is empty), else below the install
// folder; nowhere else, and only as beacon/library_loading.h allows. A
// library passed over counts as missing; the first one is noted in
// passedOver.
HMODULE LoadCollectLibraryFrom(const WideString& hostFolder, PassedOverLibrary* passedOver);

// Pairs of hexadecimal digits into bytes. False for an odd length, more
// pairs than capacity, or any other character (bytes before it stay written).
bool HexToBytes(const wchar_t* text, uint8_t* bytes, size_t capacity);

class CCollectClient {
 public:
  // Opens: never fails, every missing piece stays null. The product version
  // of a report that has worked it out already, or null: the client then
  // works it out when its public record first needs it. The public record
  // names the system as osDescription gives it. The library is looked for
  // below the host executable's folder, unless that lies in the temporary
  // folder, then below the install folder. A library passed over is named
  // in the log in logFolder (null: the data folder).
  explicit CCollectClient(const WideString* productVersion = nullptr, const wchar_t* osDescription = L"win",
                          const wchar_t* logFolder = nullptr);
  ~CCollectClient();  // closes
  CCollectClient(const CCollectClient&) = delete;
  CCollectClient& operator=(const CCollectClient&) = delete;

  // A new record that is ready for use. E_POINTER when none was handed out,
  // E_FAIL when it was not ready (it is released then).
  HRESULT CreateRecord(RecordOwner* out);

  // Takes the record over and delivers it, after the public record when that
  // has not gone yet. An undelivered record goes to the library's Defer, and
  // when the library does not take it the client keeps it until it closes.
  HRESULT Submit(RecordOwner&& record);

 private:
  template <typename T>
  T* Obtain(const wchar_t* id) {
    return static_cast<T*>(exportFn_(id));
  }
  HRESULT Deliver(ICollectRecord* record);
  HRESULT SendPublicRecord();
  HRESULT CheckChannel();
  const WideString& ProductVersion();
  void FlushPending();

  WideString version_;  // empty until known
  WideString osDescription_;
  CriticalSection lock_;  // guards pending_
  Array<RecordOwner> pending_;
  UniqueHandle mutex_;  // held while open, as a marker for other processes
  UniqueModule library_;
  GetExportInterfaceFn exportFn_ = nullptr;
  ProductObject<ICollectChannel> channel_;
  int32_t publicSent_ = 0;
};

}  // namespace tmn
