// A stand-in for the product's info-collection library, for tests and the
// demo. It hands out records, channels and public channels by their ids
// and appends every event to "gleanor.log" beside itself, one UTF-8 line
// each:
//   create record#1                  an object handed out (or "create none record")
//   isready record#1 1               an answer given
//   write channel#2 TABLE|name=int:1|name=str:text|name=bytes:0a1b
//   commit channel#2 1
//   defer record#1 0 TABLE|...       the record as it stood when handed back
//   release record#1
//   ERROR ...                        a double release, a use after release,
//                                    a call at a place that is never called
//   unload freed | unload exit       FreeLibrary, or the process ending
//   summary objects=5 released=5 errors=0
//   object record#1 releases=1 defers=1
// TM_GLEANOR_FAIL makes steps fail: a comma-separated list of KIND.STEP or
// KIND.STEP#N (only the N-th such call since load), where KIND is record,
// channel or public and STEP is IsReady, Seal, Write, Commit, Defer, or
// Create (no object for that id). The list is read at every step.
// TM_GLEANOR_STALL makes steps hang before they answer, as a component
// that waits for something that never comes: a comma-separated list of
// KIND.STEP:MS (the step waits MS milliseconds), logged as "stall KIND.STEP".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "report/collect_interfaces.h"

using tmn::ICollectChannel;
using tmn::ICollectChannelOps;
using tmn::ICollectRecord;
using tmn::ICollectRecordOps;
using tmn::IPublicChannel;
using tmn::IPublicChannelOps;

namespace {

HMODULE g_module = nullptr;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring LogPath() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(g_module, path, MAX_PATH * 2);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"gleanor.log";
}

void Log(const std::string& line) {
  HANDLE file = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Whether TM_GLEANOR_FAIL asks this call of kind.step to fail.
std::map<std::string, int>* g_calls = new std::map<std::string, int>;  // never freed: used at unload
bool Fails(const char* kind, const char* step) {
  const std::string name = std::string(kind) + "." + step;
  const int call = ++(*g_calls)[name];
  char buffer[1024] = {};
  const DWORD n = GetEnvironmentVariableA("TM_GLEANOR_FAIL", buffer, sizeof(buffer));
  if (n == 0 || n >= sizeof(buffer)) return false;
  std::string list(buffer);
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    const std::string token = list.substr(at, end - at);
    const size_t hash = token.find('#');
    if (token.substr(0, hash) == name && (hash == std::string::npos || std::atoi(token.c_str() + hash + 1) == call))
      return true;
    at = end + 1;
  }
  return false;
}

// Waits as TM_GLEANOR_STALL asks for this step.
void StallIfAsked(const char* kind, const char* step) {
  const std::string name = std::string(kind) + "." + step + ":";
  char buffer[1024] = {};
  const DWORD n = GetEnvironmentVariableA("TM_GLEANOR_STALL", buffer, sizeof(buffer));
  if (n == 0 || n >= sizeof(buffer)) return;
  const std::string list(buffer);
  for (size_t at = 0; at <= list.size();) {
    size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    if (list.compare(at, name.size(), name) == 0) {
      Log("stall " + name.substr(0, name.size() - 1));
      Sleep(static_cast<DWORD>(std::atoi(list.c_str() + at + name.size())));
      return;
    }
    at = end + 1;
  }
}

int g_errors = 0;
void Error(const std::string& what) {
  ++g_errors;
  Log("ERROR " + what);
}

// Every object handed out stays allocated until unload, so that a use
// after release is seen rather than crashing.
struct ObjectState {
  std::string name;  // record#1
  int releases = 0;
  int defers = 0;
};
std::vector<ObjectState*>* g_objects = new std::vector<ObjectState*>;

ObjectState* NewState(const char* kind) {
  auto* state = new ObjectState;
  state->name = std::string(kind) + "#" + std::to_string(g_objects->size() + 1);
  g_objects->push_back(state);
  Log("create " + state->name);
  return state;
}

// False (and an error logged) when the object was already released.
bool Alive(const ObjectState* state, const char* operation) {
  if (state->releases == 0) return true;
  Error(std::string("use after release ") + state->name + " " + operation);
  return false;
}

void ReleaseState(ObjectState* state) {
  if (++state->releases > 1) {
    Error("double release " + state->name);
    return;
  }
  Log("release " + state->name);
}

