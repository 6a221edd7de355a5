// The statistics beacon: one plain HTTP GET over WinINet, through the proxy
// the product's configuration file chooses, with a Referer and a
// User-Agent header. The call waits for the whole exchange; a request that
// is not delivered is stored in the offline cache and logged, and never
// sent again.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <stddef.h>
#include <stdint.h>

#include "base/unique.h"
#include "base/wide_string.h"
#include "report/statistic_cache.h"
#include "report/statistic_log.h"
#include "settings/product_settings.h"

namespace tmn {

// The encoded URL with its NUL. An encoded URL that does not fit is never
// sent.
constexpr size_t kEncodedUrlChars = 2084;
// The host name, and the path with its query, each with its NUL.
constexpr DWORD kUrlPartChars = 1024;
// The header text with its NUL: longer headers are cut at 1039 characters.
constexpr size_t kHeaderChars = 1040;
constexpr DWORD kConnectTimeoutMs = 10000;

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
// through "host" or "host:port" (port above 0), any other mode through
// the system's configured proxy.
struct ProxyChoice {
  DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
  WideString proxy;  // empty unless accessType is INTERNET_OPEN_TYPE_PROXY
};
bool ChooseProxy(const ProxySettings& settings, ProxyChoice* choice);

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

// The browser version the User-Agent names: the first 3 characters of the
// registry's Internet Explorer "Version" text, "0.0" without one.
void ReadIeVersion(WideString* out);
// "%d.%d" of the Windows version; 0.0 when it cannot be read.
void ReadNtVersion(WideString* out);

// The beacon client: the two version texts of its User-Agent, computed
// once, and the statistic log of its undelivered requests.
class CStatistics {
 public:
  // Stores into the process's offline cache and logs into the data folder.
  CStatistics() : CStatistics(g_statisticCache, nullptr) {}
  // Stores into cache and logs into logFolder (null: the data folder).
  CStatistics(StatisticCache& cache, const wchar_t* logFolder);
  CStatistics(const CStatistics&) = delete;
  CStatistics& operator=(const CStatistics&) = delete;

  // Sends the counter's pixel request with this referer, now. Nonzero when
  // delivered; 0 when not (the request is then stored and logged).
  int32_t ReportToCounter(const wchar_t* referer);
  // One attempt; a request that was sent counts as delivered whatever the
  // answer's status. An undelivered one is stored and logged.
  int32_t SendRequest(const StatisticRequest& request);
  // Stores the request in the offline cache and logs how that went.
  HRESULT SaveFailedRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime);

  const WideString& GetIeVersion();
  const WideString& GetNtVersion();

 private:
  int32_t Deliver(const StatisticRequest& request);

  StatisticCache& cache_;
  WideString ieVersion_;
  WideString ntVersion_;
  StatisticLogWriter logFile_;
};

// The process's beacon client, made by its first use and destroyed when
// the module unloads, before the offline cache.
CStatistics& ProcessStatistics();

}  // namespace tmn
