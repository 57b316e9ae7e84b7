// File operations whose behaviour differs between the OSes.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zirvo::platform {

// The separator of directory names in paths ('\' on Windows, '/' on Linux).
char PathDelimiter();

// True when the file exists and carries the read-only mark (Windows attribute; on Linux
// no write permission bit at all, which holds even for root).
bool IsReadOnlyFile(const std::string& path);

// How far a replacement goes before it returns.
enum class FlushMode {
  // The new content reaches the disk before it takes the old one's place.
  kToDisk,
  // The replacement is atomic for every process (a crash of the writer leaves the old or
  // the new content), but reaching the disk is left to the system or to FlushFileToDisk.
  kLeaveToSystem,
};

// Who may read a file that ReplaceFileContents creates. Linux: permission bits. Windows:
// kOwnerOnly is a protected access list (the system, the administrators and the account
// the process runs as), kEveryone the folder's entries.
enum class NewFileAccess { kOwnerOnly, kEveryone };

// Replaces the whole content of a file so that a crash leaves either the old or the new
// content, never a mix: the data go to a temporary file of unpredictable name in the same
// directory, reach the disk (kToDisk), and the temporary file then takes the place of the
// old one. An existing file keeps its permissions; a new file gets the given access
// (written by its owner only either way). A read-only file is refused. Returns 0, or the
// system error code of the step that failed.
int ReplaceFileContents(const std::string& path, std::string_view data,
                        FlushMode mode = FlushMode::kToDisk,
                        NewFileAccess access = NewFileAccess::kOwnerOnly);

// What RemoveOrphanReplacements found.
struct OrphanRemoval {
  std::vector<std::string> removed;
  // Paths that could not be removed, each with the system error code.
  std::vector<std::pair<std::string, int>> failed;
};

// Removes the temporary files that replacements of `path` left behind when their process
// was killed before the rename: files beside it named exactly as ReplaceFileContents
// names them on this system, regular files (no link, no folder) owned by the account
// this process runs as (Windows: the owner its new files get).
OrphanRemoval RemoveOrphanReplacements(const std::string& path);

// Brings a file's content to the disk with one flush: after a series of kLeaveToSystem
// replacements, the last one. Returns 0, or the system error code.
int FlushFileToDisk(const std::string& path);

// Reads a whole regular file into data. Returns 0, or the system error code; missing is
// set when the file or its folder does not exist (as opposed to a file that exists but
// cannot be read, or that is no regular file).
int ReadFileContents(const std::string& path, std::string& data, bool& missing);

}  // namespace zirvo::platform
