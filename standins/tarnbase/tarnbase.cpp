// A working tarnbase.dll for the tests and the demo: the factory and the
// database and statement objects the plug-in's offline cache calls, backed
// by SQLite. The product's own library is not shipped with the plug-in.
//
// Tests make it refuse through the environment variable TM_TARNBASE_FAIL, a
// comma-separated list read at every call:
//   create       the factory fails          create-empty  it succeeds, no object
//   open         every OpenDatabase fails   open-once     the first of each object fails
//   prepare      every PrepareStatement     prepare-empty it succeeds, no statement
//   begin        every BeginTransaction     step          every Step
// Failures carry FACILITY_ITF codes built from SQLite's result codes, so a
// caller's log shows which step failed.
//
// With TM_TARNBASE_SLOW_MS set to a number, every call of the library takes
// that many milliseconds more, as a database on a slow disk does.
//
// With TM_TARNBASE_EXCLUSIVE set (to anything but "0"), the library opens
// its file for itself alone, as some engines do: OpenDatabase fails with
// the sharing violation's code while any other program has the file open,
// and nobody else can open it until the database is released. The file is
// then read whole into memory and written back whole when it is released.
//
// Otherwise SQLite opens the file shared, as it always does, and waits a
// while for a database another process is reading or writing, as a real
// engine does, instead of failing at once. Only a file that is not a
// database is refused by OpenDatabase.
#include <windows.h>

#include <new>
#include <stdlib.h>
#include <wchar.h>

#include "beacon/cache_interfaces.h"
#include "sqlite3.h"

namespace {

using tmn::ICacheDatabase;
using tmn::ICacheDatabaseOperations;
using tmn::ICacheStatement;
using tmn::ICacheStatementOperations;

HRESULT FromSqlite(int code) {
  if (code == SQLITE_OK || code == SQLITE_DONE) return S_OK;
  if (code == SQLITE_ROW) return S_FALSE;
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x100 + (code & 0xFF));
}

// Whether TM_TARNBASE_FAIL names this failure.
bool FailureRequested(const wchar_t* name) {
  wchar_t list[256];
  const DWORD length = GetEnvironmentVariableW(L"TM_TARNBASE_FAIL", list, 256);
  if (length == 0 || length >= 256) return false;
  const size_t nameLength = wcslen(name);
  for (const wchar_t* item = list; *item != L'\0';) {
    const wchar_t* end = item;
    while (*end != L'\0' && *end != L',') ++end;
    if (static_cast<size_t>(end - item) == nameLength && wcsncmp(item, name, nameLength) == 0)
      return true;
    item = *end == L',' ? end + 1 : end;
  }
  return false;
}

// Waits as TM_TARNBASE_SLOW_MS asks, at the start of every call.
void TakeTimeIfAsked() {
  wchar_t value[16];
  const DWORD length = GetEnvironmentVariableW(L"TM_TARNBASE_SLOW_MS", value, 16);
  if (length != 0 && length < 16) Sleep(static_cast<DWORD>(_wtoi(value)));
}

struct Statement : ICacheStatement {
  sqlite3_stmt* statement = nullptr;
  Statement* next = nullptr;
};

// How long SQLite waits for another connection's lock to go: long enough
// for a reader of a moment, short beside the time a store is given.
constexpr int kBusyWaitMs = 500;

bool OpensForItselfAlone() {
  wchar_t value[8];
  const DWORD length = GetEnvironmentVariableW(L"TM_TARNBASE_EXCLUSIVE", value, 8);
  return length != 0 && length < 8 && wcscmp(value, L"0") != 0;
}

struct Database : ICacheDatabase {
  sqlite3* connection = nullptr;
  Statement* statements = nullptr;  // kept until the database closes
  bool opened = false;              // an open was asked for before
  // Opened for itself alone: the file, held without sharing, and whether
  // the database in memory is to be written back to it.
  HANDLE file = INVALID_HANDLE_VALUE;
  bool writeBack = false;
};

Database* Of(ICacheDatabase* self) { return static_cast<Database*>(self); }
Statement* Of(ICacheStatement* self) { return static_cast<Statement*>(self); }

HRESULT PRODUCT_CALL NotProvided(void*) { return E_NOTIMPL; }

