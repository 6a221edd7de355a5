#include "beacon/statistic_log.h"

#include "base/result.h"
#include "beacon/data_folder.h"
#include "fs/file_system_calls.h"
#include "fs/link_checks.h"
#include "fs/module_path.h"
#include "fs/nt_calls.h"
#include "fs/path_operations.h"

namespace tmn {

namespace {

// Writing, not appending only: a line cut short is taken back by ending the
// file where it ended before. Reading lets the file be measured and locked.
constexpr DWORD kLogAccess = GENERIC_READ | GENERIC_WRITE;

constexpr wchar_t kByteOrderMark = 0xFEFF;  // FF FE in the file

// A byte lock that every writer of a log holds for one write, at an offset
// no log reaches, so that readers are never refused. Appending alone is not
// atomic everywhere (Wine measures the file, then writes): under the lock a
// line always lands whole at the end, the first writer of an empty log puts
// the mark first, and a cut line can be taken back. The lock is tried until
// waitMs have passed: whoever holds it longer (any user may open the log)
// cannot hold the writer. Without the lock, or where the file system has
// none, each line goes to the end found right before it, and a cut line is
// left, as another writer may have written after it.
class LogWriteLock {
 public:
  LogWriteLock(HANDLE file, DWORD waitMs) : file_(file) {
    place_.Offset = 0xFFFFFFFE;
    place_.OffsetHigh = 0x7FFFFFFF;
    const Deadline deadline(waitMs);
    for (;;) {
      locked_ = ::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place_) != FALSE;
      if (locked_ || ::GetLastError() != ERROR_LOCK_VIOLATION || deadline.Passed()) return;
      ::Sleep(kLockRetryMs);
    }
  }
  ~LogWriteLock() {
    if (locked_) ::UnlockFileEx(file_, 0, 1, 0, &place_);
  }
  bool locked() const { return locked_; }
  LogWriteLock(const LogWriteLock&) = delete;
  LogWriteLock& operator=(const LogWriteLock&) = delete;

 private:
  static constexpr DWORD kLockRetryMs = 10;
  HANDLE file_;
  OVERLAPPED place_ = {};
  bool locked_;
};

bool AppendUnsigned(WideString& out, uint64_t value, int minimumDigits = 1) {
  wchar_t digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count < minimumDigits && count < 20) digits[count++] = L'0';
  wchar_t text[20];
  for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
  return out.Append(text, count);
}

bool AppendSigned(WideString& out, int64_t value) {
  if (value >= 0) return AppendUnsigned(out, static_cast<uint64_t>(value));
  return out.Append(L'-') && AppendUnsigned(out, 0 - static_cast<uint64_t>(value));
}

bool AppendHex(WideString& out, uint32_t value) {
  wchar_t text[8];
  int count = 0;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const unsigned digit = (value >> shift) & 0xF;
    if (count == 0 && digit == 0 && shift != 0) continue;
    text[count++] = static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'a' + digit - 10);
  }
  return out.Append(text, count);
}

