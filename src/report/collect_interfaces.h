// The objects of the product's info-collection library, as this module and
// the library's stand-in both see them. Each object begins with a pointer to
// its table of operations; an operation is called through its place in the
// table with the object as the first argument. The tables are declared in
// place order, and the places this module never calls are named
// placeholders, so every declared operation sits at its place and each
// place the module calls is checked below: a shifted table does not compile.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "beacon/product_library.h"

namespace tmn {

// Ids passed to GetExportInterface, one per interface.
constexpr wchar_t kCollectRecordId[] = L"2C14B686-5925-45e2-A3AA-12F87FAE181C";
constexpr wchar_t kCollectChannelId[] = L"E014927B-4C11-481e-93ED-B1F2CFF80FFC";
constexpr wchar_t kPublicChannelId[] = L"94814C66-04D4-47ad-A2B9-FA7135EDE604";

// The library's one export: hands out a new object for an id, or null.
using GetExportInterfaceFn = void*(PRODUCT_CALL*)(const wchar_t* id);
constexpr char kGetExportInterfaceName[] = "GetExportInterface";

// A placeholder for a place that this module never calls.
using UnusedPlace = const void*;

struct ICollectRecord;
struct ICollectRecordOps {
  UnusedPlace reserved0;
  int32_t(PRODUCT_CALL* IsReady)(ICollectRecord* self);  // zero: unusable, release it
  void(PRODUCT_CALL* Release)(ICollectRecord* self);     // the last use of the object
  void(PRODUCT_CALL* SetTable)(ICollectRecord* self, const wchar_t* table);
  UnusedPlace reserved4;
  void(PRODUCT_CALL* AddInt)(ICollectRecord* self, const wchar_t* name, int32_t value);
  void(PRODUCT_CALL* AddString)(ICollectRecord* self, const wchar_t* name, const wchar_t* value);
  // The bytes stay valid until the record has been released.
  void(PRODUCT_CALL* AddBytes)(ICollectRecord* self, const wchar_t* name, const uint8_t* bytes, uint32_t count);
  // Nonzero: the library has taken charge of an undelivered record.
  int32_t(PRODUCT_CALL* Defer)(ICollectRecord* self, int32_t reserved);
  UnusedPlace reserved9;
  UnusedPlace reserved10;
  UnusedPlace reserved11;
  UnusedPlace reserved12;
  int32_t(PRODUCT_CALL* Seal)(ICollectRecord* self);  // nonzero: the packed form is ready
  const void*(PRODUCT_CALL* Data)(ICollectRecord* self);
  uint32_t(PRODUCT_CALL* Size)(ICollectRecord* self);
};

struct ICollectChannel;
struct ICollectChannelOps {
  UnusedPlace reserved0;
  int32_t(PRODUCT_CALL* IsReady)(ICollectChannel* self);
  void(PRODUCT_CALL* Release)(ICollectChannel* self);
  UnusedPlace reserved3;
  int32_t(PRODUCT_CALL* Write)(ICollectChannel* self, const void* data, uint32_t size);  // nonzero: taken
  int32_t(PRODUCT_CALL* Commit)(ICollectChannel* self);                                  // nonzero: done
};

struct IPublicChannel;
struct IPublicChannelOps {
  UnusedPlace reserved0;
  int32_t(PRODUCT_CALL* IsReady)(IPublicChannel* self);
  void(PRODUCT_CALL* Release)(IPublicChannel* self);
  UnusedPlace reserved3;
  int32_t(PRODUCT_CALL* Write)(IPublicChannel* self, const void* data, uint32_t size);  // nonzero: taken
};

// The objects themselves; the members only forward to the table.
struct ICollectRecord {
  const ICollectRecordOps* ops;
  int32_t IsReady() { return ops->IsReady(this); }
  void Release() { ops->Release(this); }
  void SetTable(const wchar_t* table) { ops->SetTable(this, table); }
  void AddInt(const wchar_t* name, int32_t value) { ops->AddInt(this, name, value); }
  void AddString(const wchar_t* name, const wchar_t* value) { ops->AddString(this, name, value); }
  void AddBytes(const wchar_t* name, const uint8_t* bytes, uint32_t count) { ops->AddBytes(this, name, bytes, count); }
  int32_t Defer() { return ops->Defer(this, 0); }
  int32_t Seal() { return ops->Seal(this); }
  const void* Data() { return ops->Data(this); }
  uint32_t Size() { return ops->Size(this); }
};

struct ICollectChannel {
  const ICollectChannelOps* ops;
  int32_t IsReady() { return ops->IsReady(this); }
  void Release() { ops->Release(this); }
  int32_t Write(const void* data, uint32_t size) { return ops->Write(this, data, size); }
  int32_t Commit() { return ops->Commit(this); }
};

struct IPublicChannel {
  const IPublicChannelOps* ops;
  int32_t IsReady() { return ops->IsReady(this); }
  void Release() { ops->Release(this); }
  int32_t Write(const void* data, uint32_t size) { return ops->Write(this, data, size); }
};

#define TM_PLACE(ops, operation, place) \
  static_assert(offsetof(ops, operation) == (place) * sizeof(void*), #ops "::" #operation " is not at place " #place)
TM_PLACE(ICollectRecordOps, IsReady, 1);
TM_PLACE(ICollectRecordOps, Release, 2);
TM_PLACE(ICollectRecordOps, SetTable, 3);
TM_PLACE(ICollectRecordOps, AddInt, 5);
TM_PLACE(ICollectRecordOps, AddString, 6);
TM_PLACE(ICollectRecordOps, AddBytes, 7);
TM_PLACE(ICollectRecordOps, Defer, 8);
TM_PLACE(ICollectRecordOps, Seal, 13);
TM_PLACE(ICollectRecordOps, Data, 14);
TM_PLACE(ICollectRecordOps, Size, 15);
TM_PLACE(ICollectChannelOps, IsReady, 1);
TM_PLACE(ICollectChannelOps, Release, 2);
TM_PLACE(ICollectChannelOps, Write, 4);
TM_PLACE(ICollectChannelOps, Commit, 5);
TM_PLACE(IPublicChannelOps, IsReady, 1);
TM_PLACE(IPublicChannelOps, Release, 2);
TM_PLACE(IPublicChannelOps, Write, 4);
#undef TM_PLACE

}  // namespace tmn
