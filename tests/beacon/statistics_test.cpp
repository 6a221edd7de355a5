// The beacon's parts: the URL encoding, the headers, the proxy choice and
// the session it opens, the version texts of the User-Agent; and single
// requests over WinINet to listeners on 127.0.0.1.
#include "beacon/loopback_listener.h"

#include <gtest/gtest.h>


#include <string>
#include <vector>

#include "beacon/report_test_support.h"
#include "beacon/statistics.h"
#include "report/process_objects.h"
#include "support/installed_product.h"
#include "support/product_support.h"

using tmtest::LoopbackListener;
using tmtest::MakeWide;
using tmtest::Text;

namespace {

std::wstring UserAgent(const std::wstring& ie, const std::wstring& nt) {
  return L"User-Agent: Mozilla/4.0 (compatible; MSIE " + ie + L"; Windows NT " + nt +
         L"; Trident/4.0; SLCC2; .NET CLR 2.0.50727; .NET CLR 3.5.30729; .NET CLR 3.0.30729; Media Center PC 6.0; "
         L"InfoPath.2; Tablet PC 2.0; .NET4.0C)";
}
const std::wstring kUserAgent = UserAgent(L"9.1", L"6.1");

// The Windows version of the test's prefix (TM_WINE_KIND).
std::wstring PrefixNtVersion() {
  char kind[16] = {};
  GetEnvironmentVariableA("TM_WINE_KIND", kind, sizeof(kind));
  const std::string prefix = kind;
  return prefix == "xp64" ? L"5.2" : prefix == "win32" ? L"5.1" : L"6.1";
}

// The encoder's output buffer with a guard behind it, both filled with junk.
struct EncodeBuffer {
  wchar_t out[tmn::kEncodedUrlChars];
  wchar_t guard[4];
  EncodeBuffer() {
    for (wchar_t& c : out) c = 0xBDBD;
    for (wchar_t& c : guard) c = 0xBDBD;
  }
  bool GuardIntact() const {
    for (wchar_t c : guard)
      if (c != 0xBDBD) return false;
    return true;
  }
};

std::wstring Encode(const std::wstring& text) {
  EncodeBuffer buffer;
  size_t count = 12345;
  EXPECT_EQ(S_OK, tmn::PercentEncodeUtf8(text.data(), text.size(), buffer.out, tmn::kEncodedUrlChars, &count));
  EXPECT_TRUE(buffer.GuardIntact());
  EXPECT_EQ(std::wstring(buffer.out).size(), count);
  return buffer.out;
}

TEST(PercentEncodeUtf8, EncodesTheUtf8BytesUpToBlankFromHighAndThePercentSign) {
  EXPECT_EQ(L"a%20b%25%C3%A9", Encode(L"a b%\x00e9"));
  EXPECT_EQ(L"%00%01%09%0A%0D%1F%20!~\x7F", Encode(std::wstring(L"\0\x01\t\n\r\x1f !~\x7f", 10)));
  EXPECT_EQ(L"%E2%82%AC%F0%9F%98%80", Encode(L"\x20AC\xD83D\xDE00"));
  // Nothing else is encoded.
  EXPECT_EQ(L"http://h/p?a=1&b=\"2\"#f'<>+", Encode(L"http://h/p?a=1&b=\"2\"#f'<>+"));
  EXPECT_EQ(L"", Encode(L""));
  // Only the units it is given.
  EncodeBuffer buffer;
  size_t count = 0;
  EXPECT_EQ(S_OK, tmn::PercentEncodeUtf8(L"a b", 2, buffer.out, tmn::kEncodedUrlChars, &count));
  EXPECT_EQ(L"a%20", std::wstring(buffer.out));
  EXPECT_EQ(4u, count);
}

TEST(PercentEncodeUtf8, AnEncodedTextThatDoesNotFitWithItsNulIsRefusedAndNothingIsWrittenPastTheBuffer) {
  struct Case {
    std::wstring text;
    size_t encoded;  // characters without the NUL
  };
  const std::wstring plain(2083, L'a');
  const Case cases[] = {
      {plain, 2083},
      {plain + L"a", 2084},
      {std::wstring(2077, L'a') + L"\x00e9", 2083},  // the last escape ends right before the NUL
      {std::wstring(2078, L'a') + L"\x00e9", 2084},  // one character more: refused whole
      {std::wstring(2081, L'a') + L" ", 2084},
  };
  for (const Case& c : cases) {
    EncodeBuffer buffer;
    size_t count = 12345;
    const HRESULT result =
        tmn::PercentEncodeUtf8(c.text.data(), c.text.size(), buffer.out, tmn::kEncodedUrlChars, &count);
    EXPECT_TRUE(buffer.GuardIntact()) << c.encoded;
    if (c.encoded < tmn::kEncodedUrlChars) {
      EXPECT_EQ(S_OK, result) << c.encoded;
      EXPECT_EQ(c.encoded, count);
      EXPECT_EQ(L'\0', buffer.out[c.encoded]);
    } else {
      EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), result) << c.encoded;
      EXPECT_EQ(0u, count);
      EXPECT_EQ(L'\0', buffer.out[0]);
    }
  }
}

