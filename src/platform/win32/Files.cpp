#include "platform/Files.h"

#include <windows.h>
// windows.h first: bcrypt.h and aclapi.h need its types.
#include <aclapi.h>
#include <bcrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win32/Security.h"
#include "platform/win32/WidePath.h"

namespace zirvo::platform {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};

// The temporary name of a replacement: the file's name, ".tmp" and 16 hexadecimal digits.
constexpr std::string_view kTemporaryMark = ".tmp";
constexpr std::size_t kTemporaryDigits = 16;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsTemporaryName(std::string_view name, std::string_view base) {
  if (name.size() != base.size() + kTemporaryMark.size() + kTemporaryDigits) return false;
  for (std::size_t i = 0; i < base.size(); ++i) {
    if (LowerAscii(name[i]) != LowerAscii(base[i])) return false;
  }
  if (name.substr(base.size(), kTemporaryMark.size()) != kTemporaryMark) return false;
  for (const char c : name.substr(base.size() + kTemporaryMark.size())) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The owner the files of this process get, and the process's account.
struct ProcessOwners {
  std::vector<unsigned char> owner;
  std::vector<unsigned char> user;
};

ProcessOwners OwnersOfThisProcess() {
  ProcessOwners owners;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return owners;
  std::unique_ptr<void, HandleCloser> closer(token);
  const auto read = [token](TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<unsigned char> data(size);
    if (size == 0 || !GetTokenInformation(token, kind, data.data(), size, &size)) data.clear();
    return data;
  };
  owners.owner = read(TokenOwner);
  owners.user = read(TokenUser);
  return owners;
}

bool OwnedByThisProcess(PSID sid, const ProcessOwners& owners) {
  if (!owners.owner.empty() &&
      EqualSid(sid, reinterpret_cast<const TOKEN_OWNER*>(owners.owner.data())->Owner)) {
    return true;
  }
  return !owners.user.empty() &&
         EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(owners.user.data())->User.Sid);
}

// Deletes a leftover temporary file through one handle, so that what is checked (a plain
// file, its owner) is what is deleted; a link is opened as itself, never followed.
DWORD DeleteIfOrphan(const std::string& path, const ProcessOwners& owners, bool& deleted) {
  deleted = false;
  HANDLE raw =
      CreateFileW(win32::WidePath(path).c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return GetLastError();
  std::unique_ptr<void, HandleCloser> file(raw);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(raw, &information) ||
      (information.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return 0;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(raw, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return 0;
  }
  const bool ours = owner != nullptr && OwnedByThisProcess(owner, owners);
  LocalFree(descriptor);
  if (!ours) return 0;
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!SetFileInformationByHandle(raw, FileDispositionInfo, &disposition, sizeof disposition)) {
    return GetLastError();
  }
  deleted = true;
  return 0;
}

// Creates the temporary file of a replacement under a name no other process can guess,
// beside the file it replaces. CREATE_NEW never opens a file someone put there first.
HANDLE CreateTemporaryBeside(const std::wstring& path, std::wstring& tempPath,
                             SECURITY_ATTRIBUTES* security) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  for (int attempt = 0;; ++attempt) {
    unsigned char random[8] = {};
    if (!BCRYPT_SUCCESS(
            BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      SetLastError(ERROR_GEN_FAILURE);
      return INVALID_HANDLE_VALUE;
    }
    tempPath = path + L".tmp";
    for (const unsigned char byte : random) {
      tempPath += kHex[byte >> 4];
      tempPath += kHex[byte & 0x0F];
    }
    HANDLE file = CreateFileW(tempPath.c_str(), GENERIC_WRITE | WRITE_DAC, 0, security, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS || attempt == 9) {
      return file;
    }
  }
}

// Gives the temporary file the access list of the file it replaces, protected from the
// folder's entries or not as that one was: an operator who narrowed who may read the
// settings keeps that after every rewrite. Where that list cannot be read, the temporary
// file keeps the protected list it was created with.
void KeepAccessList(const std::wstring& path, HANDLE temporary) {
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;
  }
  win32::LocalMemory<void> owned(descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  SetSecurityInfo(temporary, SE_FILE_OBJECT,
                  DACL_SECURITY_INFORMATION |
                      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION),
                  nullptr, nullptr, list, nullptr);
}

