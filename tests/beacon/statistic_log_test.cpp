#include <gtest/gtest.h>

#include <stdint.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "beacon/report_test_support.h"
#include "beacon/statistic_log.h"
#include "support/test_support.h"

using tmtest::LogContents;
using tmtest::ReadLog;
using tmtest::RecordOfLine;
using tmtest::TempDir;

namespace {

std::wstring Record(const wchar_t* url, const wchar_t* referer, const wchar_t* tag, int64_t time, int32_t count,
                    HRESULT error) {
  tmn::WideString record = tmtest::MakeWide(L"junk");
  EXPECT_TRUE(tmn::FormatStatisticRecord(url, referer, tag, time, count, error, &record));
  return tmtest::Text(record);
}

TEST(StatisticRecord, WritesEachPartOnlyUnderItsCondition) {
  const wchar_t* info = tmn::kStoredTag;
  const wchar_t* error = tmn::kStoreFailedTag;
  EXPECT_EQ(L"[ERROR.SaveStatistic] url:U, refer_url:R, time:1700000000, count:1, err:0x80004005",
            Record(L"U", L"R", error, 1700000000, 1, E_FAIL));
  EXPECT_EQ(L"[INFO.SaveStatistic] url:U, time:7, count:1", Record(L"U", nullptr, info, 7, 1, S_OK));
  EXPECT_EQ(L"[INFO.SaveStatistic] url:U, time:7, count:1", Record(L"U", L"", info, 7, 1, S_FALSE));
  EXPECT_EQ(L"[INFO.SaveStatistic], refer_url:R, count:1", Record(nullptr, L"R", info, 0, 1, 0x7FFFFFFF));
  EXPECT_EQ(L"[INFO.SaveStatistic] url:U", Record(L"U", L"", info, 0, 0, 0));
  EXPECT_EQ(L"[x], time:-5, count:-1, err:0xffffffff", Record(L"", nullptr, L"x", -5, -1, -1));
  EXPECT_EQ(L"[x], time:9223372036854775807, err:0x80000000",
            Record(nullptr, nullptr, L"x", INT64_MAX, 0, static_cast<HRESULT>(0x80000000)));
  EXPECT_EQ(L"[x], time:-9223372036854775808, count:-2147483648, err:0x800700a0",
            Record(nullptr, nullptr, L"x", INT64_MIN, INT32_MIN, static_cast<HRESULT>(0x800700A0)));
}

TEST(StatisticLogLine, StampsTheUtcTimeWithAColonBeforeTheMilliseconds) {
  SYSTEMTIME time = {2026, 1, 5, 2, 3, 4, 5, 6};
  tmn::WideString line = tmtest::MakeWide(L"junk");
  ASSERT_TRUE(tmn::FormatLogLine(time, L"[INFO.SaveStatistic] url:U", &line));
  EXPECT_EQ(L"[2026-01-02 03:04:05:006] [INFO.SaveStatistic] url:U\r\n", tmtest::Text(line));
  time = {999, 12, 0, 31, 23, 59, 59, 999};
  ASSERT_TRUE(tmn::FormatLogLine(time, L"", &line));
  EXPECT_EQ(L"[0999-12-31 23:59:59:999] \r\n", tmtest::Text(line));
}

// A log of the given size: FF FE, then filler.
void WriteLogOfSize(const std::wstring& path, size_t bytes) {
  std::string contents(bytes, 'a');
  contents[0] = '\xFF';
  contents[1] = '\xFE';
  ASSERT_TRUE(tmtest::WriteFileText(path, contents));
}

TEST(StatisticLog, MakesItsFolderAndStartsANewLogWithTheMark) {
  TempDir dir(L"slog");
  const std::wstring path = dir / L"made\\below\\setup.exe_statistic.log";
  tmn::StatisticLog log;
  log.OpenStatisticLog(path.c_str());
  ASSERT_TRUE(log.IsOpen());
  EXPECT_TRUE(log.AppendLogLine(L"[A] one"));
  EXPECT_TRUE(log.AppendLogLine(L"[B] two"));
  const LogContents contents = ReadLog(path);
  EXPECT_TRUE(contents.startsWithMark);
  EXPECT_EQ(1u, contents.marks);
  ASSERT_EQ(2u, contents.lines.size());
  EXPECT_EQ(L"[A] one", RecordOfLine(contents.lines[0])) << contents.lines[0];
  EXPECT_EQ(L"[B] two", RecordOfLine(contents.lines[1])) << contents.lines[1];
  // Nothing of the making is left beside the log.
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((dir / L"made\\below\\*").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  do {
    if (found.cFileName[0] != L'.') names.push_back(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_EQ(std::vector<std::wstring>{L"setup.exe_statistic.log"}, names);
}

TEST(StatisticLog, MovesAsideOnlyALogLargerThanTheLimit) {
  for (const size_t size : {size_t{5242880}, size_t{5242881}}) {
    TempDir dir(L"slog");
    const std::wstring path = dir / L"x.log", old = dir / L"x.log.old";
    WriteLogOfSize(path, size);
    ASSERT_TRUE(tmtest::WriteFileText(old, "older"));
    tmn::StatisticLog log;
    log.OpenStatisticLog(path.c_str());
    ASSERT_TRUE(log.AppendLogLine(L"[T] line")) << size;
    const std::string bytes = tmtest::ReadFileBytes(path);
    if (size == 5242880) {
      EXPECT_EQ(std::string(5242880 - 2, 'a'), bytes.substr(2, 5242880 - 2));
      const std::wstring added = tmtest::DecodeUtf16(bytes.substr(5242880));
      EXPECT_EQ(L"[T] line\r\n", RecordOfLine(added)) << added;
      EXPECT_EQ("older", tmtest::ReadFileBytes(old));
    } else {
      const LogContents contents = ReadLog(path);
      EXPECT_TRUE(contents.startsWithMark);
      ASSERT_EQ(1u, contents.lines.size());
      EXPECT_EQ(L"[T] line", RecordOfLine(contents.lines[0]));
      const std::string moved = tmtest::ReadFileBytes(old);
      EXPECT_EQ(5242881u, moved.size());
      EXPECT_EQ(std::string(5242881 - 2, 'a'), moved.substr(2));
    }
  }
}

TEST(StatisticLog, ALogMadeByAnotherWriterIsOpenedAndAppendedTo) {
  TempDir dir(L"slog");
  const std::wstring path = dir / L"x.log";
  tmn::StatisticLog first, second;
  first.OpenStatisticLog(path.c_str());
  second.OpenStatisticLog(path.c_str());
  ASSERT_TRUE(second.IsOpen());
  EXPECT_TRUE(first.AppendLogLine(L"[1] a"));
  EXPECT_TRUE(second.AppendLogLine(L"[2] b"));
  EXPECT_TRUE(first.AppendLogLine(L"[1] c"));
  const LogContents contents = ReadLog(path);
  EXPECT_EQ(1u, contents.marks);
  ASSERT_EQ(3u, contents.lines.size());
  EXPECT_EQ(L"[1] a", RecordOfLine(contents.lines[0]));
  EXPECT_EQ(L"[2] b", RecordOfLine(contents.lines[1]));
  EXPECT_EQ(L"[1] c", RecordOfLine(contents.lines[2]));
}

TEST(StatisticLog, LinesOfWritersAtTheSameTimeAllLandWhole) {
  TempDir dir(L"slog");
  const std::wstring path = dir / L"x.log";
  constexpr int kWriters = 4, kLines = 250;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&path, w] {
      tmn::StatisticLog log;  // a file handle of its own, as another process has
      log.OpenStatisticLog(path.c_str());
      for (int i = 0; i < kLines; ++i)
        log.AppendLogLine((L"[W" + std::to_wstring(w) + L"] line " + std::to_wstring(i)).c_str());
    });
  }
  for (std::thread& writer : writers) writer.join();
  const LogContents contents = ReadLog(path);
  EXPECT_TRUE(contents.startsWithMark);
  EXPECT_EQ(1u, contents.marks);
  EXPECT_EQ(static_cast<size_t>(kWriters * kLines), contents.lines.size());
  std::set<std::wstring> records;
  for (const std::wstring& line : contents.lines) records.insert(RecordOfLine(line));
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kLines; ++i)
      EXPECT_EQ(1u, records.count(L"[W" + std::to_wstring(w) + L"] line " + std::to_wstring(i))) << w << " " << i;
}

