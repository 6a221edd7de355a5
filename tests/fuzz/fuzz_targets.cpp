// Each target feeds one parser of bytes users can write, then checks what a
// parse gives: values within their bounds, a refused input leaving the
// output as it was, and, where the code formats what it parses, the
// formatted bytes parsing back to the same values. To add a target: a
// function here, a row in kTargets, its name in CMakeLists.txt and a
// corpus folder.
#include "fuzz/fuzz_targets.h"

#include <windows.h>
#include <wininet.h>

#include <string.h>

#include <algorithm>
#include <utility>

#include "base/number.h"
#include "base/unique.h"
#include "base/unix_time.h"
#include "beacon/endpoints.h"
#include "beacon/kept_requests.h"
#include "beacon/statistics.h"
#include "fs/file_version.h"
#include "fs/library_machine.h"
#include "removal/ledger_text.h"
#include "report/install_identity.h"
#include "report/system_description.h"
#include "settings/product_keys.h"
#include "settings/product_settings.h"

namespace tmfuzz {

namespace {

std::wstring Text(const tmn::WideString& text) { return std::wstring(text.Get(), text.Length()); }

// A text of at most most characters, with no NUL inside.
std::string Bounded(const char* what, const tmn::WideString& text, size_t most) {
  if (text.Length() > most) return std::string(what) + " of " + std::to_string(text.Length()) + " characters";
  if (tmn::TextLength(text.Get()) != text.Length()) return std::string(what) + " holds a NUL";
  return {};
}

// Whether the beacon could have kept the request, worked out apart from
// the store's own rule: its counter's URL, the install-report address with
// "/" and four numbers that FormatFileVersion writes back as they stand,
// and a time from the build to a day ahead of now.
bool BeaconCouldHaveKept(const tmn::KeptEntry& entry, int64_t now) {
  const std::wstring head = std::wstring(tmn::kInstallReportUrl) + L"/", referer = Text(entry.referer);
  if (Text(entry.url) != tmn::kCounterPixelUrl || referer.compare(0, head.size(), head) != 0) return false;
  const wchar_t* at = referer.c_str() + head.size();
  unsigned long parts[4];
  for (unsigned long& part : parts) {
    wchar_t* end = nullptr;
    part = wcstoul(at, &end, 10);
    if (end == at || part > 0xFFFF) return false;
    at = *end != L'\0' ? end + 1 : end;
  }
  tmn::WideString version;
  const tmn::FileVersion made = {static_cast<uint32_t>(parts[0] << 16 | parts[1]),
                                 static_cast<uint32_t>(parts[2] << 16 | parts[3])};
  return tmn::FormatFileVersion(made, &version) && head + Text(version) == referer &&
         entry.requestTime >= tmn::kFirstKeptRequestTime && entry.requestTime - tmn::kKeptRequestTimeAhead <= now;
}

// A store folds in a parsed request only when the beacon could have kept it,
// and every such one: as it was parsed, and again made now, so that the URL
// and the referer are judged whatever the corpus's times.
std::string FoldedOnlyAsTheBeaconKeeps(tmn::KeptEntry& entry) {
  const int64_t now = tmn::CurrentUnixTime();
  for (int made = 0; made < 2; ++made, entry.requestTime = now) {
    const bool folded = tmn::IsRequestOfThisBeacon(entry, now);
    if (folded != BeaconCouldHaveKept(entry, now))
      return folded ? "a request the beacon would not have kept is folded" : "a request the beacon keeps is refused";
  }
  return {};
}

std::string KeptRequest(const uint8_t* bytes, size_t count) {
  tmn::KeptEntry entry;
  entry.url.Assign(L"untouched");
  entry.referer.Assign(L"untouched");
  entry.requestTime = 0x5a5a;
  if (!tmn::ParseKeptRequest(bytes, count, &entry)) {
    const bool kept =
        entry.url.Equals(L"untouched") && entry.referer.Equals(L"untouched") && entry.requestTime == 0x5a5a;
    return kept ? "" : "a refused request changed the entry";
  }
  Accepted();
  if (entry.url.IsEmpty()) return "an empty URL";
  for (const std::string& broken :
       {Bounded("a URL", entry.url, tmn::kKeptTextChars), Bounded("a referer", entry.referer, tmn::kKeptTextChars)})
    if (!broken.empty()) return broken;
  tmn::UniqueHeapBlock made;
  size_t madeCount = 0;
  if (!tmn::FormatKeptRequest(entry.url.Get(), entry.referer.Get(), entry.requestTime, &made, &madeCount))
    return "the parsed request does not format again";
  if (madeCount != count || memcmp(made.get(), bytes, count) != 0)
    return "the parsed request formats to other bytes (" + std::to_string(madeCount) + " of " + std::to_string(count) +
           ")";
  return FoldedOnlyAsTheBeaconKeeps(entry);
}

// A file's first bytes: the DOS header, and the NT headers where its
// e_lfanew points. Every 64th input is also read from a file by
// ReadLibraryMachine, which must see the same.
std::string LibraryHeaders(const uint8_t* bytes, size_t count) {
  const LONG offset = tmn::NtHeadersOffset(bytes, count);
  if (offset < -1 || offset > 0x10000) return "NT headers offset " + std::to_string(offset);
  const size_t at = offset < 0 || static_cast<size_t>(offset) > count ? count : static_cast<size_t>(offset);
  const tmn::LibraryMachine machine = tmn::MachineOfImage(bytes, count, Guarded(1, bytes + at, count - at), count - at);
  if (offset < 0 && machine != tmn::LibraryMachine::kUnreadable) return "a machine without NT headers";
  if (machine != tmn::LibraryMachine::kUnreadable) Accepted();
  static unsigned runs = 0;
  if (++runs % 64 != 0) return {};
  static tmn::UniqueFile file;
  static wchar_t path[MAX_PATH];
  if (!file) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    wsprintfW(path, L"%stm_fuzz_%lu.dll", folder, GetCurrentProcessId());
    file.reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  }
  DWORD written = 0;
  if (!file || SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != 0 ||
      !WriteFile(file.get(), bytes, static_cast<DWORD>(count), &written, nullptr) || !SetEndOfFile(file.get()))
    return "cannot write the image file";
  if (tmn::ReadLibraryMachine(path) != machine) return "the file's machine differs from the bytes' machine";
  return {};
}

std::string VersionResource(const uint8_t* bytes, size_t count) {
  tmn::FileVersion version = {0xdeadbeef, 0xdeadbeef};
  if (!tmn::FixedFileVersionOf(bytes, count, &version)) return {};
  Accepted();
  tmn::WideString text;
  if (!tmn::FormatFileVersion(version, &text)) return "the version does not format";
  // Four numbers of 1 to 5 digits apart by dots, giving back the version.
  unsigned parts[4] = {};
  const wchar_t* at = text.Get();
  for (unsigned& part : parts) {
    const wchar_t* start = at;
    for (; *at >= L'0' && *at <= L'9' && at - start < 6; ++at) part = part * 10 + static_cast<unsigned>(*at - L'0');
    if (at == start || at - start > 5 || part > 0xFFFF || *at != (&part == parts + 3 ? L'\0' : L'.'))
      return "the version's text is not four 16-bit numbers";
    if (*at == L'.') ++at;
  }
  if (static_cast<uint32_t>(parts[0] << 16 | parts[1]) != version.high ||
      static_cast<uint32_t>(parts[2] << 16 | parts[3]) != version.low)
    return "the version's text gives another version";
  return {};
}

// Two UTF-16LE texts apart at the first NUL: the proxy's host and its
// "Port" value, each NUL-terminated as the profile read leaves it.
std::string ProxyHostAndPort(const uint8_t* bytes, size_t count) {
  std::wstring units(count / 2, L'\0');
  memcpy(&units[0], bytes, units.size() * sizeof(wchar_t));
  const size_t split = units.find(L'\0');
  const std::wstring host = units.substr(0, split);
  std::wstring port = split == std::wstring::npos ? L"" : units.substr(split + 1);
  port.resize(wcslen(port.c_str()));
  const auto* portText =
      reinterpret_cast<const wchar_t*>(Guarded(1, port.c_str(), (port.size() + 1) * sizeof(wchar_t)));
  const int32_t number = tmn::ParseProxyPort(portText);
  if (number < 0 || number > 65535) return "port " + std::to_string(number);
  if (number > 0) Accepted();
  tmn::ProxySettings settings;
  settings.mode = 2;
  settings.host.Assign(reinterpret_cast<const wchar_t*>(Guarded(2, host.c_str(), (host.size() + 1) * sizeof(wchar_t))));
  settings.port = number;
  tmn::ProxyChoice choice;
  if (tmn::ChooseProxy(settings, &choice) != S_OK || choice.accessType != INTERNET_OPEN_TYPE_PROXY)
    return "a parsed port refused";
  if (Text(choice.proxy) != host + (number > 0 ? L":" + std::to_wstring(number) : L""))
    return "the proxy text is not the host and the port";
  if (number > 0 && tmn::ParseProxyPort(choice.proxy.Get() + host.size() + 1) != number)
    return "the joined port parses to another port";
  return {};
}

// A registry value: its type (4 bytes), its size in bytes (4 bytes), then
// a pattern its data repeats (none: zeros). What RegQueryValueExW hands a
// reader that offers offered bytes of its zero-filled buffer: the data when
// it fits, else ERROR_MORE_DATA and the buffer undefined (here: as much of
// the data as was offered).
struct Delivery {
  LONG status;
  DWORD type;
  DWORD bytes;
};
template <size_t N>
Delivery Deliver(const uint8_t* in, size_t count, DWORD offered, wchar_t (&buffer)[N], wchar_t (*&placed)[N]) {
  memset(buffer, 0, sizeof(buffer));
  Delivery delivery = {ERROR_FILE_NOT_FOUND, REG_NONE, 0};
  if (count >= 8) {
    memcpy(&delivery.type, in, 4);
    memcpy(&delivery.bytes, in + 4, 4);
    auto* data = reinterpret_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < delivery.bytes && i < offered; ++i) data[i] = count > 8 ? in[8 + i % (count - 8)] : 0;
    delivery.status = delivery.bytes <= offered ? ERROR_SUCCESS : ERROR_MORE_DATA;
  }
  placed = reinterpret_cast<wchar_t(*)[N]>(Guarded(1, buffer, sizeof(buffer)));
  return delivery;
}

