// The log file, opened for one line at a time: write access, other processes may read it
// meanwhile but not write it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zirvo::platform {

class AppendFile {
 public:
  virtual ~AppendFile() = default;
  // Appends all bytes. Returns 0 or the system error code.
  virtual int Write(std::string_view data) = 0;
  // Releases the file; returns 0 or the system error code. Called at most once; the
  // destructor releases a file that was not closed.
  virtual int Close() = 0;
};

// Opens the file for appending, creating it when missing. Returns null when the file
// cannot be opened: no rights, a read-only file, another writer holding it.
std::unique_ptr<AppendFile> OpenLogFileForAppend(const std::string& path);

}  // namespace zirvo::platform
