#include "beacon/statistics.h"

#include <utility>

#include "base/ascii.h"
#include "base/heap.h"
#include "base/module_worker.h"
#include "base/result.h"
#include "base/unix_time.h"
#include "base/windows_version.h"
#include "beacon/endpoints.h"
#include "beacon/statistic_store.h"

namespace tmn {

namespace {

constexpr wchar_t kUserAgentHead[] = L"\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE ";
constexpr wchar_t kUserAgentMiddle[] = L"; Windows NT ";
constexpr wchar_t kUserAgentTail[] =
    L"; Trident/4.0; SLCC2; .NET CLR 2.0.50727; .NET CLR 3.5.30729; .NET CLR 3.0.30729; Media Center PC 6.0; "
    L"InfoPath.2; Tablet PC 2.0; .NET4.0C)\r\n";

// Who owns the outcome of an exchange: the worker while it is pending, and
// whichever of the two threads moves it on first.
constexpr LONG kPending = 0;
constexpr LONG kAnswered = 1;
constexpr LONG kNotAnswered = 2;
constexpr LONG kAbandoned = 3;  // the waiting thread gave up at its deadline

// What the waiting thread and the exchange's worker share.
struct ExchangeState {
  volatile LONG outcome = kPending;
  UniqueHandle finished;  // set once the worker has an outcome
  PreparedRequest request;
};

// The worker's whole life: the exchange, its outcome handed over unless the
// waiting thread gave up, and every handle closed.
void ExchangeOnWorker(void* context) {
  SharedBlock<ExchangeState> state = SharedBlock<ExchangeState>::Adopt(context);
  ExchangeHandles handles;
  const LONG outcome = ExchangeRequest(state->request, &handles) != 0 ? kAnswered : kNotAnswered;
  ::InterlockedCompareExchange(&state->outcome, outcome, kPending);
  ::SetEvent(state->finished.get());
}

bool Encodes(uint8_t byte) { return byte <= 0x20 || byte >= 0x80 || byte == '%'; }

wchar_t HexDigit(unsigned value) { return static_cast<wchar_t>(value < 10 ? L'0' + value : L'A' + value - 10); }

// The user name first; the password only when the name was taken.
void SetProxyCredentials(HINTERNET request, const WideString& login, const WideString& password) {
  const auto bytes = [](const WideString& text) { return static_cast<DWORD>((text.Length() + 1) * sizeof(wchar_t)); };
  if (!::InternetSetOptionW(request, INTERNET_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(login.Get()), bytes(login)))
    return;
  ::InternetSetOptionW(request, INTERNET_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(password.Get()),
                       bytes(password));
}

}  // namespace

HRESULT PercentEncodeUtf8(const wchar_t* text, size_t length, wchar_t* out, size_t capacity, size_t* count) {
  *count = 0;
  if (capacity > 0) out[0] = L'\0';
  // Four bytes of UTF-8 per unit are more than enough, and their count must
  // fit the conversion's int.
  if (length > 0x7FFFFFFF / 4) return E_OUTOFMEMORY;
  const size_t storage = length * 4;
  UniqueHeapBlock block(HeapAllocate(storage > 0 ? storage : 1));
  if (!block) return E_OUTOFMEMORY;
  auto* bytes = static_cast<uint8_t*>(block.get());
  int converted = 0;
  if (length > 0) {
    converted = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), reinterpret_cast<char*>(bytes),
                                      static_cast<int>(storage), nullptr, nullptr);
  }
  size_t needed = 1;  // the NUL
  for (int i = 0; i < converted; ++i) needed += Encodes(bytes[i]) ? 3 : 1;
  if (needed > capacity) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
  size_t at = 0;
  for (int i = 0; i < converted; ++i) {
    const uint8_t byte = bytes[i];
    if (Encodes(byte)) {
      out[at++] = L'%';
      out[at++] = HexDigit(byte >> 4);
      out[at++] = HexDigit(byte & 0xF);
    } else {
      out[at++] = static_cast<wchar_t>(byte);
    }
  }
  out[at] = L'\0';
  *count = at;
  return S_OK;
}