TEST(FormatBeaconHeaders, WritesTheRefererAndTheUserAgentLines) {
  wchar_t out[tmn::kHeaderChars];
  const DWORD length = tmn::FormatBeaconHeaders(L"http://r/install/2.5.0.1234", L"9.1", L"6.1", out);
  const std::wstring expected = std::wstring(L"Referer: http://r/install/2.5.0.1234\r\n") + kUserAgent + L"\r\n";
  EXPECT_EQ(expected, std::wstring(out));
  EXPECT_EQ(expected.size(), length);
}

TEST(FormatBeaconHeaders, CutsTheTextAt1039Characters) {
  // The whole text without a referer, and referers that bring it to 1038
  // to 1041 characters.
  wchar_t out[tmn::kHeaderChars];
  const size_t bare = tmn::FormatBeaconHeaders(L"", L"9.1", L"6.1", out);
  for (size_t total : {1038u, 1039u, 1040u, 1041u, 5000u}) {
    struct {
      wchar_t out[tmn::kHeaderChars];
      wchar_t guard[4];
    } buffer;
    for (wchar_t& c : buffer.out) c = 0xBDBD;
    for (wchar_t& c : buffer.guard) c = 0xBDBD;
    const std::wstring referer(total - bare, L'r');
    const DWORD length = tmn::FormatBeaconHeaders(referer.c_str(), L"9.1", L"6.1", buffer.out);
    const std::wstring whole = L"Referer: " + referer + L"\r\n" + kUserAgent + L"\r\n";
    ASSERT_EQ(total, whole.size());
    const size_t kept = total < 1039 ? total : 1039;
    EXPECT_EQ(kept, length) << total;
    EXPECT_EQ(whole.substr(0, kept), std::wstring(buffer.out)) << total;
    for (size_t i = kept; i < tmn::kHeaderChars; ++i) ASSERT_EQ(L'\0', buffer.out[i]) << total << " at " << i;
    for (wchar_t c : buffer.guard) EXPECT_EQ(0xBDBD, c) << total;
  }
}

