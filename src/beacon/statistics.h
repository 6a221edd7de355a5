// The statistics beacon: one plain HTTP GET over WinINet, through the proxy
// the product's configuration file chooses, with a Referer and a
// User-Agent header. A request that is not delivered is stored in the
// offline cache and logged, and never sent again.
//
// The report must never be held by the network. WinINet's own time-outs do
// not bound a connection attempt that is never answered, headers that drip
// in, or an endless body, and closing its handles from another thread does
// not end a blocked send. So a worker thread of its own does the exchange
// (base/module_worker.h) while the report waits for it at most until its
// deadline, less what the store needs (beacon/time_budget.h). When the wait
// runs out, the report stores and logs the request as undelivered and
// leaves the exchange to end on its own: its worker touches nothing but
// what it shares with the waiting thread, and never stores anything. With
// no time left no exchange starts at all: the request is stored, and never
// also delivered.
//
// The request is kept beside the offline cache before anything that may
// block (statistic_cache.h): a request whose process ends meanwhile is
// found there by a later store, should one run.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <stddef.h>
#include <stdint.h>

#include "base/deadline.h"
#include "base/unique.h"
#include "base/wide_string.h"
#include "beacon/statistic_cache.h"
#include "beacon/statistic_log.h"
#include "beacon/time_budget.h"
#include "settings/product_settings.h"

namespace tmn {

// The encoded URL with its NUL. An encoded URL that does not fit is never
// sent.
constexpr size_t kEncodedUrlChars = 2084;
// The host name, and the path with its query, each with its NUL.
constexpr DWORD kUrlPartChars = 1024;
// The header text with its NUL: longer headers are cut at 1039 characters.
constexpr size_t kHeaderChars = 1040;

namespace traits {
struct Internet {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::InternetCloseHandle(h); }
};
}  // namespace traits
using UniqueInternet = UniqueAny<traits::Internet>;  // sessions, connections, requests

struct StatisticRequest {
  WideString url;      // absolute http URL, not encoded
  WideString referer;  // never empty
  int64_t requestTime; // seconds since 1970-01-01 00:00 UTC
};

// The UTF-8 bytes of the first length units of text, each byte up to 0x20,
// from 0x80 on, and "%" written as "%" and two upper-case hexadecimal
// digits, every other byte as itself. S_OK with out NUL-terminated and
// count its length; HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) with out
// empty when the text and its NUL do not fit capacity; E_OUTOFMEMORY when
// the working storage cannot be had (out empty).
HRESULT PercentEncodeUtf8(const wchar_t* text, size_t length, wchar_t* out, size_t capacity, size_t* count);

// How WinINet is opened for the proxy settings: mode 0 directly, mode 2
// through "host", or "host:port" when the port is above 0, any other mode
// through the system's configured proxy. The settings give a TCP port or 0
// (ParseProxyPort): a port the profile's integers would wrap reads as none.
// E_OUTOFMEMORY is the only failure.
struct ProxyChoice {
  DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
  WideString proxy;  // empty unless accessType is INTERNET_OPEN_TYPE_PROXY
};
HRESULT ChooseProxy(const ProxySettings& settings, ProxyChoice* choice);

// A session with no agent of its own, no bypass list, and the 10-second
// connect time-out.
HRESULT OpenInternetSession(const ProxyChoice& choice, UniqueInternet* session);

// The Referer and User-Agent header lines, cut at 1039 characters and
// NUL-terminated; returns the characters before the NUL.
DWORD FormatBeaconHeaders(const wchar_t* referer, const wchar_t* ieVersion, const wchar_t* ntVersion,
                          wchar_t (&out)[kHeaderChars]);

// Whether the host lies in the reserved ".invalid" domain, which never
// resolves: such a request is not delivered, without asking any resolver.
bool IsReservedInvalidHost(const wchar_t* host);

// Everything one exchange needs, worked out before it starts, so that the
// worker reads nothing of the process's settings.
struct PreparedRequest {
  wchar_t host[kUrlPartChars];
  wchar_t path[kUrlPartChars];  // with its query
  wchar_t headers[kHeaderChars];
  DWORD headerLength = 0;
  ProxyChoice proxy;
  bool sendCredentials = false;  // the proxy's user name and password, set on the request
  DWORD transferTimeoutMs = kTransferTimeoutMs;
  WideString login;
  WideString password;
};

