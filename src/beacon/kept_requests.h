// Undelivered requests kept beside the offline cache until it has them.
//
// A request is written to a file of its own in the data folder as soon as
// it is known, before anything that may block: the exchange, the cache's
// mutex, the database library. So a request outlives a process that ends
// meanwhile, an installer that goes on at its deadline, and a mutex another
// process holds: each later store, under the mutex, folds the kept requests
// it finds into the cache and deletes their files. Writing a file of one's
// own needs no lock, so keeping never waits.
//
// A file is written under a name of its own ("<name>.part") and renamed
// once whole, so that a store never reads a half-written request. The data
// folder is open to every user: a kept file is read, moved and deleted only
// through a handle checked to be no link and no second name (or made new
// by the writer). A file under such a name that holds no request a store
// would fold in is moved aside once, under a name no store lists, so that
// files any user may put there never take the place of kept requests.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include "base/unique.h"
#include "base/wide_string.h"

namespace tmn {

// "feed.cache.<id>.row" in the data folder.
constexpr wchar_t kKeptRequestPrefix[] = L"feed.cache.";
constexpr wchar_t kKeptRequestSuffix[] = L".row";
// The longest URL or referer a kept request carries, in characters.
constexpr uint32_t kKeptTextChars = 8192;

struct KeptEntry {
  WideString url;
  WideString referer;
  int64_t requestTime = 0;
};

// The bytes of a kept file: "TMR1", the time (8 bytes), the URL's and the
// referer's lengths in characters (4 bytes each), then both texts in
// UTF-16, all little-endian; count receives their number. False when the
// URL is empty, a text is longer than kKeptTextChars or memory runs out.
bool FormatKeptRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime, UniqueHeapBlock* bytes,
                       size_t* count);
// False for anything but exactly such bytes, texts holding a NUL included;
// entry is left as it was then.
bool ParseKeptRequest(const uint8_t* bytes, size_t count, KeptEntry* entry);

// Why a kept file is refused: it holds no request the beacon would have
// kept. A refused file is moved aside once, never folded in nor counted
// against a store's batch, and named with the others of its store in one
// line. Every reason for refusing one answers this code from Read.
constexpr HRESULT kNotAKeptRequest = static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA

// The kept files of a folder, one after another as the folder lists them:
// files whose long name is "feed.cache.<id>.row".
class KeptRequestListing {
 public:
  // folder outlives the listing.
  explicit KeptRequestListing(const WideString& folder) : folder_(folder) {}
  KeptRequestListing(const KeptRequestListing&) = delete;
  KeptRequestListing& operator=(const KeptRequestListing&) = delete;
  // The next one's path; false once there is none.
  bool Next(WideString* path);

 private:
  const WideString& folder_;
  UniqueFind find_;
  bool started_ = false;
};

// One kept file, held open. Its writer holds it from the write until its
// own store has ended, sharing nothing: no other store can fold it in
// meanwhile, and once the writer lets it go, or its process ends, the next
// store may. A store holds the kept files of earlier calls it folds in,
// opened as themselves and checked (no link, no second name), sharing no
// deletion: they cannot be renamed or deleted by others while held.
class HeldKeptRequest {
 public:
  // Writes the request to a new file in folder and holds it.
  HRESULT Write(const WideString& folder, const wchar_t* url, const wchar_t* referer, int64_t requestTime);
  // Opens the kept file of an earlier call at path.
  HRESULT Open(const WideString& path);
  // Reads the request: S_OK; kNotAKeptRequest when the file holds none
  // that a store folds in, and is to be moved aside; any other failure
  // (the read's own) leaves it where it is.
  HRESULT Read(KeptEntry* entry);
  // Moves the file aside to a name of its own that no listing yields.
  HRESULT MoveAside(const WideString& path);
  // Deletes the file when it is let go.
  bool DeleteWhenClosed();
  void Close() { file_.reset(); }

 private:
  UniqueFile file_;
};

}  // namespace tmn