TEST(ChooseProxy, DirectNamedOrTheSystemsAccordingToTheMode) {
  struct Case {
    int32_t mode;
    const wchar_t* host;
    int32_t port;
    HRESULT result;
    DWORD accessType;
    const wchar_t* proxy;
  };
  const Case cases[] = {
      {0, L"proxy.test", 3128, S_OK, INTERNET_OPEN_TYPE_DIRECT, L""},
      {0, L"proxy.test", 65616, S_OK, INTERNET_OPEN_TYPE_DIRECT, L""},
      {2, L"proxy.test", 3128, S_OK, INTERNET_OPEN_TYPE_PROXY, L"proxy.test:3128"},
      {2, L"proxy.test", 0, S_OK, INTERNET_OPEN_TYPE_PROXY, L"proxy.test"},
      {2, L"proxy.test", 1, S_OK, INTERNET_OPEN_TYPE_PROXY, L"proxy.test:1"},
      {2, L"proxy.test", 65535, S_OK, INTERNET_OPEN_TYPE_PROXY, L"proxy.test:65535"},
      {2, L"", 8080, S_OK, INTERNET_OPEN_TYPE_PROXY, L":8080"},
      {1, L"proxy.test", 3128, S_OK, INTERNET_OPEN_TYPE_PRECONFIG, L""},
      {1, L"proxy.test", 65616, S_OK, INTERNET_OPEN_TYPE_PRECONFIG, L""},
      {3, L"proxy.test", 3128, S_OK, INTERNET_OPEN_TYPE_PRECONFIG, L""},
      {-1, L"proxy.test", 3128, S_OK, INTERNET_OPEN_TYPE_PRECONFIG, L""},
  };
  for (const Case& c : cases) {
    tmn::ProxySettings settings;
    settings.mode = c.mode;
    settings.host = MakeWide(c.host);
    settings.port = c.port;
    tmn::ProxyChoice choice;
    choice.proxy = MakeWide(L"junk");
    EXPECT_EQ(c.result, tmn::ChooseProxy(settings, &choice)) << c.mode << " " << c.port;
    EXPECT_EQ(c.accessType, choice.accessType) << c.mode << " " << c.port;
    EXPECT_EQ(c.proxy, Text(choice.proxy)) << c.mode << " " << c.port;
  }
}

TEST(OpenInternetSession, SetsTheConnectTimeOutAndTheProxy) {
  for (const wchar_t* proxy : {L"", L"127.0.0.1:3128"}) {
    tmn::ProxyChoice choice;
    choice.accessType = *proxy == L'\0' ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY;
    choice.proxy = MakeWide(proxy);
    tmn::UniqueInternet session;
    ASSERT_EQ(S_OK, tmn::OpenInternetSession(choice, &session));
    DWORD timeout = 0xdeadbeef, size = sizeof(timeout);
    ASSERT_TRUE(InternetQueryOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, &size));
    EXPECT_EQ(10000u, timeout);
    alignas(INTERNET_PROXY_INFO) BYTE info[1024] = {};
    size = sizeof(info);
    ASSERT_TRUE(InternetQueryOptionW(session.get(), INTERNET_OPTION_PROXY, info, &size));
    const auto* read = reinterpret_cast<const INTERNET_PROXY_INFO*>(info);
    EXPECT_EQ(choice.accessType, read->dwAccessType);
    if (*proxy != L'\0') {
      EXPECT_EQ(std::wstring(proxy), read->lpszProxy ? read->lpszProxy : L"(null)");
    }
  }
}

TEST(IsReservedInvalidHost, IsTheInvalidDomainAndItsNamesInAnyCase) {
  for (const wchar_t* host : {L"invalid", L"counter.vardo.invalid", L"x.INVALID", L"x.Invalid.", L"invalid."})
    EXPECT_TRUE(tmn::IsReservedInvalidHost(host)) << tmtest::Narrow(host);
  for (const wchar_t* host : {L"", L".", L"127.0.0.1", L"notinvalid", L"invalid.com", L"x.invalidx", L"x.invalid..",
                              L"localhost"})
    EXPECT_FALSE(tmn::IsReservedInvalidHost(host)) << tmtest::Narrow(host);
}

// The time-outs are set where WinINet honours them (on the request), and an
// answer that may be kept goes to no cache of the user's.
TEST(ExchangeRequest, EndsAtTheTransferTimeOutAndKeepsNothingOfTheAnswer) {
  for (const tmtest::Answering answering : {tmtest::Answering::kSilent, tmtest::Answering::kCacheable}) {
    const bool silent = answering == tmtest::Answering::kSilent;
    tmn::StatisticRequest request;
    request.url = MakeWide(L"http://127.0.0.1/kept?" + std::to_wstring(GetTickCount()));
    int32_t delivered = -1;
    const tmn::UniqueHandle ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread exchange;
    {
      LoopbackListener proxy(0, 200, answering);
      tmn::ProxySettings settings;
      settings.mode = 2;
      settings.host = MakeWide(L"127.0.0.1");
      settings.port = proxy.port();
      tmn::PreparedRequest prepared;
      ASSERT_EQ(S_OK, tmn::PrepareRequest(request, settings, L"9.1", L"6.1", &prepared));
      prepared.transferTimeoutMs = 300;
      exchange = std::thread([&delivered, &ended, prepared = std::move(prepared)] {
        tmn::ExchangeHandles handles;
        delivered = tmn::ExchangeRequest(prepared, &handles);
        SetEvent(ended.get());
      });
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ended.get(), 10000)) << silent;
    }  // the listener goes: a send that waits without limit ends
    exchange.join();
    EXPECT_EQ(silent ? 0 : 1, delivered);
    DWORD size = 0;
    EXPECT_FALSE(GetUrlCacheEntryInfoW(request.url.Get(), nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError()) << silent;
  }
}