std::string IeVersion(const uint8_t* in, size_t count) {
  wchar_t buffer[MAX_PATH], (*text)[MAX_PATH];
  const Delivery d = Deliver(in, count, sizeof(buffer), buffer, text);
  tmn::WideString out;
  tmn::IeVersionOfValue(d.status, d.type, *text, &out);
  if (!out.Equals(L"0.0")) Accepted();
  if (!out.Equals(L"0.0") && Text(out) != std::wstring(*text, out.Length())) return "not the value's start";
  return Bounded("a version", out, 3);
}

std::string Uid(const uint8_t* in, size_t count) {
  wchar_t buffer[tmn::kUidChars], (*uid)[tmn::kUidChars];
  const Delivery d = Deliver(in, count, tmn::kUidOfferedBytes, buffer, uid);
  tmn::KeepUidValue(d.status, d.type, *uid);
  if ((*uid)[0] != L'\0') Accepted();
  if (wmemchr(*uid, L'\0', tmn::kUidChars) == nullptr) return "a uid without its NUL";
  const std::wstring kept(*uid, tmn::kUidChars);
  if (kept != std::wstring(buffer, tmn::kUidChars) && kept != std::wstring(tmn::kUidChars, L'\0'))
    return "a uid neither the value nor empty";
  return {};
}

