#include "platform/Paths.h"

#include "base/StringUtils.h"
#include "platform/Files.h"

namespace zirvo {

std::string ExtractFilePath(std::string_view path) {
  const char delimiter = platform::PathDelimiter();
  // Windows also accepts '/' and a drive colon; Linux only '/'.
  const std::string_view separators = delimiter == '\\' ? std::string_view("\\/:") : "/";
  const auto last = path.find_last_of(separators);
  return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last + 1));
}

std::string AddTrailingBackslash(std::string_view path) {
  if (TrimControl(path).empty()) return std::string();
  const char delimiter = platform::PathDelimiter();
  std::string result(path);
  if (result.back() != delimiter) result += delimiter;
  return result;
}

std::filesystem::path FileSystemPath(std::string_view path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string PathString(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace zirvo