void CloseConnection(Database* database) {
  while (database->statements != nullptr) {
    Statement* statement = database->statements;
    database->statements = statement->next;
    sqlite3_finalize(statement->statement);
    delete statement;
  }
  if (database->writeBack) {
    // The whole database, written over the file it was read from.
    sqlite3_int64 size = 0;
    unsigned char* image = sqlite3_serialize(database->connection, "main", &size, 0);
    DWORD written = 0;
    LARGE_INTEGER start = {};
    if (image != nullptr && size < MAXDWORD && SetFilePointerEx(database->file, start, nullptr, FILE_BEGIN) &&
        WriteFile(database->file, image, static_cast<DWORD>(size), &written, nullptr))
      SetEndOfFile(database->file);
    sqlite3_free(image);
  }
  database->writeBack = false;
  sqlite3_close(database->connection);
  database->connection = nullptr;
  if (database->file != INVALID_HANDLE_VALUE) CloseHandle(database->file);
  database->file = INVALID_HANDLE_VALUE;
}

// Opens the file for this object alone and reads it into an in-memory
// database.
int OpenForItselfAlone(Database* database, const wchar_t* path) {
  database->file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
  if (database->file == INVALID_HANDLE_VALUE) return SQLITE_CANTOPEN;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(database->file, &size) || size.QuadPart > (1 << 30)) return SQLITE_IOERR;
  int code = sqlite3_open16(L":memory:", &database->connection);
  if (code != SQLITE_OK || size.QuadPart == 0) return code;
  unsigned char* image = static_cast<unsigned char*>(sqlite3_malloc64(size.QuadPart));
  DWORD read = 0;
  if (image == nullptr) return SQLITE_NOMEM;
  const DWORD bytes = static_cast<DWORD>(size.QuadPart);
  if (!ReadFile(database->file, image, bytes, &read, nullptr) || read != bytes) {
    sqlite3_free(image);
    return SQLITE_IOERR;
  }
  return sqlite3_deserialize(database->connection, "main", image, size.QuadPart, size.QuadPart,
                             SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE);
}

HRESULT Execute(Database* database, const char* sql) {
  if (database->connection == nullptr) return E_UNEXPECTED;
  return FromSqlite(sqlite3_exec(database->connection, sql, nullptr, nullptr, nullptr));
}

HRESULT PRODUCT_CALL OpenDatabase(ICacheDatabase* self, const wchar_t* path) {
  TakeTimeIfAsked();
  Database* database = Of(self);
  const bool first = !database->opened;
  database->opened = true;
  if (FailureRequested(L"open") || (first && FailureRequested(L"open-once"))) return FromSqlite(SQLITE_CANTOPEN);
  if (path == nullptr) return E_POINTER;
  CloseConnection(database);
  const bool alone = OpensForItselfAlone();
  int code = alone ? OpenForItselfAlone(database, path) : sqlite3_open16(path, &database->connection);
  if (alone && code == SQLITE_CANTOPEN) {
    // The system's own code: a sharing violation when another program has the file.
    const HRESULT refused = HRESULT_FROM_WIN32(GetLastError());
    CloseConnection(database);
    return refused;
  }
  if (code == SQLITE_OK && !alone) sqlite3_busy_timeout(database->connection, kBusyWaitMs);
  // SQLite reads the file only when asked: read the schema now, so that a
  // file that is no database is refused here. A database still locked by
  // another process after the busy wait is a database: the steps that need
  // it fail on their own.
  if (code == SQLITE_OK)
    code = sqlite3_exec(database->connection, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED) code = SQLITE_OK;
  if (code != SQLITE_OK) {
    CloseConnection(database);
    return FromSqlite(code);
  }
  database->writeBack = alone;
  return S_OK;
}

void PRODUCT_CALL ReleaseDatabase(ICacheDatabase* self) {
  Database* database = Of(self);
  CloseConnection(database);
  delete database;
}

HRESULT PRODUCT_CALL BeginTransaction(ICacheDatabase* self, int32_t flags) {
  TakeTimeIfAsked();
  if (FailureRequested(L"begin")) return FromSqlite(SQLITE_BUSY);
  return Execute(Of(self), flags == 1 ? "BEGIN IMMEDIATE" : "BEGIN");
}

HRESULT PRODUCT_CALL EndTransaction(ICacheDatabase* self) {
  TakeTimeIfAsked();
  const HRESULT result = Execute(Of(self), "COMMIT");
  if (FAILED(result)) Execute(Of(self), "ROLLBACK");
  return result;
}