// Encodes the URL, takes its host and its path with the query, chooses the
// proxy and writes the headers. A failure means the request cannot be sent.
HRESULT PrepareRequest(const StatisticRequest& request, const ProxySettings& settings, const wchar_t* ieVersion,
                       const wchar_t* ntVersion, PreparedRequest* prepared);

// The handles of one exchange, closed request first.
struct ExchangeHandles {
  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;
};

// The flags of the request: a redirect is an answer like any other, and the
// counter's answer is nothing to keep in the user's cache.
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD;

// Sends the request once, on the calling thread: a GET that neither
// follows a redirect nor writes WinINet's cache, with the send and receive
// time-outs set. Nonzero when the server answered with any status: a send
// that ends without one is not delivery. The handles are left open in
// handles (closing a request may read out the rest of a body).
int32_t ExchangeRequest(const PreparedRequest& prepared, ExchangeHandles* handles);

// Sends the request on a worker thread of its own and waits at most
// budgetMs for its answer. Nonzero when the answer came in time; 0 when it
// did not, or none came, and from then on the worker's outcome is no longer
// looked at. With no time at all nothing is sent.
int32_t ExchangeWithin(PreparedRequest&& prepared, DWORD budgetMs);

// The browser version the User-Agent names: the first 3 characters of the
// registry's Internet Explorer "Version" text, "0.0" without one. Read in
// the 32-bit view, as the product's own 32-bit processes see it, so that a
// 64-bit installer names the browser as a 32-bit one does; in the system's
// own view only where the 32-bit one has no such text.
void ReadIeVersion(WideString* out);
// The same from what the registry delivered: its status, the value's type
// and the whole buffer, offered to the read; false, with "0.0", when it
// holds no version text.
bool IeVersionOfValue(LONG status, DWORD type, const wchar_t (&text)[MAX_PATH], WideString* out);
// "%d.%d" of the Windows version; 0.0 when it cannot be read.
void ReadNtVersion(WideString* out);

// How far one request has come, shared between the thread that sends it
// and one that may give it up at its deadline: open until it is taken,
// taken until it is kept beside the cache, then done. A request given up
// before it was kept is named in the log by whoever gave it up.
constexpr LONG kRequestOpen = 0;
constexpr LONG kRequestTaken = 1;
constexpr LONG kRequestKept = 2;
constexpr LONG kRequestDone = 3;
constexpr LONG kRequestGivenUp = 4;

// The beacon client: the two version texts of its User-Agent, and the
// statistic log of its undelivered requests.
class CStatistics {
 public:
  // Stores into cache and logs into logFolder (null: the data folder).
  // Reads the two version texts, once: made on the installer's thread, the
  // workers of its reports only read them.
  CStatistics(StatisticCache& cache, const wchar_t* logFolder);
  CStatistics(const CStatistics&) = delete;
  CStatistics& operator=(const CStatistics&) = delete;

  // Sends the counter's pixel request with this referer, made at
  // requestTime, as SendRequest does.
  int32_t ReportToCounter(const wchar_t* referer, int64_t requestTime, const Deadline& deadline,
                          volatile LONG* progress);
  // Keeps the request (progress goes from taken to kept when that
  // succeeds), then makes one attempt, waited for until the deadline less
  // the store's reserve; any status the server answers counts as
  // delivered. An undelivered one is stored and logged by the calling
  // thread; a delivered one is forgotten, and what earlier calls kept is
  // folded into the cache. A request given up while it was being kept is
  // forgotten at once. Nonzero when delivered.
  int32_t SendRequest(const StatisticRequest& request, const Deadline& deadline, volatile LONG* progress);

  const WideString& GetIeVersion() const { return ieVersion_; }
  const WideString& GetNtVersion() const { return ntVersion_; }

 private:
  int32_t Deliver(const StatisticRequest& request, const Deadline& deadline);

  StatisticCache& cache_;
  WideString ieVersion_;
  WideString ntVersion_;
  StatisticLogWriter logFile_;
};

}  // namespace tmn