// With no time left nothing goes out: a request both stored and delivered
// would count twice.
TEST(ExchangeWithin, SendsNothingWithoutTime) {
  LoopbackListener proxy(0, 200);
  ASSERT_TRUE(proxy.listening());
  tmn::ProxySettings settings;
  settings.mode = 2;
  settings.host = MakeWide(L"127.0.0.1");
  settings.port = proxy.port();
  tmn::StatisticRequest request;
  request.url = MakeWide(L"http://127.0.0.1/none");
  for (const DWORD budget : {0u, 5000u}) {
    tmn::PreparedRequest prepared;
    ASSERT_EQ(S_OK, tmn::PrepareRequest(request, settings, L"9.1", L"6.1", &prepared));
    EXPECT_EQ(budget == 0 ? 0 : 1, tmn::ExchangeWithin(std::move(prepared), budget)) << budget;
  }
  Sleep(200);  // a request sent without waiting would have arrived by now
  EXPECT_EQ(1u, proxy.Requests().size());
}

class BrowserVersion : public ::testing::Test {
 protected:
  std::wstring Read() {
    tmn::WideString out = MakeWide(L"junk");
    tmn::ReadIeVersion(&out);
    return Text(out);
  }
  // The 32-bit view, which a 64-bit installer must name as well; the
  // system's own, read where the 32-bit view has no text.
  tmtest::ScopedValue version_{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", L"Version", KEY_WOW64_32KEY};
  tmtest::ScopedValue native_{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", L"Version"};
};

TEST_F(BrowserVersion, IsTheFirstThreeCharactersOfTheVersionText) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"8.0.7601.17514", L"8.0"}, {L"9.11.9600.18231", L"9.1"}, {L"11", L"11"}, {L"", L""}};
  for (const auto& c : cases) {
    version_.SetText(c.first);
    EXPECT_EQ(c.second, Read()) << tmtest::Narrow(c.first);
  }
  const wchar_t expand[] = L"10.0.1";
  version_.SetBytes(REG_EXPAND_SZ, expand, sizeof(expand));
  EXPECT_EQ(L"10.", Read());
  version_.SetText(L"7" + std::wstring(258, L'x'));  // 259 characters and the NUL fill the buffer
  EXPECT_EQ(L"7xx", Read());
}

TEST_F(BrowserVersion, IsZeroDotZeroWithoutAVersionText) {
  version_.Delete();
  native_.Delete();
  EXPECT_EQ(L"0.0", Read());
  const DWORD number = 11;
  version_.SetBytes(REG_DWORD, &number, sizeof(number));
  EXPECT_EQ(L"0.0", Read());
  version_.SetText(std::wstring(260, L'8'));  // no room for its NUL
  EXPECT_EQ(L"0.0", Read());
  // Without a text in the 32-bit view, the system's own view's (in a
  // 32-bit process both are one).
  version_.Delete();
  native_.SetText(L"11.0.9600");
  EXPECT_EQ(L"11.", Read());
}

// Read when the client is made, on the installer's thread, and never again:
// an empty text is kept as one.
TEST_F(BrowserVersion, IsReadOncePerClient) {
  for (const wchar_t* first : {L"8.0.7601.17514", L""}) {
    version_.SetText(first);
    tmn::CStatistics statistics(tmn::g_statisticCache, nullptr);
    const std::wstring read = Text(statistics.GetIeVersion());
    EXPECT_EQ(std::wstring(first).substr(0, 3), read);
    version_.SetText(L"11.0");
    EXPECT_EQ(read, Text(statistics.GetIeVersion()));
  }
}

