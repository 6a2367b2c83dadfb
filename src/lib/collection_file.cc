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
// Blocks read or written between two questions to an Interrupt: a megabyte, a few milliseconds.
constexpr std::uint32_t kBlocksPerInterruptCheck = 16;

// A sink that writes to a file descriptor and remembers the error number of its first failure,
// or kInterrupted when a stop was asked for: the writer then fails as on a failed write.
class FileSink final : public ByteSink {
 public:
  FileSink(int fd, Interrupt& interrupt) : fd_(fd), poll_(interrupt, kBlocksPerInterruptCheck) {}
  bool write(const char* data, std::size_t n) override {
    if (poll_.stop()) {
      if (error_.ok()) error_ = Status::interrupted();
      return false;
    }
    Status written = write_all(fd_, std::string_view(data, n));
    if (written.ok()) return true;
    if (error_.ok()) error_ = std::move(written);
    return false;
  }
  // The first failure; success while none happened.
  const Status& error() const { return error_; }

 private:
  int fd_;
  InterruptPoll poll_;
  Status error_;
};

// Reads a file for the JSON reader. A stop asked of `interrupt` ends the text as a failed read
// would.
class InterruptibleFileSource final : public ByteSource {
 public:
  InterruptibleFileSource(int fd, Interrupt& interrupt)
      : file_(fd), poll_(interrupt, kBlocksPerInterruptCheck) {}
  std::ptrdiff_t read(char* buf, std::size_t n) override {
    if (poll_.stop()) {
      interrupted_ = true;
      return -1;
    }
    return file_.read(buf, n);
  }
  // The errno of the last failed read, 0 while none failed.
  int error() const noexcept { return file_.error(); }
  bool interrupted() const noexcept { return interrupted_; }

 private:
  FdSource file_;
  InterruptPoll poll_;
  bool interrupted_ = false;
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

// The two forms a file reads to: parse(source, failure_offset) reads the text as that form, or
// nullopt.
struct AsValue {
  using Type = Value;
  static std::optional<Value> parse(ByteSource& source, std::uint64_t* failure_offset) {
    return parse_json(source, kFileBlockSize, failure_offset);
  }
};
struct AsPacked {
  using Type = PackedBuffer;
  static std::optional<PackedBuffer> parse(ByteSource& source, std::uint64_t* failure_offset) {
    PackedBuffer packed;
    if (!parse_json_packed(source, packed, kFileBlockSize, failure_offset)) return std::nullopt;
    return packed;
  }
};

template <class Form>
Result<typename Form::Type> read_open_file(const FileHandle& file, const std::string& path,
                                           Interrupt& interrupt) {
  InterruptibleFileSource source(file.fd(), interrupt);
  std::uint64_t failure_offset = 0;
  std::optional<typename Form::Type> value = Form::parse(source, &failure_offset);
  if (value) return std::move(*value);
  if (source.interrupted()) return Status::interrupted();
  // Where the text went wrong, unless reading itself failed (a directory, a device).
  std::string position = source.error() == 0 ? text_position(file.fd(), failure_offset) : "";
  std::string note = loading_note(path);
  if (!position.empty()) note += ": " + position;
  return Status::bad_content("Error deserializing JSON").with_note(std::move(note));
}

template <class Form>
Result<typename Form::Type> read_file(const std::string& path, int open_flags,
                                      Interrupt& interrupt) {
  Result<FileHandle> file = open_for_reading(path, open_flags);
  if (!file.ok()) return opening_failed(file.status(), path);
  return read_open_file<Form>(file.value(), path, interrupt);
}

template <class Form>
Result<std::optional<typename Form::Type>> read_file_if_regular(const std::string& path,
                                                                Interrupt& interrupt) {
  using Content = std::optional<typename Form::Type>;
  // Nothing but a regular file is opened: opening a device can have effects of its own.
  if (!is_regular_file(path)) return Content();
  Result<FileHandle> file = open_for_reading(path, O_NONBLOCK);
  if (!file.ok()) {
    if (file.status().os_errno() == ENOENT) return Content();  // removed meanwhile
    return opening_failed(file.status(), path);
  }
  if (!is_regular_file(file.value())) return Content();
  Result<typename Form::Type> value = read_open_file<Form>(file.value(), path, interrupt);
  if (!value.ok()) return std::move(value).status();
  return Content(std::move(value).value());
}

}  // namespace

