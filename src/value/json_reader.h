// The JSON reader: strict JSON text to a document value, streamed from a byte source through a
// fixed buffer. It accepts exactly one value, rejects anything else with a single failure that
// tells only where, and builds the value directly, as a Value or in the packed form (no
// intermediate tree).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "value/value.h"

namespace zarvel {

class PackedBuffer;

// A byte stream read in blocks.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes into buf: the count read, 0 at the end, -1 on a read error.
  virtual std::ptrdiff_t read(char* buf, std::size_t n) = 0;
};

// Reads a file descriptor with read(2), retrying calls interrupted by a signal. The descriptor is
// borrowed: it must stay open while the source is in use and is never closed by it.
class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) noexcept : fd_(fd) {}
  std::ptrdiff_t read(char* buf, std::size_t n) override;
  // The errno of the last failed read, 0 while none failed.
  int error() const noexcept { return errno_; }

 private:
  int fd_;
  int errno_ = 0;
};

// Reads from memory. The viewed bytes must outlive the source.
class StringSource final : public ByteSource {
 public:
  explicit StringSource(std::string_view text) noexcept : rest_(text) {}
  std::ptrdiff_t read(char* buf, std::size_t n) override;

 private:
  std::string_view rest_;
};

inline constexpr std::size_t kReadBufferSize = 8192;

// Reads exactly one JSON text; nullopt on any failure (syntax, range, nesting, trailing bytes,
// read error). The source is read in blocks of `block_size` bytes, one read call per block, until
// it reports its end. On a failure, `failure_offset` (when given) receives the byte offset of the
// first byte the reader rejected (the first of a number out of range, of a nesting level too
// many, of a bad UTF-8 sequence), or the length of the text when it ended too early.
std::optional<Value> parse_json(ByteSource& source, std::size_t block_size = kReadBufferSize,
                                std::uint64_t* failure_offset = nullptr);
std::optional<Value> parse_json(std::string_view text);

// Reads exactly one JSON text as parse_json does, accepting and rejecting the same texts at the
// same offsets, and appends its packed form to `out` (for equal keys the last one given wins).
// False on a failure, with `out` as it was; throws std::bad_alloc, with `out` as it was too.
bool parse_json_packed(ByteSource& source, PackedBuffer& out,
                       std::size_t block_size = kReadBufferSize,
                       std::uint64_t* failure_offset = nullptr);
bool parse_json_packed(std::string_view text, PackedBuffer& out);

}  // namespace zarvel
