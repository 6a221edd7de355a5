#include "fs/nt_calls.h"

namespace tmn {

namespace {

using NtStatusToDosErrorCall = ULONG(NTAPI*)(NTSTATUS status);
using RtlEqualUnicodeStringCall = BOOLEAN(NTAPI*)(const UNICODE_STRING* a, const UNICODE_STRING* b,
                                                  BOOLEAN caseInsensitive);

// The entry point of ntdll by name, looked up once; null when absent.
// Two threads may look it up at once: both store the same address.
template <typename Call>
Call NtEntry(const char* name, Call* cached) {
  if (*cached == nullptr) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    FARPROC found = ntdll != nullptr ? ::GetProcAddress(ntdll, name) : nullptr;
    *cached = reinterpret_cast<Call>(reinterpret_cast<void*>(found));
  }
  return *cached;
}

NtCreateFileCall g_createFile;
NtQueryDirectoryFileCall g_queryDirectoryFile;
NtFileInformationCall g_queryInformationFile;
NtFileInformationCall g_setInformationFile;
NtStatusToDosErrorCall g_statusToDosError;
RtlEqualUnicodeStringCall g_equalUnicodeString;

}  // namespace

NTSTATUS NTAPI CallNtCreateFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation, ULONG attributes, ULONG share,
                                ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
  const NtCreateFileCall call = NtEntry("NtCreateFile", &g_createFile);
  if (call == nullptr) return kStatusNotImplemented;
  return call(file, access, object, status, allocation, attributes, share, disposition, options, ea, eaLength);
}

NTSTATUS NTAPI CallNtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID apc, PVOID apcContext,
                                        PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                                        FILE_INFORMATION_CLASS kind, BOOLEAN single, PUNICODE_STRING mask,
                                        BOOLEAN restart) {
  const NtQueryDirectoryFileCall call = NtEntry("NtQueryDirectoryFile", &g_queryDirectoryFile);
  if (call == nullptr) return kStatusNotImplemented;
  return call(folder, event, apc, apcContext, status, buffer, length, kind, single, mask, restart);
}

NTSTATUS NTAPI CallNtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                          FILE_INFORMATION_CLASS kind) {
  const NtFileInformationCall call = NtEntry("NtQueryInformationFile", &g_queryInformationFile);
  if (call == nullptr) return kStatusNotImplemented;
  return call(file, status, information, length, kind);
}

NTSTATUS NTAPI CallNtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                        FILE_INFORMATION_CLASS kind) {
  const NtFileInformationCall call = NtEntry("NtSetInformationFile", &g_setInformationFile);
  if (call == nullptr) return kStatusNotImplemented;
  return call(file, status, information, length, kind);
}

BOOLEAN NTAPI CallRtlEqualUnicodeString(const UNICODE_STRING* a, const UNICODE_STRING* b, BOOLEAN caseInsensitive) {
  const RtlEqualUnicodeStringCall call = NtEntry("RtlEqualUnicodeString", &g_equalUnicodeString);
  if (call != nullptr) return call(a, b, caseInsensitive);
  if (a->Length != b->Length) return FALSE;
  for (USHORT i = 0; i < a->Length / sizeof(wchar_t); ++i)
    if (a->Buffer[i] != b->Buffer[i]) return FALSE;
  return TRUE;
}

HRESULT HResultFromNtStatus(NTSTATUS status) {
  if (status >= 0) return S_OK;
  const NtStatusToDosErrorCall call = NtEntry("RtlNtStatusToDosError", &g_statusToDosError);
  const ULONG error = call != nullptr ? call(status) : ERROR_GEN_FAILURE;
  return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

}  // namespace tmn