std::string loading_note(const std::string& path) { return "while loading " + path; }

Result<Value> read_document(const std::string& path, Interrupt& interrupt) {
  return read_file<AsValue>(path, 0, interrupt);
}

Result<Value> read_collection_file(const std::string& path, Interrupt& interrupt) {
  return read_file<AsValue>(path, O_NONBLOCK, interrupt);
}

Result<std::optional<Value>> read_collection_file_if_regular(const std::string& path,
                                                             Interrupt& interrupt) {
  return read_file_if_regular<AsValue>(path, interrupt);
}

Result<PackedBuffer> read_packed_document(const std::string& path, Interrupt& interrupt) {
  return read_file<AsPacked>(path, 0, interrupt);
}

Result<PackedBuffer> read_packed_collection_file(const std::string& path, Interrupt& interrupt) {
  return read_file<AsPacked>(path, O_NONBLOCK, interrupt);
}

Result<std::optional<PackedBuffer>> read_packed_collection_file_if_regular(const std::string& path,
                                                                           Interrupt& interrupt) {
  return read_file_if_regular<AsPacked>(path, interrupt);
}

Status install_collection_file(TemporaryFile& staged) {
  if (Status renamed = staged.replace_target(); !renamed.ok()) {
    return Status::file_operation("Error renaming file: " + detailed_form(renamed));
  }
  return Status();
}

namespace {

// Either form of document; write_json gives both the same text.
template <class Document>
Result<TemporaryFile> stage_documents(const std::string& path, std::span<const Document> documents,
                                      Interrupt& interrupt) {
  Result<TemporaryFile> temporary = TemporaryFile::create(path);
  if (!temporary.ok()) {
    return Status::file_operation("Problem creating temporary file: " +
                                  detailed_form(temporary.status()));
  }
  FileSink sink(temporary.value().fd(), interrupt);
  BufferedWriter out(sink, kFileBlockSize);
  bool written = out.put('[');
  for (std::size_t i = 0; written && i < documents.size(); ++i) {
    written = (i == 0 || out.put(',')) && write_json(documents[i], out, /*enclosing_levels=*/1);
  }
  written = written && out.put(']');
  bool flushed = written && out.flush();
  if (sink.error().kind() == ErrorKind::kInterrupted) return sink.error();
  if (!written) return Status::bad_content("Error serializing JSON");
  if (!flushed) {
    return Status::internal(std::string(kUnwrapErrPrefix) + detailed_form(sink.error()));
  }
  if (Status synced = temporary.value().sync(); !synced.ok()) {
    return Status::internal(std::string(kUnwrapErrPrefix) + detailed_form(synced));
  }
  return temporary;
}

template <class Document>
Status write_documents(const std::string& path, std::span<const Document> documents,
                       Interrupt& interrupt) {
  Result<TemporaryFile> staged = stage_documents(path, documents, interrupt);
  if (!staged.ok()) return std::move(staged).status();
  return install_collection_file(staged.value());
}

}  // namespace

Result<TemporaryFile> stage_collection_file(const std::string& path,
                                            std::span<const Value> documents,
                                            Interrupt& interrupt) {
  return stage_documents(path, documents, interrupt);
}

Result<TemporaryFile> stage_collection_file(const std::string& path,
                                            std::span<const PackedValue> documents,
                                            Interrupt& interrupt) {
  return stage_documents(path, documents, interrupt);
}

Status write_collection_file(const std::string& path, std::span<const Value> documents,
                             Interrupt& interrupt) {
  return write_documents(path, documents, interrupt);
}

Status write_collection_file(const std::string& path, std::span<const PackedValue> documents,
                             Interrupt& interrupt) {
  return write_documents(path, documents, interrupt);
}

Status create_collection_file(const std::string& path, std::string_view content) {
  Result<TemporaryFile> temporary = TemporaryFile::create(path);
  if (!temporary.ok()) return std::move(temporary).status();
  if (Status written = write_all(temporary.value().fd(), content); !written.ok()) return written;
  if (Status synced = temporary.value().sync(); !synced.ok()) return synced;
  return temporary.value().install_as_new_target();
}

}  // namespace zarvel
