// The error classes of the whole system. Every failure is raised as an Exception (or a
// class derived from it) carrying an operator-readable message; guards catch Exception
// only, so anything else (std::bad_alloc, a logic error) is a real defect and escapes.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace zirvo {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A text that did not convert into a number, a date or a time.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The silent error: it ends an operation without anything being reported.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
  explicit EAbort(std::string message) : Exception(std::move(message)) {}
};

// One native entry of a database engine error. The high byte of the code is the
// category, the low byte the subcode.
struct DBEngineErrorEntry {
  std::uint16_t errorCode = 0;
  std::string message;
  int Category() const { return errorCode >> 8; }
  int SubCode() const { return errorCode & 0xFF; }
};

// A database engine error with its native entries, entry 0 first. The message of the
// error is the message of entry 0.
class EDBEngineError : public Exception {
 public:
  explicit EDBEngineError(std::vector<DBEngineErrorEntry> entries);
  const std::vector<DBEngineErrorEntry>& Errors() const { return entries_; }

 private:
  std::vector<DBEngineErrorEntry> entries_;
};

// A file operation that failed after its file was opened (a full disk, for example).
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int errorCode)
      : Exception(std::move(message)), errorCode_(errorCode) {}
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

// EOSError, the failed operating-system call, needs the system's texts: it lives in
// platform/SystemError.h.

// An HTTP reply whose status the client treats as a failure. The message is the status
// line exactly as received.
class HttpProtocolError : public Exception {
 public:
  HttpProtocolError(int code, std::string statusLine, std::string body)
      : Exception(std::move(statusLine)), code_(code), body_(std::move(body)) {}
  int Code() const { return code_; }
  const std::string& StatusLine() const { return Message(); }
  const std::string& Body() const { return body_; }

 private:
  int code_;
  std::string body_;
};

}  // namespace zirvo