HRESULT ChooseProxy(const ProxySettings& settings, ProxyChoice* choice) {
  choice->proxy.Clear();
  if (settings.mode == 0) {
    choice->accessType = INTERNET_OPEN_TYPE_DIRECT;
    return S_OK;
  }
  if (settings.mode != 2) {
    choice->accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    return S_OK;
  }
  choice->accessType = INTERNET_OPEN_TYPE_PROXY;
  if (!choice->proxy.Assign(settings.host)) return E_OUTOFMEMORY;
  // The settings give a TCP port, or none (0).
  if (settings.port <= 0) return S_OK;
  wchar_t port[16];
  const int length = ::wsprintfW(port, L":%d", static_cast<int>(settings.port));
  return choice->proxy.Append(port, static_cast<size_t>(length)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT OpenInternetSession(const ProxyChoice& choice, UniqueInternet* session) {
  UniqueInternet opened(::InternetOpenW(nullptr, choice.accessType, choice.proxy.Get(), nullptr, 0));
  RETURN_LAST_ERROR_IF_NULL(opened.get());
  DWORD timeout = kConnectTimeoutMs;
  ::InternetSetOptionW(opened.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
  *session = static_cast<UniqueInternet&&>(opened);
  return S_OK;
}

DWORD FormatBeaconHeaders(const wchar_t* referer, const wchar_t* ieVersion, const wchar_t* ntVersion,
                          wchar_t (&out)[kHeaderChars]) {
  const wchar_t* parts[] = {L"Referer: ", referer, kUserAgentHead, ieVersion, kUserAgentMiddle, ntVersion,
                            kUserAgentTail};
  DWORD length = 0;
  for (const wchar_t* part : parts) {
    for (; part != nullptr && *part != L'\0' && length < kHeaderChars - 1; ++part) out[length++] = *part;
  }
  for (size_t i = length; i < kHeaderChars; ++i) out[i] = L'\0';
  return length;
}

bool IsReservedInvalidHost(const wchar_t* host) {
  constexpr wchar_t kDomain[] = L"invalid";
  constexpr size_t kDomainChars = sizeof(kDomain) / sizeof(wchar_t) - 1;
  size_t length = TextLength(host);
  if (length > 0 && host[length - 1] == L'.') --length;  // the root's dot
  if (length < kDomainChars || !EqualsIgnoringAsciiCase(host + length - kDomainChars, kDomain, kDomainChars))
    return false;
  return length == kDomainChars || host[length - kDomainChars - 1] == L'.';
}

namespace {

// The browser version in the registry view given; false when that view
// holds no "Version" text.
bool ReadIeVersionIn(REGSAM view, WideString* out) {
  wchar_t text[MAX_PATH] = {};
  DWORD type = REG_NONE;
  DWORD bytes = sizeof(text);
  UniqueHkey key;
  LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", 0, KEY_READ | view,
                                key.put());
  if (status == ERROR_SUCCESS)
    status = ::RegQueryValueExW(key.get(), L"Version", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
  return IeVersionOfValue(status, type, text, out);
}

}  // namespace

void ReadIeVersion(WideString* out) {
  // A system without a 32-bit part has no version in the 32-bit view.
  if (!ReadIeVersionIn(KEY_WOW64_32KEY, out)) ReadIeVersionIn(0, out);
}

bool IeVersionOfValue(LONG status, DWORD type, const wchar_t (&text)[MAX_PATH], WideString* out) {
  out->Assign(L"0.0");
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  size_t length = 0;
  while (length < MAX_PATH && text[length] != L'\0') ++length;
  if (length == MAX_PATH) return false;  // no room left for its NUL
  return out->Assign(text, length < 3 ? length : 3);
}

void ReadNtVersion(WideString* out) {
  OSVERSIONINFOEXW version;
  ReadWindowsVersion(&version);  // a version that cannot be read stays 0.0
  wchar_t text[32];
  const int length = ::wsprintfW(text, L"%d.%d", static_cast<int>(version.dwMajorVersion),
                                 static_cast<int>(version.dwMinorVersion));
  out->Assign(text, static_cast<size_t>(length));
}

CStatistics::CStatistics(StatisticCache& cache, const wchar_t* logFolder) : cache_(cache), logFile_(logFolder) {
  ReadIeVersion(&ieVersion_);
  ReadNtVersion(&ntVersion_);
}

int32_t CStatistics::ReportToCounter(const wchar_t* referer, int64_t requestTime, const Deadline& deadline,
                                     volatile LONG* progress) {
  StatisticRequest request;
  request.requestTime = requestTime;
  if (!request.url.Assign(kCounterPixelUrl) || !request.referer.Assign(referer)) return 0;
  return SendRequest(request, deadline, progress);
}

int32_t CStatistics::SendRequest(const StatisticRequest& request, const Deadline& deadline, volatile LONG* progress) {
  HeldKeptRequest kept;
  const HRESULT keeping = cache_.KeepRequest(request.url.Get(), request.referer.Get(), request.requestTime, &kept);
  // A request kept is the cache's to finish; one given up meanwhile is
  // named in the log already, and goes no further.
  const LONG now = ::InterlockedCompareExchange(progress, SUCCEEDED(keeping) ? kRequestKept : kRequestTaken,
                                                kRequestTaken);
  if (now == kRequestGivenUp) {
    cache_.ForgetRequest(&kept);
    return 0;
  }
  const int32_t delivered = Deliver(request, deadline);
  if (delivered == 0) {
    StoreKeptRequest(cache_, logFile_, request.url.Get(), request.referer.Get(), request.requestTime, &kept,
                     kStoreLockWaitMs, deadline);
  } else {
    cache_.ForgetRequest(&kept);
    FoldKeptRequests(cache_, logFile_, kStoreLockWaitMs, deadline);
  }
  return delivered;
}

int32_t CStatistics::Deliver(const StatisticRequest& request, const Deadline& deadline) {
  WideString configFile;
  GetConfigFilePath(&configFile, false);
  ProxySettings settings;
  ReadProxySettings(configFile.Get(), &settings);
  PreparedRequest prepared;
  if (FAILED(PrepareRequest(request, settings, ieVersion_.Get(), ntVersion_.Get(), &prepared))) return 0;
  return ExchangeWithin(std::move(prepared), deadline.RemainingMs(kStoreReserveMs));
}

HRESULT PrepareRequest(const StatisticRequest& request, const ProxySettings& settings, const wchar_t* ieVersion,
                       const wchar_t* ntVersion, PreparedRequest* prepared) {
  wchar_t encoded[kEncodedUrlChars];
  size_t count = 0;
  const HRESULT encoding = PercentEncodeUtf8(request.url.Get(), request.url.Length(), encoded, kEncodedUrlChars, &count);
  if (encoding == E_OUTOFMEMORY) {
    // Without working storage the URL goes out as it stands, if it fits.
    if (request.url.Length() >= kEncodedUrlChars) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
    for (size_t i = 0; i <= request.url.Length(); ++i) encoded[i] = request.url.Get()[i];
  } else {
    RETURN_IF_FAILED(encoding);
  }

  // Only the host and the path with its query are taken: the scheme and
  // port of the URL are not used.
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = prepared->host;
  parts.dwHostNameLength = kUrlPartChars;
  parts.lpszUrlPath = prepared->path;
  parts.dwUrlPathLength = kUrlPartChars;
  RETURN_IF_WIN32_BOOL_FALSE(::InternetCrackUrlW(encoded, 0, 0, &parts));
  if (IsReservedInvalidHost(prepared->host)) return HResultFromWin32(ERROR_INTERNET_NAME_NOT_RESOLVED);

  RETURN_IF_FAILED(ChooseProxy(settings, &prepared->proxy));
  prepared->sendCredentials = settings.mode != 0 && settings.needAuth != 0;
  if (prepared->sendCredentials &&
      (!prepared->login.Assign(settings.login) || !prepared->password.Assign(settings.password)))
    return E_OUTOFMEMORY;
  prepared->headerLength = FormatBeaconHeaders(request.referer.Get(), ieVersion, ntVersion, prepared->headers);
  return S_OK;
}

int32_t ExchangeRequest(const PreparedRequest& prepared, ExchangeHandles* handles) {
  if (FAILED(OpenInternetSession(prepared.proxy, &handles->session))) return 0;
  // Port 0: the service's default port, whatever the URL says.
  handles->connection.reset(
      ::InternetConnectW(handles->session.get(), prepared.host, 0, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!handles->connection) return 0;
  const wchar_t* acceptedTypes[] = {L"*/*", nullptr};
  // Neither of the flags changes the request on the wire.
  handles->request.reset(::HttpOpenRequestW(handles->connection.get(), nullptr, prepared.path, L"HTTP/1.1", nullptr,
                                            acceptedTypes, kRequestFlags, 0));
  if (!handles->request) return 0;
  // Set on the session they would be ignored.
  DWORD timeout = prepared.transferTimeoutMs;
  ::InternetSetOptionW(handles->request.get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
  ::InternetSetOptionW(handles->request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
  if (prepared.sendCredentials) SetProxyCredentials(handles->request.get(), prepared.login, prepared.password);

  if (!::HttpSendRequestW(handles->request.get(), prepared.headers, prepared.headerLength, nullptr, 0)) return 0;
  // A server that closes without answering still lets the send succeed.
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::HttpQueryInfoW(handles->request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr))
    return 0;
  return status != 0 ? 1 : 0;
}

int32_t ExchangeWithin(PreparedRequest&& prepared, DWORD budgetMs) {
  // An exchange that could not be waited for would be stored as undelivered
  // and might be delivered as well.
  if (budgetMs == 0) return 0;
  SharedBlock<ExchangeState> state = SharedBlock<ExchangeState>::Make();
  if (!state) return 0;
  state->request = std::move(prepared);
  state->finished.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle worker;
  if (!state->finished || FAILED(StartWorkerWith(state, ExchangeOnWorker, &worker))) return 0;
  const Deadline budget(budgetMs);
  ::WaitForSingleObject(state->finished.get(), budget.RemainingMs());
  // The worker's outcome counts only if it came before the waiting ended.
  const LONG outcome = ::InterlockedCompareExchange(&state->outcome, kAbandoned, kPending);
  // Closing its handles may still read out the rest of an answer.
  WaitForModuleWorker(worker, budget.RemainingMs());
  return outcome == kAnswered ? 1 : 0;
}

}  // namespace tmn
