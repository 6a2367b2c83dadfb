#include "lib/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zarvel {

namespace {

// The kernel reads paths as C strings: a NUL inside would silently cut the path short.
bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

Status nul_in_path() { return Status::os_text("file name contained an unexpected NUL byte"); }

}  // namespace

bool path_exists(const std::string& path) {
  struct stat info;
  return !has_nul(path) && ::stat(path.c_str(), &info) == 0;
}

Status make_directory(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  if (::mkdir(path.c_str(), 0777) != 0) return Status::os(errno);
  return Status();
}

Result<std::vector<std::string>> list_directory(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return Status::os(errno);
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      int error = errno;
      ::closedir(dir);
      if (error != 0) return Status::os(error);
      return names;
    }
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
}

Status remove_file(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  if (::unlink(path.c_str()) != 0) return Status::os(errno);
  return Status();
}

Status remove_directory(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  if (::rmdir(path.c_str()) != 0) return Status::os(errno);
  return Status();
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
  if (::close(fd) != 0) return Status::os(errno);
  return Status();
}

Result<FileHandle> open_for_reading(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::os(errno);
  return FileHandle(fd);
}

Result<FileHandle> create_for_writing(const std::string& path) {
  if (has_nul(path)) return nul_in_path();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Status::os(errno);
  return FileHandle(fd);
}

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return Status::os(errno);
    }
    if (written == 0) return Status::os_text("failed to write whole buffer");
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return Status();
}

}  // namespace zarvel
