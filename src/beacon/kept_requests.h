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
// folder is open to every user: a kept file is read and deleted only
// through a handle checked to be no link and no second name (or made new
// by the writer), and one that is not a kept request is left alone.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include "base/array.h"
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

// The paths of at most limit kept files in folder, in the order listed.
void ListKeptRequests(const WideString& folder, size_t limit, Array<WideString>* paths);

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
  // Reads the request; false when the file holds none.
  bool Read(KeptEntry* entry);
  // Deletes the file when it is let go.
  bool DeleteWhenClosed();
  void Close() { file_.reset(); }
  bool IsHeld() const { return file_.valid(); }

 private:
  UniqueFile file_;
};

}  // namespace tmn
