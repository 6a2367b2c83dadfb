#include "value/json_writer.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "value/float_format.h"
#include "value/limits.h"
#include "value/small_copy.h"

namespace zarvel {

bool BufferedWriter::drain() {
  if (failed_) return false;
  if (used_ > 0 && !sink_.write(buffer_.get(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool BufferedWriter::put_slow(std::string_view bytes) {
  if (!drain()) return false;
  if (bytes.size() >= capacity_) {
    if (!sink_.write(bytes.data(), bytes.size())) failed_ = true;
    return !failed_;
  }
  bytes.copy(buffer_.get(), bytes.size());
  used_ = bytes.size();
  return true;
}

namespace {

// For each byte, the letter of its two-character escape, 'u' for the \u00xx form, 0 when the
// byte is copied unchanged.
constexpr std::array<char, 256> make_escapes() {
  std::array<char, 256> escapes{};
  for (int c = 0; c < 0x20; ++c) escapes[c] = 'u';
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  escapes['\b'] = 'b';
  escapes['\t'] = 't';
  escapes['\n'] = 'n';
  escapes['\f'] = 'f';
  escapes['\r'] = 'r';
  return escapes;
}

constexpr std::array<char, 256> kEscapes = make_escapes();

// The escape of byte c into out (room for 6 bytes); returns its length.
std::size_t escape_byte(unsigned char c, char* out) {
  out[0] = '\\';
  char letter = kEscapes[c];
  if (letter != 'u') {
    out[1] = letter;
    return 2;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out[1] = 'u';
  out[2] = '0';
  out[3] = '0';
  out[4] = kHex[c >> 4];
  out[5] = kHex[c & 0xF];
  return 6;
}

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;

// Nonzero when some byte of `word` needs an escape: below 0x20, '"' or '\\'.
inline std::uint64_t escapes_in(std::uint64_t word) noexcept {
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  // Nonzero when some byte of x is below n (n at most 0x80).
  auto has_below = [](std::uint64_t x, std::uint64_t n) { return (x - kOnes * n) & ~x & kHighs; };
  return has_below(word, 0x20) | has_below(word ^ (kOnes * '"'), 1) |
         has_below(word ^ (kOnes * '\\'), 1);
}

template <class Word>
Word load(const char* p) noexcept {
  Word word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Whether some byte of `s` needs an escape, eight bytes at a time. Most keys and strings are
// short, so no byte is tested alone: a tail, or a string under eight bytes, is read as words that
// may overlap (a byte read twice changes no answer), spaces filling what is left.
bool has_escapes(std::string_view s) noexcept {
  const char* p = s.data();
  std::size_t n = s.size();
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
      if (escapes_in(load<std::uint64_t>(p + i))) return true;
    }
    return n % 8 != 0 && escapes_in(load<std::uint64_t>(p + n - 8));
  }
  constexpr std::uint64_t kSpaces = kOnes * ' ';
  std::uint64_t word;
  if (n >= 4) {
    word = load<std::uint32_t>(p) | std::uint64_t{load<std::uint32_t>(p + n - 4)} << 32;
  } else if (n >= 2) {
    word = (kSpaces << 32) | std::uint64_t{load<std::uint16_t>(p)} |
           std::uint64_t{load<std::uint16_t>(p + n - 2)} << 16;
  } else if (n == 1) {
    word = (kSpaces << 8) | static_cast<unsigned char>(*p);
  } else {
    return false;
  }
  return escapes_in(word) != 0;
}

// Calls emit(piece) for the pieces of the string literal of s: the quotes, each run of bytes
// copied unchanged, each escape. Stops at the first emit that returns false.
template <typename Emit>
bool emit_string(std::string_view s, Emit&& emit) {
  if (!emit(std::string_view("\"", 1))) return false;
  const char* p = s.data();
  const char* end = p + s.size();
  const char* run = p;
  for (; p < end; ++p) {
    if (kEscapes[static_cast<unsigned char>(*p)] == 0) continue;
    if (p > run && !emit(std::string_view(run, static_cast<std::size_t>(p - run)))) return false;
    char escape[6];
    if (!emit(std::string_view(escape, escape_byte(static_cast<unsigned char>(*p), escape)))) {
      return false;
    }
    run = p + 1;
  }
  if (p > run && !emit(std::string_view(run, static_cast<std::size_t>(p - run)))) return false;
  return emit(std::string_view("\"", 1));
}

// The rare string with bytes to escape, kept out of write_string so that its callers stay light.
[[gnu::noinline]] bool write_escaped_string(std::string_view s, BufferedWriter& out) {
  return emit_string(s, [&out](std::string_view piece) { return out.put(piece); });
}

bool write_string(std::string_view s, BufferedWriter& out) {
  // Nearly every key and string needs no escape and fits the buffer: copied in one piece.
  if (char* room = out.room(s.size() + 2); room != nullptr && !has_escapes(s)) {
    room[0] = '"';
    copy_bytes(room + 1, s.data(), s.size());
    room[s.size() + 1] = '"';
    out.advance(s.size() + 2);
    return true;
  }
  return write_escaped_string(s, out);
}

bool write_number(Number n, BufferedWriter& out) {
  char text[kMaxFloatText];
  char* end;
  switch (n.form()) {
    case Number::Form::kUnsigned:
      end = std::to_chars(text, text + sizeof text, n.as_unsigned()).ptr;
      break;
    case Number::Form::kNegative:
      end = std::to_chars(text, text + sizeof text, n.as_negative()).ptr;
      break;
    default:
      end = text + format_float(n.as_float(), text);
      break;
  }
  return out.put(std::string_view(text, static_cast<std::size_t>(end - text)));
}

// Null, a boolean, a number or a string; false for anything else.
template <class Document>
inline bool write_scalar(const Document& value, BufferedWriter& out) {
  switch (value.kind()) {
    case Kind::kNull:
      return out.put(std::string_view("null"));
    case Kind::kBool:
      return out.put(value.as_bool() ? std::string_view("true") : std::string_view("false"));
    case Kind::kNumber:
      return write_number(value.as_number(), out);
    case Kind::kString:
      return write_string(value.as_string(), out);
    default:
      return false;
  }
}

// Writes a value and what it holds, of either form (`const Value&` or `PackedValue`, which read
// alike). It counts the arrays and objects that may still open: running out fails the write as a
// failing sink would, since nothing deeper can be read back, and it keeps the recursion bounded.
// Scalars are written in place, so only arrays and objects cost a call.
template <class Document>
class ValueWriter {
 public:
  ValueWriter(BufferedWriter& out, int levels_left) noexcept
      : out_(out), levels_left_(levels_left) {}

  bool write(const Document& value) {
    if (value.is_array()) return write_array(value.as_array());
    if (value.is_object()) return write_object(value.as_object());
    return write_scalar(value, out_);
  }

 private:
  bool write_item(const Document& value) {
    return value.kind() < Kind::kArray ? write_scalar(value, out_) : write(value);
  }

  template <class ArrayView>
  bool write_array(const ArrayView& array) {
    if (levels_left_-- == 0 || !out_.put('[')) return false;
    bool first = true;
    for (auto&& element : array) {
      if (!first && !out_.put(',')) return false;
      first = false;
      if (!write_item(element)) return false;
    }
    ++levels_left_;
    return out_.put(']');
  }

  template <class ObjectView>
  bool write_object(const ObjectView& object) {
    if (levels_left_-- == 0 || !out_.put('{')) return false;
    bool first = true;
    for (auto&& member : object) {
      if (!first && !out_.put(',')) return false;
      first = false;
      if (!write_string(std::string_view(member.key), out_) || !out_.put(':') ||
          !write_item(member.value)) {
        return false;
      }
    }
    ++levels_left_;
    return out_.put('}');
  }

  BufferedWriter& out_;
  int levels_left_;
};

template <class Document>
std::string document_text(const Document& value) {
  std::string text;
  StringSink sink(text);
  BufferedWriter out(sink);
  // A string sink cannot fail.
  (void)ValueWriter<Document>(out, kMaxNestingDepth).write(value);
  (void)out.flush();
  return text;
}

}  // namespace

bool write_json(const Value& value, BufferedWriter& out, int enclosing_levels) {
  return ValueWriter<Value>(out, kMaxNestingDepth - enclosing_levels).write(value);
}

bool write_json(PackedValue value, BufferedWriter& out, int enclosing_levels) {
  return ValueWriter<PackedValue>(out, kMaxNestingDepth - enclosing_levels).write(value);
}

std::string to_json(const Value& value) { return document_text(value); }

std::string to_json(PackedValue value) { return document_text(value); }

void append_json_string(std::string& out, std::string_view s) {
  emit_string(s, [&out](std::string_view piece) {
    out.append(piece);
    return true;
  });
}

}  // namespace zarvel
