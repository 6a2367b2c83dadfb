#include "lib/collection_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/compat_texts.h"
#include "lib/file_system.h"
#include "lib/temporary_file.h"
#include "value/json_reader.h"
#include "value/json_writer.h"

namespace zarvel {

namespace {

// Each read or write is a system call, and a costly one in a virtual machine: files are read and
// written in blocks of 64 KiB, a few hundred calls for 20 MB, and still below the size from which
// glibc gives each allocation a mapping of its own.
constexpr std::size_t kFileBlockSize = std::size_t{64} * 1024;

// A sink that writes to a file descriptor and remembers the error number of its first failure.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  bool write(const char* data, std::size_t n) override {
    Status written = write_all(fd_, std::string_view(data, n));
    if (written.ok()) return true;
    if (error_.ok()) error_ = std::move(written);
    return false;
  }
  // The first failure; success while none happened.
  const Status& error() const { return error_; }

 private:
  int fd_;
  Status error_;
};

// The detailed form of the error carried by a failed file-system Status.
std::string detailed_form(const Status& status) {
  if (status.os_errno() == 0) return status.message();
  return os_debug_form(status.os_errno());
}

}  // namespace

namespace {

Status opening_failed(const Status& error, const std::string& path) {
  return Status::file_operation("Error opening document " + error.message())
      .with_note(loading_note(path));
}

// "line L, column C" (1-based, the column in bytes) of the byte at `offset` in the open file,
// which is read again from its start; empty when it cannot be.
std::string text_position(int fd, std::uint64_t offset) {
  std::uint64_t line = 1, line_start = 0, position = 0;
  std::string block(kFileBlockSize, '\0');
  while (position < offset) {
    std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), offset - position));
    ssize_t got = ::pread(fd, block.data(), wanted, static_cast<off_t>(position));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return {};
    for (ssize_t i = 0; i < got; ++i) {
      if (block[static_cast<std::size_t>(i)] == '\n') {
        ++line;
        line_start = position + static_cast<std::uint64_t>(i) + 1;
      }
    }
    position += static_cast<std::uint64_t>(got);
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(offset - line_start + 1);
}

Result<Value> read_open_file(const FileHandle& file, const std::string& path) {
  FdSource source(file.fd());
  std::uint64_t failure_offset = 0;
  std::optional<Value> value = parse_json(source, kFileBlockSize, &failure_offset);
  if (value) return std::move(*value);
  // Where the text went wrong, unless reading itself failed (a directory, a device).
  std::string position = source.error() == 0 ? text_position(file.fd(), failure_offset) : "";
  std::string note = loading_note(path);
  if (!position.empty()) note += ": " + position;
  return Status::bad_content("Error deserializing JSON").with_note(std::move(note));
}

Result<Value> read_file(const std::string& path, int open_flags) {
  Result<FileHandle> file = open_for_reading(path, open_flags);
  if (!file.ok()) return opening_failed(file.status(), path);
  return read_open_file(file.value(), path);
}

}  // namespace

std::string loading_note(const std::string& path) { return "while loading " + path; }

Result<Value> read_document(const std::string& path) { return read_file(path, 0); }

Result<Value> read_collection_file(const std::string& path) { return read_file(path, O_NONBLOCK); }

Result<std::optional<Value>> read_collection_file_if_regular(const std::string& path) {
  // Nothing but a regular file is opened: opening a device can have effects of its own.
  if (!is_regular_file(path)) return std::optional<Value>();
  Result<FileHandle> file = open_for_reading(path, O_NONBLOCK);
  if (!file.ok()) {
    if (file.status().os_errno() == ENOENT) return std::optional<Value>();  // removed meanwhile
    return opening_failed(file.status(), path);
  }
  if (!is_regular_file(file.value())) return std::optional<Value>();
  Result<Value> value = read_open_file(file.value(), path);
  if (!value.ok()) return std::move(value).status();
  return std::optional<Value>(std::move(value).value());
}

Status write_collection_file(const std::string& path, std::span<const Value> documents) {
  Result<TemporaryFile> temporary = TemporaryFile::create(path);
  if (!temporary.ok()) {
    return Status::file_operation("Problem creating temporary file: " +
                                  detailed_form(temporary.status()));
  }
  FileSink sink(temporary.value().fd());
  BufferedWriter out(sink, kFileBlockSize);
  bool written = out.put('[');
  for (std::size_t i = 0; written && i < documents.size(); ++i) {
    written = (i == 0 || out.put(',')) && write_json(documents[i], out, /*enclosing_levels=*/1);
  }
  written = written && out.put(']');
  if (!written) return Status::bad_content("Error serializing JSON");
  if (!out.flush()) {
    return Status::internal(std::string(kUnwrapErrPrefix) + detailed_form(sink.error()));
  }
  if (Status synced = temporary.value().sync(); !synced.ok()) {
    return Status::internal(std::string(kUnwrapErrPrefix) + detailed_form(synced));
  }
  if (Status renamed = temporary.value().replace_target(); !renamed.ok()) {
    return Status::file_operation("Error renaming file: " + detailed_form(renamed));
  }
  return Status();
}

Status create_collection_file(const std::string& path, std::string_view content) {
  Result<TemporaryFile> temporary = TemporaryFile::create(path);
  if (!temporary.ok()) return std::move(temporary).status();
  if (Status written = write_all(temporary.value().fd(), content); !written.ok()) return written;
  if (Status synced = temporary.value().sync(); !synced.ok()) return synced;
  return temporary.value().install_as_new_target();
}

}  // namespace zarvel