int32_t PRODUCT_CALL TableExists(ICacheDatabase* self, const wchar_t* table) {
  TakeTimeIfAsked();
  sqlite3* connection = Of(self)->connection;
  if (connection == nullptr || table == nullptr) return 0;
  sqlite3_stmt* query = nullptr;
  if (sqlite3_prepare_v2(connection, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", -1, &query,
                         nullptr) != SQLITE_OK)
    return 0;
  sqlite3_bind_text16(query, 1, table, -1, SQLITE_TRANSIENT);
  const int32_t exists = sqlite3_step(query) == SQLITE_ROW ? 1 : 0;
  sqlite3_finalize(query);
  return exists;
}

extern const ICacheStatementOperations kStatementOperations;

HRESULT PRODUCT_CALL PrepareStatement(ICacheDatabase* self, const wchar_t* sql, ICacheStatement** out) {
  TakeTimeIfAsked();
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (FailureRequested(L"prepare")) return FromSqlite(SQLITE_ERROR);
  if (FailureRequested(L"prepare-empty")) return S_OK;
  Database* database = Of(self);
  if (database->connection == nullptr) return E_UNEXPECTED;
  if (sql == nullptr) return E_POINTER;
  sqlite3_stmt* prepared = nullptr;
  const int code = sqlite3_prepare16_v2(database->connection, sql, -1, &prepared, nullptr);
  if (code != SQLITE_OK) return FromSqlite(code);
  Statement* statement = new (std::nothrow) Statement;
  if (statement == nullptr) {
    sqlite3_finalize(prepared);
    return E_OUTOFMEMORY;
  }
  statement->operations = &kStatementOperations;
  statement->statement = prepared;
  statement->next = database->statements;
  database->statements = statement;
  *out = statement;
  return S_OK;
}

HRESULT PRODUCT_CALL Step(ICacheStatement* self, int32_t) {
  TakeTimeIfAsked();
  if (FailureRequested(L"step")) return FromSqlite(SQLITE_IOERR);
  return FromSqlite(sqlite3_step(Of(self)->statement));
}

HRESULT PRODUCT_CALL BindInt64(ICacheStatement* self, int32_t index, int64_t value) {
  return FromSqlite(sqlite3_bind_int64(Of(self)->statement, index, value));
}

HRESULT PRODUCT_CALL BindText(ICacheStatement* self, int32_t index, const wchar_t* text) {
  sqlite3_stmt* statement = Of(self)->statement;
  return FromSqlite(text == nullptr ? sqlite3_bind_null(statement, index)
                                    : sqlite3_bind_text16(statement, index, text, -1, SQLITE_TRANSIENT));
}

HRESULT PRODUCT_CALL ResetStatement(ICacheStatement* self) {
  sqlite3_stmt* statement = Of(self)->statement;
  const HRESULT result = FromSqlite(sqlite3_reset(statement));
  sqlite3_clear_bindings(statement);
  return result;
}

const ICacheStatementOperations kStatementOperations = {
    NotProvided, NotProvided, NotProvided, Step,        NotProvided, NotProvided, NotProvided, BindInt64,
    NotProvided, BindText,    NotProvided, NotProvided, NotProvided, NotProvided, NotProvided, ResetStatement,
};

const ICacheDatabaseOperations kDatabaseOperations = {
    NotProvided, NotProvided, NotProvided, NotProvided, OpenDatabase, NotProvided, ReleaseDatabase, BeginTransaction,
    EndTransaction, NotProvided, NotProvided, NotProvided, NotProvided, NotProvided, TableExists, PrepareStatement,
};

}  // namespace

extern "C" HRESULT PRODUCT_CALL TMDbCreateObject(const GUID* interfaceId, ICacheDatabase** out, int32_t version) {
  TakeTimeIfAsked();
  if (out == nullptr || interfaceId == nullptr) return E_POINTER;
  *out = nullptr;
  if (FailureRequested(L"create")) return E_FAIL;
  if (FailureRequested(L"create-empty")) return S_OK;
  if (!InlineIsEqualGUID(*interfaceId, tmn::kCacheDatabaseId)) return E_NOINTERFACE;
  if (version != tmn::kCacheFactoryVersion) return E_INVALIDARG;
  Database* database = new (std::nothrow) Database;
  if (database == nullptr) return E_OUTOFMEMORY;
  database->operations = &kDatabaseOperations;
  *out = database;
  return S_OK;
}
