// The few file-system calls the store makes, with errors as values. Paths are used as given: a
// relative path resolves against the current working directory of the moment.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace zarvel {

// Whether stat(2) (following symbolic links) succeeds on `path`.
bool path_exists(const std::string& path);
// Whether anything, a dangling symbolic link included, is at `path` (lstat(2)).
bool entry_exists(const std::string& path);
// Whether `path` names a regular file once symbolic links are followed.
bool is_regular_file(const std::string& path);

// The permission bits of what is at `path` (links followed); nullopt when nothing is there.
std::optional<unsigned> permission_bits(const std::string& path);

// mkdir(2) with permission bits 0o777 before the file-creation mask.
Status make_directory(const std::string& path);

// The entry names of a directory in the platform's order, without "." and "..".
Result<std::vector<std::string>> list_directory(const std::string& path);

Status remove_file(const std::string& path);
Status remove_directory(const std::string& path);

// rename(2): replaces whatever is at `to`.
Status rename_file(const std::string& from, const std::string& to);
// Moves `from` to `to` unless something is at `to`, which then stays as it is and the result is
// EEXIST. Atomic where the system offers it (renameat2 with RENAME_NOREPLACE, or link and unlink).
Status move_without_replacing(const std::string& from, const std::string& to);

// An open file descriptor, closed when the handle goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) noexcept : fd_(fd) {}
  FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();

  int fd() const noexcept { return fd_; }
  // Closes now; the error of close(2), if any.
  Status close();

 private:
  int fd_ = -1;
};

// open(2) for reading only; `extra_flags` such as O_NONBLOCK or O_NOFOLLOW are added.
Result<FileHandle> open_for_reading(const std::string& path, int extra_flags = 0);
// open(2) of a new file for writing (0o666 before the mask); EEXIST when anything, a symbolic
// link included, is at `path`: nothing there is followed, truncated or reused.
Result<FileHandle> create_new_file(const std::string& path);
// Whether the open file is a regular file.
bool is_regular_file(const FileHandle& file);
// Whether `path` still names the open file `file` (the same device and inode, links not followed).
bool names_file(const std::string& path, const FileHandle& file);
// Writes all of `bytes`, continuing short writes.
Status write_all(int fd, std::string_view bytes);

}  // namespace zarvel