bool IsReadOnly(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace

char PathDelimiter() { return '\\'; }

bool IsReadOnlyFile(const std::string& path) { return IsReadOnly(win32::WidePath(path)); }

int ReplaceFileContents(const std::string& path, std::string_view data, FlushMode mode,
                        NewFileAccess access) {
  const std::wstring widePath = win32::WidePath(path);
  if (IsReadOnly(widePath)) return ERROR_ACCESS_DENIED;
  std::wstring tempPath;
  win32::ProtectedFileSecurity security;
  HANDLE raw = CreateTemporaryBeside(
      widePath, tempPath, access == NewFileAccess::kOwnerOnly ? security.Attributes() : nullptr);
  if (raw == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  DWORD error = 0;
  {
    std::unique_ptr<void, HandleCloser> file(raw);
    DWORD written = 0;
    if (GetFileAttributesW(widePath.c_str()) != INVALID_FILE_ATTRIBUTES) {
      KeepAccessList(widePath, raw);
    }
    if (!WriteFile(raw, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
        written != data.size()) {
      error = GetLastError();
    } else if (mode == FlushMode::kToDisk && !FlushFileBuffers(raw)) {
      error = GetLastError();
    }
  }
  if (!error && !MoveFileExW(tempPath.c_str(), widePath.c_str(),
                             MOVEFILE_REPLACE_EXISTING |
                                 (mode == FlushMode::kToDisk ? MOVEFILE_WRITE_THROUGH : 0))) {
    error = GetLastError();
  }
  if (error) {
    DeleteFileW(tempPath.c_str());
    return static_cast<int>(error);
  }
  return 0;
}

OrphanRemoval RemoveOrphanReplacements(const std::string& path) {
  OrphanRemoval result;
  const auto separator = path.find_last_of("\\/");
  const std::string directory = separator == std::string::npos ? "" : path.substr(0, separator + 1);
  const std::string base = separator == std::string::npos ? path : path.substr(separator + 1);
  WIN32_FIND_DATAW found{};
  HANDLE search =
      FindFirstFileW(win32::WidePath(path + std::string(kTemporaryMark) + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return result;
  const ProcessOwners owners = OwnersOfThisProcess();
  do {
    // The pattern also matches short (8.3) names and other lengths: the long name decides.
    const std::string name = win32::PathFromWide(found.cFileName);
    if (!IsTemporaryName(name, base)) continue;
    const std::string candidate = directory + name;
    bool deleted = false;
    const DWORD error = DeleteIfOrphan(candidate, owners, deleted);
    if (deleted) result.removed.push_back(candidate);
    if (error != 0) result.failed.emplace_back(candidate, static_cast<int>(error));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return result;
}

int FlushFileToDisk(const std::string& path) {
  HANDLE raw = CreateFileW(win32::WidePath(path).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  std::unique_ptr<void, HandleCloser> file(raw);
  return FlushFileBuffers(raw) ? 0 : static_cast<int>(GetLastError());
}

int ReadFileContents(const std::string& path, std::string& data, bool& missing) {
  data.clear();
  missing = false;
  HANDLE raw = CreateFileW(win32::WidePath(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return static_cast<int>(error);
  }
  std::unique_ptr<void, HandleCloser> file(raw);
  char buffer[65536];
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(raw, buffer, sizeof buffer, &count, nullptr)) {
      data.clear();
      return static_cast<int>(GetLastError());
    }
    if (count == 0) return 0;
    data.append(buffer, count);
  }
}

}  // namespace zirvo::platform