// A call at a place that the plug-in never calls ends the process loudly.
template <int kPlace>
void __stdcall UnexpectedPlace(void* self) {
  (void)self;
  Error("call at unused place " + std::to_string(kPlace));
  TerminateProcess(GetCurrentProcess(), 99);
}
template <int kPlace>
const void* Unused() {
  return reinterpret_cast<const void*>(&UnexpectedPlace<kPlace>);
}

// ---- records ----

struct Item {
  std::wstring name;
  std::string kind;  // int, str, bytes
  int32_t number = 0;
  std::wstring text;
  const uint8_t* bytes = nullptr;  // read when the record is sealed
  uint32_t count = 0;
};

struct Record : ICollectRecord {
  ObjectState* state;
  std::wstring table;
  std::vector<Item> items;
  std::string packed;

  std::string Describe(bool readBytes) const {
    std::string out = Utf8(table);
    for (const Item& item : items) {
      out += "|" + Utf8(item.name) + "=" + item.kind + ":";
      if (item.kind == "int") {
        out += std::to_string(item.number);
      } else if (item.kind == "str") {
        out += Utf8(item.text);
      } else if (readBytes) {
        char hex[3];
        for (uint32_t i = 0; i < item.count; ++i) {
          std::snprintf(hex, sizeof(hex), "%02x", item.bytes[i]);
          out += hex;
        }
      } else {
        out += "(" + std::to_string(item.count) + " bytes)";
      }
    }
    return out;
  }
};

Record* AsRecord(ICollectRecord* self) { return static_cast<Record*>(self); }

// A step that answers nonzero unless TM_GLEANOR_FAIL asks otherwise; 0
// from an object already released.
int32_t Answer(ObjectState* state, const char* kind, const char* step, const char* word) {
  if (!Alive(state, step)) return 0;
  StallIfAsked(kind, step);
  const int32_t answer = Fails(kind, step) ? 0 : 1;
  Log(std::string(word) + " " + state->name + " " + std::to_string(answer));
  return answer;
}

void AddItem(ICollectRecord* self, const char* operation, Item item) {
  Record* r = AsRecord(self);
  if (Alive(r->state, operation)) r->items.push_back(std::move(item));
}

int32_t __stdcall RecordIsReady(ICollectRecord* self) {
  return Answer(AsRecord(self)->state, "record", "IsReady", "isready");
}
void __stdcall RecordRelease(ICollectRecord* self) { ReleaseState(AsRecord(self)->state); }
void __stdcall RecordSetTable(ICollectRecord* self, const wchar_t* table) {
  Record* r = AsRecord(self);
  if (Alive(r->state, "SetTable")) r->table = table != nullptr ? table : L"(null)";
}
void __stdcall RecordAddInt(ICollectRecord* self, const wchar_t* name, int32_t value) {
  AddItem(self, "AddInt", Item{name, "int", value, std::wstring()});
}
void __stdcall RecordAddString(ICollectRecord* self, const wchar_t* name, const wchar_t* value) {
  AddItem(self, "AddString", Item{name, "str", 0, value});
}
void __stdcall RecordAddBytes(ICollectRecord* self, const wchar_t* name, const uint8_t* bytes, uint32_t count) {
  AddItem(self, "AddBytes", Item{name, "bytes", 0, L"", bytes, count});
}
int32_t __stdcall RecordDefer(ICollectRecord* self, int32_t reserved) {
  Record* r = AsRecord(self);
  if (!Alive(r->state, "Defer")) return 0;
  ++r->state->defers;
  if (reserved != 0) Error("defer " + r->state->name + " with " + std::to_string(reserved));
  const int32_t taken = Fails("record", "Defer") ? 0 : 1;
  Log("defer " + r->state->name + " " + std::to_string(taken) + " " + r->Describe(false));
  return taken;
}
int32_t __stdcall RecordSeal(ICollectRecord* self) {
  Record* r = AsRecord(self);
  const int32_t sealed = Answer(r->state, "record", "Seal", "seal");
  // The bytes are read here: they must still be there when the record is sealed.
  if (sealed) r->packed = r->Describe(true);
  return sealed;
}
const void* __stdcall RecordData(ICollectRecord* self) {
  Record* r = AsRecord(self);
  if (!Alive(r->state, "Data")) return nullptr;
  return r->packed.data();
}
uint32_t __stdcall RecordSize(ICollectRecord* self) {
  Record* r = AsRecord(self);
  if (!Alive(r->state, "Size")) return 0;
  return static_cast<uint32_t>(r->packed.size());
}