// Writers that open a log too large at the same moment move it aside once:
// the large log is the one kept, and every line lands in the new one.
TEST(StatisticLog, WritersOpeningALargeLogAtOnceMoveItAsideOnce) {
  constexpr int kRounds = 6, kWriters = 6;
  for (int round = 0; round < kRounds; ++round) {
    TempDir dir(L"slog");
    const std::wstring path = dir / L"x.log";
    WriteLogOfSize(path, 5242881);
    std::atomic<int> waiting{kWriters};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
      writers.emplace_back([&path, &waiting, w] {
        --waiting;
        while (waiting > 0) std::this_thread::yield();
        tmn::StatisticLog log;
        log.OpenStatisticLog(path.c_str());
        log.AppendLogLine((L"[W] " + std::to_wstring(w)).c_str());
      });
    }
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(5242881u, tmtest::ReadFileBytes(path + L".old").size()) << "round " << round;
    EXPECT_EQ(static_cast<size_t>(kWriters), ReadLog(path).lines.size()) << "round " << round;
  }
}

TEST(StatisticLog, ALogThatCannotBeOpenedDropsItsLines) {
  TempDir dir(L"slog");
  const std::wstring folderInTheWay = dir / L"dir.log";
  ASSERT_TRUE(CreateDirectoryW(folderInTheWay.c_str(), nullptr));
  tmn::StatisticLog onAFolder;
  onAFolder.OpenStatisticLog(folderInTheWay.c_str());
  EXPECT_FALSE(onAFolder.IsOpen());
  EXPECT_FALSE(onAFolder.AppendLogLine(L"[X] dropped"));

  // A log another program holds without sharing stays closed for good.
  const std::wstring held = dir / L"held.log";
  HANDLE holder = CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  tmn::StatisticLog log;
  log.OpenStatisticLog(held.c_str());
  CloseHandle(holder);
  EXPECT_FALSE(log.AppendLogLine(L"[X] dropped"));
  EXPECT_EQ("", tmtest::ReadFileBytes(held));
}

