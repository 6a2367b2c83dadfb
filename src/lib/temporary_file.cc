#include "lib/temporary_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "lib/collection_path.h"

namespace zarvel {

namespace {

// Collisions of 64 random bits do not happen; the bound only stops a broken bit source.
constexpr int kCreateAttempts = 100;

std::string parent_directory(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes a rename durable. Some file systems cannot sync a directory (EINVAL); the rename itself
// has happened either way.
void sync_directory(const std::string& directory) {
  Result<FileHandle> dir = open_for_reading(directory, O_DIRECTORY);
  if (dir.ok()) (void)::fsync(dir.value().fd());
}

bool lock(const FileHandle& file, int operation) {
  int result;
  do {
    result = ::flock(file.fd(), operation);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace

std::uint64_t random_unique_bits() {
  // Drawn anew for every file: no state is shared with a process forked from this one.
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

Result<TemporaryFile> TemporaryFile::create(const std::string& target_path,
                                            const UniqueBits& unique) {
  std::optional<unsigned> target_mode = permission_bits(target_path);
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    std::string path = temporary_file_path(target_path, unique());
    Result<FileHandle> file = create_new_file(path);
    if (!file.ok()) {
      if (file.status().os_errno() == EEXIST) continue;
      return std::move(file).status();
    }
    // A file system without locks leaves the file unlocked; no one can then lock it to remove it.
    (void)lock(file.value(), LOCK_EX);
    // Between the creation and the lock, a store opening elsewhere may have taken this file for
    // a stale one and removed it: start again under a new name.
    if (!names_file(path, file.value())) continue;
    TemporaryFile temporary(target_path, std::move(path), std::move(file).value());
    // The bits change before any content is written, so no content is ever more widely readable.
    if (target_mode && ::fchmod(temporary.fd(), static_cast<mode_t>(*target_mode)) != 0) {
      return Status::system_call(errno);
    }
    return temporary;
  }
  return Status::system_call(EEXIST);
}

TemporaryFile::~TemporaryFile() {
  if (!installed_ && file_.fd() >= 0) (void)remove_file(path_);
}

Status TemporaryFile::sync() {
  if (::fsync(file_.fd()) != 0) return Status::system_call(errno);
  return Status();
}

Status TemporaryFile::moved(Status status) {
  if (!status.ok()) return status;
  installed_ = true;
  sync_directory(parent_directory(target_path_));
  return Status();
}

Status TemporaryFile::replace_target() { return moved(rename_file(path_, target_path_)); }

Status TemporaryFile::install_as_new_target() {
  return moved(move_without_replacing(path_, target_path_));
}

void remove_if_stale(const std::string& path) {
  // Opened without following a link and without blocking on a FIFO planted under such a name.
  Result<FileHandle> file = open_for_reading(path, O_NOFOLLOW | O_NONBLOCK);
  if (!file.ok() || !is_regular_file(file.value())) return;
  // Locked, the file can no longer be taken by a writer; it is removed only if the name still
  // names it.
  if (lock(file.value(), LOCK_EX | LOCK_NB) && names_file(path, file.value()))
    (void)remove_file(path);
}

}  // namespace zarvel
