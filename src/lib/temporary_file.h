// A file written under a temporary name beside its target and then moved into place, so that the
// target shows the old content or the new one, never a part. Each write has a file of its own: a
// uniquely named one, created only where nothing is (a planted symbolic link is never followed),
// and locked while it is written so that no other process removes it as stale.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/status.h"
#include "lib/file_system.h"

namespace zarvel {

// 64 unpredictable bits that name one temporary file; tests put a sequence of their own.
using UniqueBits = std::function<std::uint64_t()>;
std::uint64_t random_unique_bits();

class TemporaryFile {
 public:
  // Creates and locks a new temporary file for `target_path` (temporary_file_path() with fresh
  // bits at each try). It takes the permission bits of the file at `target_path` when there is
  // one, so a rewrite does not widen access; otherwise 0o666 before the file-creation mask.
  static Result<TemporaryFile> create(const std::string& target_path,
                                      const UniqueBits& unique = random_unique_bits);

  TemporaryFile(TemporaryFile&&) noexcept = default;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  // Removes the file unless it was moved into place.
  ~TemporaryFile();

  int fd() const noexcept { return file_.fd(); }
  const std::string& path() const noexcept { return path_; }

  // fsync(2): the content reaches the disk before the file takes the target's name.
  Status sync();
  // Renames the file over the target, replacing what is there, and syncs the directory.
  Status replace_target();
  // Moves the file to the target unless something is there (EEXIST, and nothing changes), and
  // syncs the directory.
  Status install_as_new_target();

 private:
  TemporaryFile(std::string target_path, std::string path, FileHandle file)
      : target_path_(std::move(target_path)), path_(std::move(path)), file_(std::move(file)) {}
  Status moved(Status status);

  std::string target_path_;
  std::string path_;
  FileHandle file_;  // holds the lock until the file is closed, after the move
  bool installed_ = false;
};

// Removes the temporary file at `path` if no writer holds it: a writer killed before its rename
// leaves one behind. A file whose lock is held, or that is not a regular file, stays.
void remove_if_stale(const std::string& path);

}  // namespace zarvel