std::string OemNumber(const uint8_t* in, size_t count) {
  wchar_t buffer[tmn::kOemTextChars + 1], (*text)[tmn::kOemTextChars + 1];
  const Delivery d = Deliver(in, count, tmn::kOemTextChars * sizeof(wchar_t), buffer, text);
  const int32_t number = tmn::DecimalOfValue(d.status, d.type, *text);
  if (number != 0) Accepted();
  if ((d.status != ERROR_SUCCESS || d.type != REG_SZ) && number != 0) return "a number from no text";
  wchar_t formatted[12];
  tmn::FormatInt32(number, formatted);
  return tmn::ParseDecimalInt32(formatted) == number ? "" : "the number formats to another";
}

std::string InstallPath(const uint8_t* in, size_t count) {
  wchar_t buffer[tmn::kInstallPathChars], (*text)[tmn::kInstallPathChars];
  const Delivery d = Deliver(in, count, sizeof(buffer), buffer, text);
  tmn::InstallPathValue delivered;
  memcpy(delivered.text, *text, sizeof(delivered.text));
  delivered.type = d.status == ERROR_SUCCESS ? d.type : REG_NONE;
  delivered.bytes = d.bytes;
  const auto& value = *reinterpret_cast<tmn::InstallPathValue*>(Guarded(2, &delivered, sizeof(delivered)));
  tmn::WideString out;
  out.Assign(L"untouched");
  if (!tmn::InstallPathOfValue(value, &out))
    return out.Equals(L"untouched") ? "" : "a refused value changed the path";
  Accepted();
  if (Text(out) != std::wstring(value.text, out.Length())) return "not the value's text";
  return Bounded("a path", out, tmn::kInstallPathChars - 1);
}

