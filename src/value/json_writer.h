// The JSON writer: the compact text of a document value (no whitespace, keys in ascending byte
// order, floats in their shortest round-trip form), gathered in a fixed buffer in front of a sink.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all n bytes or fails (returns false; the sink keeps the errno of the failure if any).
  virtual bool write(const char* data, std::size_t n) = 0;
};

// Appends to a string, which must outlive the sink. Never fails.
class StringSink final : public ByteSink {
 public:
  explicit StringSink(std::string& out) noexcept : out_(out) {}
  bool write(const char* data, std::size_t n) override {
    out_.append(data, n);
    return true;
  }

 private:
  std::string& out_;
};

inline constexpr std::size_t kWriteBufferSize = 8192;

// Gathers small writes into a buffer (kWriteBufferSize bytes unless told otherwise) in front of a
// sink. A piece handed to put
// reaches the sink whole: it is never split between two sink writes. The sink must outlive the
// writer. Once the sink has failed, every later call fails without writing. Destruction does not
// flush: bytes not yet flushed are dropped.
class BufferedWriter {
 public:
  explicit BufferedWriter(ByteSink& sink, std::size_t capacity = kWriteBufferSize)
      : sink_(sink), capacity_(capacity), buffer_(new char[capacity]) {}
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;

  // Each returns false when the sink failed, now or earlier.
  bool put(std::string_view bytes) {
    if (bytes.size() <= capacity_ - used_) {
      bytes.copy(buffer_.get() + used_, bytes.size());
      used_ += bytes.size();
      return !failed_;
    }
    return put_slow(bytes);
  }
  bool put(char c) {
    if (used_ == capacity_ && !drain()) return false;
    buffer_[used_++] = c;
    return !failed_;
  }
  // Hands every buffered byte to the sink.
  bool flush() { return drain(); }

  // Room for `n` bytes in the buffer as it is, or null (no room, or the sink failed). Bytes
  // placed there count once `advance(n)` is called.
  char* room(std::size_t n) noexcept {
    return !failed_ && n <= capacity_ - used_ ? buffer_.get() + used_ : nullptr;
  }
  void advance(std::size_t n) noexcept { used_ += n; }

 private:
  bool put_slow(std::string_view bytes);
  bool drain();

  ByteSink& sink_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  bool failed_ = false;
  std::unique_ptr<char[]> buffer_;
};

// Writes the compact JSON text of `value`; false as soon as the sink fails. The text may still be
// partly buffered: the caller flushes. `enclosing_levels` arrays and objects are already open
// around the value (a collection file's array); a value that would take the text beyond
// kMaxNestingDepth open levels fails like the sink, after writing a part of it.
bool write_json(const Value& value, BufferedWriter& out, int enclosing_levels = 0);
// The same for a packed value: the same text, byte for byte, as for the Value it holds.
bool write_json(PackedValue value, BufferedWriter& out, int enclosing_levels = 0);

// The same text as a string (tests, small texts); cut short for a value beyond the limit.
std::string to_json(const Value& value);
std::string to_json(PackedValue value);

// Appends `s` as a JSON string literal (quotes and escapes by the writer's rules).
void append_json_string(std::string& out, std::string_view s);

}  // namespace zarvel