// A full disk: half of a line lands, then the write fails.
BOOL WINAPI WriteHalfOfALine(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED place) {
  WriteFile(file, data, bytes / 2, written, place);
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

TEST(StatisticLog, ALineCutShortIsTakenBackSoTheNextOneStartsWhole) {
  TempDir dir(L"slog");
  const std::wstring path = dir / L"x.log";
  tmn::StatisticLog log;
  log.OpenStatisticLog(path.c_str());
  EXPECT_TRUE(log.AppendLogLine(L"[A] first"));
  const std::string before = tmtest::ReadFileBytes(path);
  tmn::g_logWrite = WriteHalfOfALine;
  const bool cut = log.AppendLogLine(L"[B] second");
  tmn::g_logWrite = WriteFile;
  EXPECT_FALSE(cut);
  EXPECT_EQ(before, tmtest::ReadFileBytes(path));
}

// A link or second name at the log's own name is left alone; one at the
// old log's name only loses that name, and never silences the log.
TEST(StatisticLog, ALogWithASecondNameIsLeftAloneAndAnOldLogsSecondNameIsReplaced) {
  TempDir dir(L"slog");
  const std::wstring path = dir / L"x.log", other = dir / L"other.txt";
  ASSERT_TRUE(tmtest::WriteFileText(other, "other"));
  ASSERT_TRUE(CreateHardLinkW(path.c_str(), other.c_str(), nullptr));
  tmn::StatisticLog linked;
  linked.OpenStatisticLog(path.c_str());
  EXPECT_FALSE(linked.IsOpen());
  EXPECT_EQ("other", tmtest::ReadFileBytes(other));

  // Too large to keep, with a ".old" that is another file's second name:
  // the log is moved over that name, and the other file stays as it was.
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  WriteLogOfSize(path, 5242881);
  ASSERT_TRUE(CreateHardLinkW((path + L".old").c_str(), other.c_str(), nullptr));
  tmn::StatisticLog rotated;
  rotated.OpenStatisticLog(path.c_str());
  EXPECT_TRUE(rotated.AppendLogLine(L"[T] line"));
  EXPECT_EQ(1u, ReadLog(path).lines.size());
  EXPECT_EQ(5242881u, tmtest::ReadFileBytes(path + L".old").size());
  EXPECT_EQ("other", tmtest::ReadFileBytes(other));
}

TEST(StatisticLogWriter, WritesTheHostsLogAndStaysSilentOnceItCouldNotOpenIt) {
  TempDir dir(L"slog");
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring name = std::wstring(exe).substr(std::wstring(exe).rfind(L'\\') + 1);
  const std::wstring path = dir / (name + L"_statistic.log");

  tmn::StatisticLogWriter silent(dir.path().c_str());
  silent.WriteStatisticLog(L"U", L"R", nullptr, 1, 1, E_FAIL);  // no tag, no log
  EXPECT_FALSE(tmtest::FileExists(path));
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  silent.WriteStatisticLog(L"U", L"R", tmn::kStoredTag, 1, 1, S_OK);
  ASSERT_TRUE(RemoveDirectoryW(path.c_str()));
  silent.WriteStatisticLog(L"U", L"R", tmn::kStoredTag, 1, 1, S_OK);
  EXPECT_FALSE(tmtest::FileExists(path));

  tmn::StatisticLogWriter writer((dir.path() + L"\\").c_str());
  writer.WriteStatisticLog(L"http://h/p?a=1", L"http://r/", tmn::kStoreFailedTag, 1700000000, 1, E_FAIL);
  writer.WriteStatisticLog(L"http://h/q", L"http://r/", tmn::kStoredTag, 1700000001, 1, S_OK);
  const LogContents contents = ReadLog(path);
  EXPECT_TRUE(contents.startsWithMark);
  ASSERT_EQ(2u, contents.lines.size());
  EXPECT_EQ(L"[ERROR.SaveStatistic] url:http://h/p?a=1, refer_url:http://r/, time:1700000000, count:1, "
            L"err:0x80004005",
            RecordOfLine(contents.lines[0]));
  EXPECT_EQ(L"[INFO.SaveStatistic] url:http://h/q, refer_url:http://r/, time:1700000001, count:1",
            RecordOfLine(contents.lines[1]));
}

}  // namespace