// A config file as a user may save it: bytes 0-3 how many times a unit
// of it repeats, 4-5 where the unit starts in the rest and 6-7 its length;
// the rest is the file with the unit once. So a few readable bytes make a
// line of 100,000 characters or a file of 10 MB. Of the inputs that make
// a file past 1 MB, the first and one in 64 after it do (the others have
// the unit once), so that a run stays short. The file is read by the readers themselves, through the
// platform's profile calls: the plug-in's own code sees only the texts and
// numbers these give, and the port's text goes through ParseProxyPort at a
// page's end or start as the input is placed.
constexpr size_t kLargestConfigFile = 10 * 1024 * 1024 + 0x10000;

std::string ConfigFile(const uint8_t* bytes, size_t count) {
  uint32_t times = 0;
  uint16_t at = 0, unit = 0;
  std::string file;
  if (count >= 8) {
    memcpy(&times, bytes, 4);
    memcpy(&at, bytes + 4, 2);
    memcpy(&unit, bytes + 6, 2);
    file.assign(reinterpret_cast<const char*>(bytes) + 8, count - 8);
  }
  at = static_cast<uint16_t>(std::min<size_t>(at, file.size()));
  unit = static_cast<uint16_t>(std::min<size_t>(unit, file.size() - at));
  const uint64_t size = file.size() + uint64_t{unit} * (times > 0 ? times - 1 : 0);
  bool grow = unit > 0 && times > 1 && size <= kLargestConfigFile;
  if (grow && size > 1024 * 1024) {  // the same for both placings of an input
    static size_t input = SIZE_MAX, large = 0;
    static bool made = false;
    if (InputIndex() != input) made = large++ % 64 == 0;
    input = InputIndex();
    grow = made;
  }
  if (grow) {
    std::string grown;
    grown.reserve(static_cast<size_t>(size));
    grown.append(file, 0, at);
    for (uint32_t n = 0; n < times; ++n) grown.append(file, at, unit);
    grown.append(file, at + unit, std::string::npos);
    file.swap(grown);
  }

  // Each file under a name of its own: the profile calls keep what they
  // read of a name for as long as its time of writing stays the same.
  static unsigned files = 0;
  wchar_t folder[MAX_PATH], path[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  wsprintfW(path, L"%stm_fuzz_%lu_%u.ini", folder, GetCurrentProcessId(), files++);
  {
    tmn::UniqueFile out(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!out || !WriteFile(out.get(), file.data(), static_cast<DWORD>(file.size()), &written, nullptr) ||
        written != file.size())
      return "cannot write the config file";
  }
  struct Deleted {
    const wchar_t* path;
    ~Deleted() { DeleteFileW(path); }
  } deleted = {path};

  // A value of up to 259 characters whole, a longer one cut to 259, and
  // never a NUL: as the platform gives it.
  static const wchar_t* const kKeys[][2] = {
      {L"Proxy", L"Host"}, {L"Proxy", L"Port"}, {L"VulMain", L"DownPath"}, {L"SoftMain", L"SoftDownDir"}};
  for (const auto& key : kKeys) {
    tmn::WideString value;
    const HRESULT read = tmn::ReadProfileString(path, key[0], key[1], L"default", &value);
    static std::wstring whole(0x40000, L'\0');
    const DWORD n = GetPrivateProfileStringW(key[0], key[1], L"default", &whole[0], static_cast<DWORD>(whole.size()),
                                             path);
    std::wstring expected(whole.c_str(), n);
    if (read != S_OK && (read != HRESULT_FROM_WIN32(ERROR_MORE_DATA) || value.Length() != tmn::kSettingChars - 1))
      return "a value of " + std::to_string(value.Length()) + " characters failed";
    // Wine reads the odd last byte of a UTF-16 file with a high byte of
    // whatever its memory held, another on each read, so that the value
    // is compared with the platform's only for files of whole units.
    if (file.size() % 2 == 0 && (read == S_OK ? Text(value) != expected
                                              : expected.size() < tmn::kSettingChars ||
                                                    Text(value) != expected.substr(0, tmn::kSettingChars - 1)))
      return "a value read otherwise than the platform gives it";
    const std::string broken = Bounded("a value", value, tmn::kSettingChars - 1);
    if (!broken.empty()) return broken;
    if (read == S_OK) Accepted();
  }

  // The proxy's record: keys read only in the modes that use them, a port
  // of 0 to 65535 as ParseProxyPort gives it from the value's text.
  tmn::ProxySettings settings;
  settings.host.Assign(L"untouched");
  settings.port = -1;
  settings.login.Assign(L"untouched");
  tmn::ReadProxySettings(path, &settings);
  if (settings.mode != static_cast<int32_t>(GetPrivateProfileIntW(L"Proxy", L"Mode", 1, path)))
    return "the mode is not the profile's integer";
  if (settings.mode != 2 && (!settings.host.Equals(L"untouched") || settings.port != -1))
    return "a host read in another mode";
  if (settings.mode == 0 && !settings.login.Equals(L"untouched")) return "a login read with no proxy";
  if (settings.mode == 2) {
    tmn::WideString port;
    tmn::ReadProfileString(path, L"Proxy", L"Port", nullptr, &port);
    const auto* text =
        reinterpret_cast<const wchar_t*>(Guarded(1, port.Get(), (port.Length() + 1) * sizeof(wchar_t)));
    const int32_t parsed = port.IsEmpty() ? 8080 : tmn::ParseProxyPort(text);
    if (settings.port != parsed || parsed < 0 || parsed > 65535) return "port " + std::to_string(settings.port);
  }
  for (const std::string& broken : {Bounded("a host", settings.host, tmn::kSettingChars - 1),
                                    Bounded("a login", settings.login, tmn::kSettingChars - 1),
                                    Bounded("a password", settings.password, tmn::kSettingChars - 1)})
    if (!broken.empty()) return broken;
  return {};
}

// A configuration file's bytes. Its two ledger sections as the cleanup
// reads them: every entry read whole lies on a line of the file, in order,
// its value not empty and no longer than a section. With every other entry
// gone, the rewritten file reads back as the entries left; with none gone,
// it is the file itself.
struct LedgerRead {
  tmn::Array<tmn::LedgerEntry> lists[2];
  tmn::SectionRead reads[2];
};
constexpr const wchar_t* kLedgerSections[2] = {L"DownFiles", L"InstedRet"};

LedgerRead ReadLedger(const tmn::ProfileText& text) {
  LedgerRead read;
  for (int i = 0; i < 2; ++i) read.reads[i] = tmn::ParseSection(text, kLedgerSections[i], read.lists[i]);
  return read;
}

std::string LedgerSections(const uint8_t* bytes, size_t count) {
  const tmn::ProfileText text = tmn::ReadProfileText(bytes, count);
  LedgerRead read = ReadLedger(text);
  for (int i = 0; i < 2; ++i) {
    if (read.reads[i] == tmn::SectionRead::kNothing && !read.lists[i].IsEmpty()) return "no section, yet entries";
    if (read.reads[i] != tmn::SectionRead::kWhole) continue;
    Accepted();
    size_t after = text.begin;
    for (const tmn::LedgerEntry& entry : read.lists[i]) {
      if (entry.lineAt < after || entry.lineEnd <= entry.lineAt || entry.lineEnd > count)
        return "an entry's line out of the file or out of order";
      after = entry.lineEnd;
      if (entry.value.IsEmpty() || entry.value.Length() > tmn::kLongestSection) return "a value out of bounds";
    }
  }
  if (read.reads[0] == tmn::SectionRead::kPartial || read.reads[1] == tmn::SectionRead::kPartial) return {};
  size_t size = 0;
  const tmn::UniqueHeapBlock same =
      tmn::RewriteSections(text, kLedgerSections[0], read.lists[0], kLedgerSections[1], read.lists[1], &size);
  if (!same || size != count || memcmp(same.get(), bytes, count) != 0) return "nothing gone, yet other bytes";
  std::vector<std::pair<int32_t, std::wstring>> left[2];
  for (int i = 0; i < 2; ++i)
    for (size_t n = 0; n < read.lists[i].Size(); ++n) {
      tmn::LedgerEntry& entry = read.lists[i][n];
      entry.gone = n % 2 == 0;
      if (!entry.gone) left[i].emplace_back(entry.id, Text(entry.value));
    }
  const tmn::UniqueHeapBlock rewritten =
      tmn::RewriteSections(text, kLedgerSections[0], read.lists[0], kLedgerSections[1], read.lists[1], &size);
  if (!rewritten) return "the rewrite found no memory";
  const auto* again = static_cast<const BYTE*>(Guarded(1, rewritten.get(), size));
  const LedgerRead reread = ReadLedger(tmn::ReadProfileText(again, size));
  for (int i = 0; i < 2; ++i) {
    // None stays none; a section goes whole once every entry of it went,
    // one at least.
    const bool whole = read.reads[i] == tmn::SectionRead::kNothing || (left[i].empty() && !read.lists[i].IsEmpty());
    const tmn::SectionRead expected = whole ? tmn::SectionRead::kNothing : tmn::SectionRead::kWhole;
    if (reread.reads[i] != expected) return std::string("the rewritten ") + (i ? "results" : "downloads") + " read otherwise";
    std::vector<std::pair<int32_t, std::wstring>> found;
    for (const tmn::LedgerEntry& entry : reread.lists[i]) found.emplace_back(entry.id, Text(entry.value));
    if (found != left[i]) return std::string("the rewritten ") + (i ? "results" : "downloads") + " hold other entries";
  }
  return {};
}

// The driver's own probes: each reads one byte beyond its input.
std::string ReadsPastTheEnd(const uint8_t* bytes, size_t count) {
  return static_cast<const volatile uint8_t*>(bytes)[count] == 0xbd ? "read past the end unnoticed" : "";
}
std::string ReadsBeforeTheStart(const uint8_t* bytes, size_t) {
  return static_cast<const volatile uint8_t*>(bytes)[-1] == 0xbd ? "read before the start unnoticed" : "";
}

// The registry's readers share one corpus; a value's size field is at
// its largest when it just fits what the reader offers.
Target Registry(const char* name, std::string (*run)(const uint8_t*, size_t), uint64_t offered) {
  return {name, run, 8, {{4, 4, offered}}, "registry"};
}

}  // namespace

