#include "lib/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef __linux__
#include <sys/syscall.h>
#endif

#include "base/compat_texts.h"

namespace zarvel {

namespace {

// The kernel reads paths as C strings: a NUL inside would silently cut the path short.
bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

Status nul_in_path() { return Status::system_call(std::string(kNulInFileName)); }

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

// renameat2(2) with RENAME_NOREPLACE; ENOSYS where the system has no such call.
int rename_no_replace(const char* from, const char* to) {
#if defined(__linux__) && defined(SYS_renameat2)
  return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
#else
  (void)from;
  (void)to;
  errno = ENOSYS;
  return -1;
#endif
}

// The errors by which a call says that it, or the file system, does not offer it.
bool unsupported(int error) {
  // ENOTSUP and EOPNOTSUPP are one number on Linux and two on other systems.
  // NOLINTNEXTLINE(misc-redundant-expression)
  return error == ENOSYS || error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP ||
         error == EPERM;
}

}  // namespace

bool path_exists(const std::string& path) {
  struct stat info;
  return !has_nul(path) && ::stat(path.c_str(), &info) == 0;
}

bool entry_exists(const std::string& path) {
  struct stat info;
  return !has_nul(path) && ::lstat(path.c_str(), &info) == 0;
}

bool is_regular_file(const std::string& path) {
  struct stat info;
  return !has_nul(path) && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<unsigned> permission_bits(const std::string& path) {
  struct stat info;
  if (has_nul(path) || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return info.st_mode & 07777;
}

Status make_directory(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  if (::mkdir(path.c_str(), 0777) != 0) return Status::system_call(errno);
  return Status();
}

Result<std::vector<std::string>> list_directory(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return Status::system_call(errno);
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      int error = errno;
      ::closedir(dir);
      if (error != 0) return Status::system_call(error);
      return names;
    }
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
}

Status remove_file(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  if (::unlink(path.c_str()) != 0) return Status::system_call(errno);
  return Status();
}

Status remove_directory(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  if (::rmdir(path.c_str()) != 0) return Status::system_call(errno);
  return Status();
}

Status rename_file(const std::string& from, const std::string& to) {
  if (has_nul(from) || has_nul(to)) return nul_in_path();
  if (::rename(from.c_str(), to.c_str()) != 0) return Status::system_call(errno);
  return Status();
}

Status move_without_replacing(const std::string& from, const std::string& to) {
  if (has_nul(from) || has_nul(to)) return nul_in_path();
  if (rename_no_replace(from.c_str(), to.c_str()) == 0) return Status();
  if (!unsupported(errno)) return Status::system_call(errno);
  // A second name, then the first one dropped: link(2) never replaces anything either.
  if (::link(from.c_str(), to.c_str()) == 0) {
    (void)::unlink(from.c_str());
    return Status();
  }
  if (!unsupported(errno)) return Status::system_call(errno);
  // A file system without hard links: check, then rename, with a short window between the two.
  if (entry_exists(to)) return Status::system_call(EEXIST);
  return rename_file(from, to);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    (void)close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileHandle::~FileHandle() { (void)close(); }

Status FileHandle::close() {
  if (fd_ < 0) return Status();
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Status::system_call(errno);
  return Status();
}

Result<FileHandle> open_for_reading(const std::string& path, int extra_flags) {
  if (has_nul(path)) return nul_in_path();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | extra_flags);
  if (fd < 0) return Status::system_call(errno);
  return FileHandle(fd);
}

Result<FileHandle> create_new_file(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return Status::system_call(errno);
  return FileHandle(fd);
}

bool is_regular_file(const FileHandle& file) {
  struct stat info;
  return ::fstat(file.fd(), &info) == 0 && S_ISREG(info.st_mode);
}

bool names_file(const std::string& path, const FileHandle& file) {
  struct stat named, open;
  return !has_nul(path) && ::lstat(path.c_str(), &named) == 0 && ::fstat(file.fd(), &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return Status::system_call(errno);
    }
    if (written == 0) return Status::system_call(std::string(kShortWrite));
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return Status();
}

}  // namespace zarvel