TEST(ReadNtVersion, IsTheMajorAndMinorVersionOfWindows) {
  tmn::WideString out = MakeWide(L"junk");
  tmn::ReadNtVersion(&out);
  EXPECT_EQ(PrefixNtVersion(), Text(out));
}

// One request sent by a client whose undelivered requests go to a cache
// without a database library (so each store fails at once) and whose log
// lies in a scratch folder: the log's lines show what was stored.
class SendRequest : public ::testing::Test {
 protected:
  int32_t Send(const std::wstring& url, tmn::CStatistics* client = nullptr) {
    tmn::StatisticRequest request;
    request.url = MakeWide(url);
    request.referer = MakeWide(L"http://127.0.0.1/install/2.5.0.1234");
    request.requestTime = 1700000000;
    volatile LONG progress = tmn::kRequestTaken;
    const int32_t delivered = (client != nullptr ? *client : statistics_)
                                  .SendRequest(request, tmn::Deadline(3000 + tmn::kStoreReserveMs), &progress);
    EXPECT_EQ(tmn::kRequestKept, progress);
    return delivered;
  }
  void UseProxy(int32_t port) {
    product_.WriteConfig("[Proxy]\nMode=2\nHost=127.0.0.1\nPort=" + std::to_string(port) + "\n");
  }
  // The records of the log's lines.
  std::vector<std::wstring> Logged() const {
    std::vector<std::wstring> records;
    for (const std::wstring& line : tmtest::ReadLog(dir_ / L"beacon_tests.exe_statistic.log").lines)
      records.push_back(tmtest::RecordOfLine(line));
    return records;
  }
  static std::wstring StoreFailed(const std::wstring& url) {
    return L"[ERROR.SaveStatistic] url:" + url +
           L", refer_url:http://127.0.0.1/install/2.5.0.1234, time:1700000000, count:1, err:0x80004005";
  }

  tmtest::InstalledProduct product_;
  tmtest::TempDir dir_{L"beacon"};
  tmn::StatisticCache cache_{(dir_ / L"setup.exe").c_str(), (dir_ / L"data").c_str()};
  tmn::CStatistics statistics_{cache_, dir_.path().c_str()};
};

std::string Head(const std::vector<std::string>& lines) {
  std::string head;
  for (const std::string& line : lines) head += line + "\r\n";
  return head;
}