const std::vector<Target> kTargets = {
    {"kept_request", KeptRequest, 20, {{12, 4, tmn::kKeptTextChars}, {16, 4, tmn::kKeptTextChars}}},
    {"library_headers", LibraryHeaders, 64 + 24, {{60, 4, 0x10000}}},
    {"version_resource", VersionResource, 92, {{0, 2, kInputBytes}, {2, 2, sizeof(VS_FIXEDFILEINFO)}}},
    {"proxy_host_port", ProxyHostAndPort, 0, {}},
    {"config_file", ConfigFile, 8, {{0, 4, 100000}, {6, 2, 0xFFFF}}},
    {"ledger_sections", LedgerSections, 3, {}},
    Registry("registry_uid", Uid, tmn::kUidOfferedBytes),
    Registry("registry_oem_number", OemNumber, tmn::kOemTextChars * sizeof(wchar_t)),
    Registry("registry_install_path", InstallPath, tmn::kInstallPathChars * sizeof(wchar_t)),
    Registry("registry_ie_version", IeVersion, MAX_PATH * sizeof(wchar_t)),
    {"probe_past_end", ReadsPastTheEnd, 0, {}, nullptr, true},
    {"probe_before_start", ReadsBeforeTheStart, 0, {}, nullptr, true},
};

}  // namespace tmfuzz