const ICollectRecordOps kRecordOps = {
    Unused<0>(),     RecordIsReady, RecordRelease, RecordSetTable, Unused<4>(), RecordAddInt,
    RecordAddString, RecordAddBytes, RecordDefer,  Unused<9>(),    Unused<10>(), Unused<11>(),
    Unused<12>(),    RecordSeal,     RecordData,    RecordSize,
};

// ---- channels ----

std::string Packed(const void* data, uint32_t size) {
  if (data == nullptr) return "(null)";
  return std::string(static_cast<const char*>(data), size);
}

template <typename Interface>
struct Channel : Interface {
  ObjectState* state;
  const char* kind;
};

template <typename Interface>
Channel<Interface>* AsChannel(Interface* self) {
  return static_cast<Channel<Interface>*>(self);
}

template <typename Interface>
int32_t __stdcall ChannelIsReady(Interface* self) {
  auto* c = AsChannel(self);
  return Answer(c->state, c->kind, "IsReady", "isready");
}
template <typename Interface>
void __stdcall ChannelRelease(Interface* self) {
  ReleaseState(AsChannel(self)->state);
}
template <typename Interface>
int32_t __stdcall ChannelWrite(Interface* self, const void* data, uint32_t size) {
  auto* c = AsChannel(self);
  if (!Alive(c->state, "Write")) return 0;
  StallIfAsked(c->kind, "Write");
  const int32_t taken = Fails(c->kind, "Write") ? 0 : 1;
  Log((taken ? "write " : "write-refused ") + c->state->name + " " + Packed(data, size));
  return taken;
}
int32_t __stdcall ChannelCommit(ICollectChannel* self) {
  auto* c = AsChannel(self);
  return Answer(c->state, c->kind, "Commit", "commit");
}

const ICollectChannelOps kChannelOps = {
    Unused<0>(), ChannelIsReady<ICollectChannel>, ChannelRelease<ICollectChannel>, Unused<3>(),
    ChannelWrite<ICollectChannel>, ChannelCommit,
};
const IPublicChannelOps kPublicOps = {
    Unused<0>(), ChannelIsReady<IPublicChannel>, ChannelRelease<IPublicChannel>, Unused<3>(),
    ChannelWrite<IPublicChannel>,
};

template <typename Interface, typename Ops>
void* NewChannel(const char* kind, const Ops* ops) {
  if (Fails(kind, "Create")) {
    Log(std::string("create none ") + kind);
    return nullptr;
  }
  auto* c = new Channel<Interface>;
  c->ops = ops;
  c->kind = kind;
  c->state = NewState(kind);
  return static_cast<Interface*>(c);
}

void* NewRecord() {
  if (Fails("record", "Create")) {
    Log("create none record");
    return nullptr;
  }
  auto* r = new Record;
  r->ops = &kRecordOps;
  r->state = NewState("record");
  return static_cast<ICollectRecord*>(r);
}

void Summary(bool freed) {
  Log(freed ? "unload freed" : "unload exit");
  int released = 0;
  for (const ObjectState* state : *g_objects) {
    if (state->releases == 1) ++released;
    Log("object " + state->name + " releases=" + std::to_string(state->releases) +
        " defers=" + std::to_string(state->defers));
  }
  Log("summary objects=" + std::to_string(g_objects->size()) + " released=" + std::to_string(released) +
      " errors=" + std::to_string(g_errors));
}

}  // namespace

extern "C" __declspec(dllexport) void* __stdcall GetExportInterface(const wchar_t* id) {
  const std::wstring asked = id != nullptr ? id : L"";
  if (asked == tmn::kCollectRecordId) return NewRecord();
  if (asked == tmn::kCollectChannelId) return NewChannel<ICollectChannel>("channel", &kChannelOps);
  if (asked == tmn::kPublicChannelId) return NewChannel<IPublicChannel>("public", &kPublicOps);
  Log("create unknown " + Utf8(asked));
  return nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = module;
    Log("load");
  } else if (reason == DLL_PROCESS_DETACH) {
    // reserved is null for FreeLibrary, non-null when the process ends.
    Summary(reserved == nullptr);
  }
  return TRUE;
}
