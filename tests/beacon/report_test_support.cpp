#include "beacon/report_test_support.h"

#include <fstream>
#include <iterator>
#include <regex>

namespace tmtest {

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring DecodeUtf16(const std::string& bytes) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return text;
}

LogContents ReadLog(const std::wstring& path) {
  const std::wstring text = DecodeUtf16(ReadFileBytes(path));
  LogContents log;
  for (wchar_t c : text) log.marks += c == 0xFEFF ? 1 : 0;
  log.startsWithMark = !text.empty() && text[0] == 0xFEFF;
  size_t at = log.startsWithMark ? 1 : 0;
  while (at < text.size()) {
    const size_t end = text.find(L"\r\n", at);
    if (end == std::wstring::npos) {
      log.lines.push_back(text.substr(at));  // an unfinished line shows as it is
      break;
    }
    log.lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return log;
}

std::wstring RecordOfLine(const std::wstring& line) {
  static const std::wregex stamp(L"^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\\] ");
  std::wsmatch match;
  if (!std::regex_search(line, match, stamp)) return L"";
  return line.substr(match.length(0));
}

}  // namespace tmtest
