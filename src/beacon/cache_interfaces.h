// The objects of the product's database library, tarnbase.dll, behind the
// offline cache. Each object begins with a pointer to its table of
// operations; an operation is reached by its place in that table and takes
// the object first. The tables are declared here once, in place order, for
// the plug-in and the stand-in library alike. They are plain tables of
// function pointers, as COM's C binding declares them, so that every place
// the plug-in calls can be checked at compile time and nothing of the C++
// runtime is needed on either side.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include "beacon/product_library.h"

namespace tmn {

struct ICacheDatabase;
struct ICacheStatement;

// A place the plug-in never calls; the library may put anything there.
using CachePlaceholder = HRESULT(PRODUCT_CALL*)(void* self);

struct ICacheStatementOperations {
  CachePlaceholder reserved0;
  CachePlaceholder reserved1;
  CachePlaceholder reserved2;
  // Runs the statement with the values bound; negative: a failed row.
  HRESULT(PRODUCT_CALL* Step)(ICacheStatement* self, int32_t flags);
  CachePlaceholder reserved4;
  CachePlaceholder reserved5;
  CachePlaceholder reserved6;
  HRESULT(PRODUCT_CALL* BindInt64)(ICacheStatement* self, int32_t index, int64_t value);  // 1-based index
  CachePlaceholder reserved8;
  HRESULT(PRODUCT_CALL* BindText)(ICacheStatement* self, int32_t index, const wchar_t* text);
  CachePlaceholder reserved10;
  CachePlaceholder reserved11;
  CachePlaceholder reserved12;
  CachePlaceholder reserved13;
  CachePlaceholder reserved14;
  // Makes the statement ready for the next row.
  HRESULT(PRODUCT_CALL* ResetStatement)(ICacheStatement* self);
};

struct ICacheStatement {
  const ICacheStatementOperations* operations;
};

struct ICacheDatabaseOperations {
  CachePlaceholder reserved0;
  CachePlaceholder reserved1;
  CachePlaceholder reserved2;
  CachePlaceholder reserved3;
  // Negative: the file could not be opened as a database.
  HRESULT(PRODUCT_CALL* OpenDatabase)(ICacheDatabase* self, const wchar_t* path);
  CachePlaceholder reserved5;
  // Closes the database and gives the object back; it is not used again.
  void(PRODUCT_CALL* ReleaseDatabase)(ICacheDatabase* self);
  HRESULT(PRODUCT_CALL* BeginTransaction)(ICacheDatabase* self, int32_t flags);
  HRESULT(PRODUCT_CALL* EndTransaction)(ICacheDatabase* self);
  CachePlaceholder reserved9;
  CachePlaceholder reserved10;
  CachePlaceholder reserved11;
  CachePlaceholder reserved12;
  CachePlaceholder reserved13;
  // Nonzero when the table exists.
  int32_t(PRODUCT_CALL* TableExists)(ICacheDatabase* self, const wchar_t* table);
  // The statement stays the library's: the plug-in never releases it.
  HRESULT(PRODUCT_CALL* PrepareStatement)(ICacheDatabase* self, const wchar_t* sql, ICacheStatement** statement);
};

struct ICacheDatabase {
  const ICacheDatabaseOperations* operations;
};

// A shifted table must not compile: the plug-in would call the wrong operation.
#define TM_CACHE_PLACE(table, operation, place) \
  static_assert(offsetof(table, operation) == (place) * sizeof(void*), #operation " is at place " #place)
TM_CACHE_PLACE(ICacheDatabaseOperations, OpenDatabase, 4);
TM_CACHE_PLACE(ICacheDatabaseOperations, ReleaseDatabase, 6);
TM_CACHE_PLACE(ICacheDatabaseOperations, BeginTransaction, 7);
TM_CACHE_PLACE(ICacheDatabaseOperations, EndTransaction, 8);
TM_CACHE_PLACE(ICacheDatabaseOperations, TableExists, 14);
TM_CACHE_PLACE(ICacheDatabaseOperations, PrepareStatement, 15);
TM_CACHE_PLACE(ICacheStatementOperations, Step, 3);
TM_CACHE_PLACE(ICacheStatementOperations, BindInt64, 7);
TM_CACHE_PLACE(ICacheStatementOperations, BindText, 9);
TM_CACHE_PLACE(ICacheStatementOperations, ResetStatement, 15);
#undef TM_CACHE_PLACE
static_assert(sizeof(ICacheDatabaseOperations) == 16 * sizeof(void*), "the database table has 16 places");
static_assert(sizeof(ICacheStatementOperations) == 16 * sizeof(void*), "the statement table has 16 places");

// The library's factory export: the interface id, the slot that receives
// the object, and 1.
constexpr char kCacheFactoryName[] = "TMDbCreateObject";
using CacheFactory = HRESULT(PRODUCT_CALL*)(const GUID* interfaceId, ICacheDatabase** database, int32_t version);
constexpr int32_t kCacheFactoryVersion = 1;

// {DAD0CB8C-D2A8-4E1B-8C3D-54AC236172FD}
constexpr GUID kCacheDatabaseId = {0xDAD0CB8C, 0xD2A8, 0x4E1B, {0x8C, 0x3D, 0x54, 0xAC, 0x23, 0x61, 0x72, 0xFD}};

}  // namespace tmn