// The log itself is opened, never what a link at its name leads to; the
// handle written through is examined before the first line. Every writer
// shares deleting, so that the one that moves a large log aside can rename
// it while others hold it.
UniqueFile OpenLogEntry(const WideString& path, DWORD access, DWORD disposition) {
  return UniqueFile(g_fileSystem.createFile(path.Get(), access, kShareAll, nullptr, disposition,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}
UniqueFile OpenForAppending(const WideString& path, DWORD disposition) {
  return OpenLogEntry(path, kLogAccess, disposition);
}

bool SameFile(HANDLE one, HANDLE other) {
  BY_HANDLE_FILE_INFORMATION first, second;
  return g_fileSystem.getFileInformationByHandle(one, &first) &&
         g_fileSystem.getFileInformationByHandle(other, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// Moves the log held to old, when the file at its name is still the one
// held: a writer that moved it aside first left another file there, or
// none. Told by what the two open (volume and file index), as Wine may
// still report the old name for a handle whose file another process
// renamed. The move goes through a handle opened at the name, so that it
// moves that file whatever is put at the name meanwhile. S_OK when moved,
// S_FALSE when another writer had moved it.
HRESULT MoveAsideIfStillAtItsName(HANDLE held, const WideString& path, const WideString& old) {
  const UniqueFile atName = OpenLogEntry(path, DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  if (!atName) return ::GetLastError() == ERROR_FILE_NOT_FOUND ? S_FALSE : HResultFromLastError();
  if (!SameFile(held, atName.get())) return S_FALSE;
  return RenameOpenedEntry(atName.get(), old.Get(), true);
}

}  // namespace

LogWriteCall g_logWrite = ::WriteFile;

namespace {

// The parts of a record: "[tag]" and what follows it; a labelled text or
// number, only when set; the error, only when negative.
bool BeginRecord(WideString& text, const wchar_t* tag, const wchar_t* first) {
  return text.Append(L'[') && text.Append(tag) && text.Append(L']') && text.Append(first);
}
bool AppendTextPart(WideString& text, const wchar_t* label, const wchar_t* value) {
  return value == nullptr || *value == L'\0' || (text.Append(label) && text.Append(value));
}
bool AppendNumberPart(WideString& text, const wchar_t* label, int64_t value) {
  return value == 0 || (text.Append(label) && AppendSigned(text, value));
}
bool AppendErrorPart(WideString& text, HRESULT error) {
  return error >= 0 || (text.Append(L", err:0x") && AppendHex(text, static_cast<uint32_t>(error)));
}
bool Finish(bool formatted, WideString& text, WideString* record) {
  if (formatted) *record = static_cast<WideString&&>(text);
  return formatted;
}

}  // namespace

bool FormatStatisticRecord(const wchar_t* url, const wchar_t* referer, const wchar_t* tag, int64_t time,
                           int32_t count, HRESULT error, WideString* record) {
  WideString text;
  return Finish(BeginRecord(text, tag, L"") && AppendTextPart(text, L" url:", url) &&
                    AppendTextPart(text, L", refer_url:", referer) && AppendNumberPart(text, L", time:", time) &&
                    AppendNumberPart(text, L", count:", count) && AppendErrorPart(text, error),
                text, record);
}

bool FormatSkippedLibraryRecord(const wchar_t* path, HRESULT why, WideString* record) {
  WideString text;
  return Finish(BeginRecord(text, kLibrarySkippedTag, L" file:") && text.Append(path) && AppendErrorPart(text, why),
                text, record);
}

bool FormatRefusedKeptFiles(const Array<WideString>& paths, HRESULT why, WideString* record) {
  WideString text;
  bool formatted = BeginRecord(text, kKeptFilesRefusedTag, L" files:");
  for (size_t i = 0; formatted && i < paths.Size(); ++i) formatted = (i == 0 || text.Append(L'|')) && text.Append(paths[i]);
  return Finish(formatted && AppendNumberPart(text, L", count:", static_cast<int64_t>(paths.Size())) &&
                    AppendErrorPart(text, why),
                text, record);
}

bool FormatUnsentRecord(const wchar_t* table, const wchar_t* items, int64_t time, HRESULT error,
                        WideString* record) {
  WideString text;
  return Finish(BeginRecord(text, kRecordUnsentTag, L" table:") && text.Append(table) &&
                    AppendTextPart(text, L", items:", items) && AppendNumberPart(text, L", time:", time) &&
                    AppendErrorPart(text, error),
                text, record);
}

bool FormatLogLine(const SYSTEMTIME& utc, const wchar_t* record, WideString* line) {
  WideString text;
  const bool formatted = text.Append(L'[') && AppendUnsigned(text, utc.wYear, 4) && text.Append(L'-') &&
                         AppendUnsigned(text, utc.wMonth, 2) && text.Append(L'-') &&
                         AppendUnsigned(text, utc.wDay, 2) && text.Append(L' ') &&
                         AppendUnsigned(text, utc.wHour, 2) && text.Append(L':') &&
                         AppendUnsigned(text, utc.wMinute, 2) && text.Append(L':') &&
                         AppendUnsigned(text, utc.wSecond, 2) && text.Append(L':') &&
                         AppendUnsigned(text, utc.wMilliseconds, 3) && text.Append(L"] ") &&
                         text.Append(record) && text.Append(L"\r\n");
  if (!formatted) return false;
  *line = static_cast<WideString&&>(text);
  return true;
}

void StatisticLog::OpenStatisticLog(const wchar_t* path, DWORD lockWaitMs) {
  WideString file, folder, old;
  if (!file.Assign(path) || !folder.Assign(path) || !old.Assign(path) || !old.Append(L".old")) return;
  if (StripLastComponent(folder) && ::GetFileAttributesW(folder.Get()) == INVALID_FILE_ATTRIBUTES)
    MakeFolderWithParents(folder);

  // A log another writer moves aside meanwhile is found under its new name
  // and left; the log at the path is opened again, a few times at most.
  for (int attempt = 0; attempt < 3; ++attempt) {
    UniqueFile opened = OpenForAppending(file, OPEN_EXISTING);
    if (!opened) {
      if (::GetLastError() != ERROR_FILE_NOT_FOUND) return;
      // Made new, never through a link that leads nowhere yet; when another
      // process makes the log first, that file is opened.
      opened = OpenForAppending(file, CREATE_NEW);
      if (!opened && ::GetLastError() == ERROR_FILE_EXISTS) continue;
      if (opened && !IsLinkOrMultiLinked(opened.get(), file.Get())) file_ = static_cast<UniqueFile&&>(opened);
      return;
    }
    // A link or a second name would carry the lines, or the move below, to
    // a file that is not the log.
    if (IsLinkOrMultiLinked(opened.get(), file.Get())) continue;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(opened.get(), &size) || static_cast<ULONGLONG>(size.QuadPart) <= kLogRotationBytes) {
      file_ = static_cast<UniqueFile&&>(opened);
      return;
    }
    // Whatever has the old log's name is replaced: a rename takes a name
    // and never writes through a link, so a link or a second name there
    // only loses that name.
    {
      LogWriteLock lock(opened.get(), lockWaitMs);
      // Without the lock, or when the log cannot be moved, it is kept and
      // written on: a later writer moves it aside.
      if (!lock.locked()) {
        file_ = static_cast<UniqueFile&&>(opened);
        return;
      }
      const HRESULT moved = MoveAsideIfStillAtItsName(opened.get(), file, old);
      if (FAILED(moved)) {
        file_ = static_cast<UniqueFile&&>(opened);
        return;
      }
    }
  }
}

bool StatisticLog::AppendLogLine(const wchar_t* record, DWORD lockWaitMs) {
  if (!file_) return false;
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  WideString line;
  if (!FormatLogLine(now, record, &line) || line.Length() > MAXDWORD / sizeof(wchar_t)) return false;
  const DWORD bytes = static_cast<DWORD>(line.Length() * sizeof(wchar_t));

  LogWriteLock fileLock(file_.get(), lockWaitMs);
  // Every writer holds the lock: the end found here stays the end until
  // this line is written, and nothing else can land after a cut line.
  LARGE_INTEGER end;
  const LARGE_INTEGER zero = {};
  if (!::SetFilePointerEx(file_.get(), zero, &end, FILE_END)) return false;
  DWORD written = 0;
  bool whole = end.QuadPart != 0 ||
               (g_logWrite(file_.get(), &kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr) &&
                written == sizeof(kByteOrderMark));
  whole = whole && g_logWrite(file_.get(), line.Get(), bytes, &written, nullptr) && written == bytes;
  if (!whole && fileLock.locked() && ::SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN))
    ::SetEndOfFile(file_.get());
  return whole;
}

StatisticLogWriter::StatisticLogWriter(const wchar_t* folder, DWORD lockWaitMs) : lockWaitMs_(lockWaitMs) {
  folder_.Assign(folder);
}

HRESULT StatisticLogWriter::LogPath(const WideString& folder, WideString* path) {
  WideString host;
  RETURN_IF_FAILED(ReadModulePath(nullptr, &host));
  const size_t slash = host.FindLast(L'\\');
  const wchar_t* name = host.Get() + (slash == WideString::npos ? 0 : slash + 1);
  WideString joined;
  if (!joined.Assign(folder) || !AppendPath(joined, name) || !joined.Append(L"_statistic.log")) return E_OUTOFMEMORY;
  *path = static_cast<WideString&&>(joined);
  return S_OK;
}

void StatisticLogWriter::WriteStatisticLog(const wchar_t* url, const wchar_t* referer, const wchar_t* tag,
                                           int64_t time, int32_t count, HRESULT error, const Deadline& until) {
  if (tag == nullptr) return;
  WideString record;
  if (FormatStatisticRecord(url, referer, tag, time, count, error, &record)) AppendRecord(record, until);
}

void StatisticLogWriter::WriteSkippedLibrary(const wchar_t* path, HRESULT why) {
  WideString record;
  if (FormatSkippedLibraryRecord(path, why, &record)) AppendRecord(record, Deadline::Unbounded());
}

void StatisticLogWriter::WriteRefusedKeptFiles(const Array<WideString>& paths, HRESULT why) {
  WideString record;
  if (!paths.IsEmpty() && FormatRefusedKeptFiles(paths, why, &record)) AppendRecord(record, Deadline::Unbounded());
}

void StatisticLogWriter::WriteUnsentRecord(const wchar_t* table, const wchar_t* items, int64_t time,
                                           HRESULT error, const Deadline& until) {
  WideString record;
  if (FormatUnsentRecord(table, items, time, error, &record)) AppendRecord(record, until);
}

void StatisticLogWriter::AppendRecord(const WideString& record, const Deadline& until) {
  CriticalSectionLock lock(lock_);
  // Each wait for the log's lock takes what is left until then, at most.
  const auto lockWaitMs = [this, &until] {
    const DWORD left = until.RemainingMs();
    return left < lockWaitMs_ ? left : lockWaitMs_;
  };
  if (!made_) {
    // The folder is made and examined first, and held while the log opens.
    HeldDataFolder folder;
    const HRESULT held = folder.Hold(folder_);
    if (held == E_FAIL || held == E_OUTOFMEMORY) return;
    if (SUCCEEDED(held)) {
      WideString path;
      if (FAILED(LogPath(folder.path(), &path))) return;
      logFile_.OpenStatisticLog(path.Get(), lockWaitMs());
    }
    made_ = true;
  }
  if (logFile_.IsOpen()) logFile_.AppendLogLine(record.Get(), lockWaitMs());
}

}  // namespace tmn