TEST_F(SendRequest, GoesDirectlyToTheDefaultPortWhateverPortTheUrlNames) {
  tmtest::ScopedValue ie(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", L"Version", KEY_WOW64_32KEY);
  ie.SetText(L"8.0.7601.17514");
  product_.WriteConfig("[Proxy]\nMode=0\n");
  LoopbackListener named(0, 200), standard(80, 200);
  ASSERT_TRUE(named.listening());
  ASSERT_TRUE(standard.listening()) << "port 80 of 127.0.0.1 is taken";
  const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(named.port()) + L"/2813985/tongji.gif?a b=\x00e9";
  tmn::CStatistics client(cache_, dir_.path().c_str());  // reads the browser version now
  EXPECT_EQ(1, Send(url, &client));
  const std::string expected = Head({"GET /2813985/tongji.gif?a%20b=%C3%A9 HTTP/1.1", "Accept: */*",
                                     "Host: 127.0.0.1", "Referer: http://127.0.0.1/install/2.5.0.1234",
                                     tmtest::Narrow(UserAgent(L"8.0", PrefixNtVersion()))});
  EXPECT_EQ(std::vector<std::string>{expected.substr(0, expected.size() - 2)}, standard.Requests());
  EXPECT_EQ(std::vector<std::string>{}, named.Requests());
  EXPECT_EQ(std::vector<std::wstring>{}, Logged());
}

TEST_F(SendRequest, AnyAnswerCountsAsDeliveredAndNothingIsStored) {
  LoopbackListener proxy(0, 404);
  ASSERT_TRUE(proxy.listening());
  UseProxy(proxy.port());
  EXPECT_EQ(1, Send(L"http://127.0.0.1/2813985/tongji.gif"));
  ASSERT_EQ(1u, proxy.Requests().size());
  EXPECT_EQ(0u, proxy.Requests()[0].find("GET http://127.0.0.1:80/2813985/tongji.gif HTTP/1.1\r\n"))
      << proxy.Requests()[0];
  EXPECT_EQ(std::vector<std::wstring>{}, Logged());
}

// An endless body is delivered at its head: the worker hands its outcome
// over before closing the request reads the body out.
TEST_F(SendRequest, OnlyAnAnswerIsDeliveryAndARedirectIsAnAnswerNotFollowed) {
  using tmtest::Answering;
  struct Case {
    Answering answering;
    int status;
    int32_t delivered;
  };
  const Case cases[] = {
      {Answering::kStatus, 302, 1},
      {Answering::kEndlessBody, 200, 1},
      {Answering::kCloseWithoutAnswer, 200, 0},
  };
  const std::wstring url = L"http://127.0.0.1/2813985/tongji.gif";
  std::vector<std::wstring> stored;
  for (const Case& c : cases) {
    const int which = static_cast<int>(c.answering);
    LoopbackListener proxy(0, c.status, c.answering);
    ASSERT_TRUE(proxy.listening());
    UseProxy(proxy.port());
    EXPECT_EQ(c.delivered, Send(url)) << which;
    EXPECT_EQ(1u, proxy.Requests().size()) << which;
    if (c.delivered == 0) stored.push_back(StoreFailed(url));
    EXPECT_EQ(stored, Logged()) << which;
  }
}

TEST_F(SendRequest, AnUndeliveredRequestIsStoredAndLoggedWithItsUrlUnencoded) {
  UseProxy(tmtest::ClosedPort());
  const std::wstring url = L"http://127.0.0.1/2813985/tongji.gif?a b";
  EXPECT_EQ(0, Send(url));
  EXPECT_EQ(std::vector<std::wstring>{StoreFailed(url)}, Logged());
}

TEST_F(SendRequest, AUrlThatDoesNotFitItsBuffersIsNeitherSentNorCutButStored) {
  LoopbackListener proxy(0, 200);
  ASSERT_TRUE(proxy.listening());
  UseProxy(proxy.port());
  const std::wstring base = L"http://127.0.0.1";
  // The path with its query fits 1023 characters and its NUL, or not; the
  // encoded URL fits 2083 characters and its NUL, or not.
  const std::wstring fits = base + L"/" + std::wstring(1022, L'p');
  const std::wstring pathTooLong = base + L"/" + std::wstring(1023, L'p');
  const std::wstring encodedTooLong = base + L"/?" + std::wstring(690, L' ');
  const std::wstring hostTooLong = L"http://" + std::wstring(1024, L'h') + L"/";
  EXPECT_EQ(1, Send(fits));
  EXPECT_EQ(0, Send(pathTooLong));
  EXPECT_EQ(0, Send(encodedTooLong));
  EXPECT_EQ(0, Send(hostTooLong));
  ASSERT_EQ(1u, proxy.Requests().size());
  EXPECT_EQ(0u, proxy.Requests()[0].find("GET " + tmtest::Narrow(base) + ":80/" + std::string(1022, 'p') +
                                          " HTTP/1.1\r\n"));
  EXPECT_EQ((std::vector<std::wstring>{StoreFailed(pathTooLong), StoreFailed(encodedTooLong),
                                       StoreFailed(hostTooLong)}),
            Logged());
}

TEST_F(SendRequest, AHostInTheInvalidDomainIsNotSentEvenThroughAProxy) {
  LoopbackListener proxy(0, 200);
  ASSERT_TRUE(proxy.listening());
  UseProxy(proxy.port());
  const std::wstring url = L"http://counter.vardo.invalid/2813985/tongji.gif";
  EXPECT_EQ(0, Send(url));
  EXPECT_EQ(std::vector<std::string>{}, proxy.Requests());
  EXPECT_EQ(std::vector<std::wstring>{StoreFailed(url)}, Logged());
}

}  // namespace
