#include "db/NamedParameters.h"

namespace zirvo::db {

namespace {

bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

}  // namespace

MarkedStatement MarkParameters(std::string_view statement) {
  MarkedStatement result;
  std::size_t i = 0;
  const std::size_t n = statement.size();
  auto copyUntil = [&](std::size_t end) {
    result.text.append(statement.substr(i, end - i));
    i = end;
  };
  while (i < n) {
    const char c = statement[i];
    if (c == '\'' || c == '"' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::size_t j = i + 1;
      for (;;) {
        j = statement.find(close, j);
        if (j == std::string_view::npos) {
          j = n;
          break;
        }
        // A doubled closing character stands for itself inside the quotes.
        if (j + 1 < n && statement[j + 1] == close) {
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      copyUntil(j);
    } else if (c == '-' && i + 1 < n && statement[i + 1] == '-') {
      const std::size_t end = statement.find('\n', i);
      copyUntil(end == std::string_view::npos ? n : end);
    } else if (c == '/' && i + 1 < n && statement[i + 1] == '*') {
      const std::size_t end = statement.find("*/", i + 2);
      copyUntil(end == std::string_view::npos ? n : end + 2);
    } else if (c == ':' && i + 1 < n && statement[i + 1] == ':') {
      copyUntil(i + 2);
    } else if (c == ':' && i + 1 < n && IsNameStart(statement[i + 1])) {
      std::size_t end = i + 1;
      while (end < n && IsNameChar(statement[end])) ++end;
      result.names.emplace_back(statement.substr(i + 1, end - i - 1));
      result.text += '?';
      i = end;
    } else {
      result.text += c;
      ++i;
    }
  }
  return result;
}

}  // namespace zirvo::db
