// What the report tests share: reading a UTF-16 log back, the lines of a
// log without their time stamps, and the time stamp's shape.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tmtest {

std::string ReadFileBytes(const std::wstring& path);
std::wstring DecodeUtf16(const std::string& bytes);

// A log file's contents: whether it starts with FF FE, how many FF FE marks
// it holds, and its lines (CR LF taken off) after the first mark.
struct LogContents {
  bool startsWithMark = false;
  size_t marks = 0;
  std::vector<std::wstring> lines;
};
LogContents ReadLog(const std::wstring& path);

// The record of a line "[YYYY-MM-DD hh:mm:ss:mmm] record"; empty when the
// line does not begin with such a stamp.
std::wstring RecordOfLine(const std::wstring& line);

}  // namespace tmtest
