#include "value/json_reader.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "value/float_format.h"
#include "value/limits.h"
#include "value/packed_builder.h"

namespace zarvel {

std::ptrdiff_t FdSource::read(char* buf, std::size_t n) {
  for (;;) {
    ssize_t got = ::read(fd_, buf, n);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    errno_ = errno;
    return -1;
  }
}

std::ptrdiff_t StringSource::read(char* buf, std::size_t n) {
  std::size_t count = n < rest_.size() ? n : rest_.size();
  std::memcpy(buf, rest_.data(), count);
  rest_.remove_prefix(count);
  return static_cast<std::ptrdiff_t>(count);
}

namespace {

// Open levels are counted down from here; reaching zero is the nesting error.
constexpr int kNestingBudget = kMaxNestingDepth + 1;

enum ByteClass : std::uint8_t {
  kWhitespace = 1,
  // A string byte that needs no attention: printable ASCII other than '"' and '\\'.
  kPlainStringByte = 2,
  kDigit = 4,
  // Any byte that can occur in a number token.
  kNumberByte = 8,
};

constexpr std::array<std::uint8_t, 256> make_byte_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (unsigned char c : {' ', '\t', '\n', '\r'}) classes[c] |= kWhitespace;
  for (int c = 0x20; c < 0x80; ++c) {
    if (c != '"' && c != '\\') classes[c] |= kPlainStringByte;
  }
  for (int c = '0'; c <= '9'; ++c) classes[c] |= kDigit | kNumberByte;
  for (unsigned char c : {'-', '+', '.', 'e', 'E'}) classes[c] |= kNumberByte;
  return classes;
}

constexpr std::array<std::uint8_t, 256> kByteClasses = make_byte_classes();

inline bool has_class(char c, ByteClass k) {
  return (kByteClasses[static_cast<unsigned char>(c)] & k) != 0;
}

inline int hex_digit_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Skips bytes of the kPlainStringByte class from p, eight at a time while they last, up to the
// sentinel at end.
inline const char* skip_plain_string_bytes(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  while (end - p >= 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    // Nonzero when some byte is below 0x20, a '"', a '\\' or 0x80 and above (the classic
    // "has less than" and "has zero byte" tests, exact as a whole though not per lane).
    std::uint64_t quote = x ^ (kOnes * '"');
    std::uint64_t backslash = x ^ (kOnes * '\\');
    std::uint64_t marked = (((x - kOnes * 0x20) & ~x) | ((quote - kOnes) & ~quote) |
                            ((backslash - kOnes) & ~backslash) | x) &
                           kHighs;
    if (marked != 0) {
      // A lane is wrongly marked only above a rightly marked one, so the lowest mark is exact;
      // lanes are in memory order on a little-endian machine.
      if constexpr (std::endian::native == std::endian::little)
        return p + std::countr_zero(marked) / 8;
      break;
    }
    p += 8;
  }
  while (has_class(*p, kPlainStringByte)) ++p;
  return p;
}

// What the grammar pass learns about a number token.
struct NumberToken {
  bool ok = false;  // the bytes scanned form a complete number
  bool negative = false;
  bool has_fraction = false;
  bool has_exponent = false;
  bool exponent_negative = false;
  bool exponent_overflow = false;  // the exponent digits passed 2147483647
  bool integer_overflow = false;   // the integer digits passed 18446744073709551615
  bool nonzero = false;            // some digit is not 0
  bool leading_zero = false;       // the integer part is the single digit 0
  std::uint64_t integer = 0;       // the integer digits, valid unless integer_overflow
  std::int64_t integer_digits = 0;
  // The integer and fraction digits as one integer, and how many of them follow the point; valid
  // when there are at most 19 digits, which cannot overflow.
  std::uint64_t mantissa = 0;
  std::int64_t fraction_digits = 0;
  std::int64_t fraction_leading_zeros = 0;
  std::int32_t exponent = 0;  // magnitude, valid unless exponent_overflow
};

// Scans the number grammar -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)? from p, which must be
// followed somewhere by a byte that is not part of a number (a NUL terminator serves). Returns
// the first byte not consumed; token.ok tells whether the consumed bytes form a number.
const char* scan_number(const char* p, NumberToken& token) {
  if (*p == '-') {
    token.negative = true;
    ++p;
  }
  if (*p == '0') {
    token.leading_zero = true;
    token.integer_digits = 1;
    ++p;
  } else if (*p >= '1' && *p <= '9') {
    // Up to 19 digits cannot overflow 64 bits; only later digits need the check.
    const char* digits = p;
    std::uint64_t u = 0;
    while (has_class(*p, kDigit) && p - digits < 19) u = u * 10 + static_cast<unsigned>(*p++ - '0');
    while (has_class(*p, kDigit)) {
      unsigned d = static_cast<unsigned>(*p - '0');
      if (!token.integer_overflow && u <= (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
        u = u * 10 + d;
      } else {
        token.integer_overflow = true;
      }
      ++p;
    }
    token.integer = u;
    token.integer_digits = p - digits;
    token.nonzero = true;
  } else {
    return p;
  }
  if (*p == '.') {
    token.has_fraction = true;
    ++p;
    const char* digits = p;
    std::uint64_t m = token.integer;
    while (*p == '0') {
      m *= 10;
      ++p;
    }
    token.fraction_leading_zeros = p - digits;
    if (has_class(*p, kDigit)) {
      token.nonzero = true;
      while (has_class(*p, kDigit)) m = m * 10 + static_cast<unsigned>(*p++ - '0');
    }
    if (p == digits) return p;
    token.fraction_digits = p - digits;
    token.mantissa = m;  // meaningful only within 19 digits, as convert_short_decimal asks
  }
  if (*p == 'e' || *p == 'E') {
    token.has_exponent = true;
    ++p;
    if (*p == '+' || *p == '-') token.exponent_negative = *p++ == '-';
    const char* digits = p;
    std::int32_t e = 0;
    while (has_class(*p, kDigit)) {
      int d = *p - '0';
      if (e > (std::numeric_limits<std::int32_t>::max() - d) / 10) token.exponent_overflow = true;
      if (!token.exponent_overflow) e = e * 10 + d;
      ++p;
    }
    if (p == digits) return p;
    token.exponent = e;
  }
  token.ok = true;
  return p;
}

// Plain decimals, most stored floats, as the quotient of their digits and a power of ten: both
// are exact doubles when the digits stay within 2^53, and one division then rounds correctly, as
// the general conversion would. False when the token is not such a number.
bool convert_short_decimal(const NumberToken& token, double& d) {
  if (!token.has_fraction || token.has_exponent || token.integer_overflow ||
      token.integer_digits + token.fraction_digits > 19 || token.fraction_digits > 22 ||
      token.mantissa > (std::uint64_t{1} << 53)) {
    return false;
  }
  d = static_cast<double>(token.mantissa) / kExactPowersOfTen[token.fraction_digits];
  if (token.negative) d = -d;
  return true;
}

// Turns a scanned token into its number; false when it is out of range. `text` is the whole token.
bool convert_number(const NumberToken& token, std::string_view text, Number& out) {
  if (!token.has_fraction && !token.has_exponent && !token.integer_overflow) {
    constexpr std::uint64_t kNegativeLimit = std::uint64_t{1} << 63;
    std::uint64_t s = token.integer;
    if (!token.negative) {
      out = Number::from_unsigned(s);
    } else if (s == 0) {
      out = Number::from_float(-0.0);
    } else if (s <= kNegativeLimit) {
      out = Number::from_negative(static_cast<std::int64_t>(0 - s));
    } else {
      out = Number::from_float(-static_cast<double>(s));
    }
    return true;
  }
  double zero = token.negative ? -0.0 : 0.0;
  if (token.exponent_overflow) {
    // Decided without looking at the digits: too large unless the number is zero or the
    // exponent drives it towards zero.
    if (token.nonzero && !token.exponent_negative) return false;
    out = Number::from_float(zero);
    return true;
  }
  double d = 0;
  if (convert_short_decimal(token, d)) {
    out = Number::from_float(d);
    return true;
  }
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec == std::errc::result_out_of_range) {
    // Out of range either way: the decimal position of the leading digit tells which.
    std::int64_t magnitude =
        token.leading_zero ? -token.fraction_leading_zeros : token.integer_digits;
    magnitude += token.exponent_negative ? -std::int64_t{token.exponent} : token.exponent;
    if (magnitude > 0) return false;
    d = zero;
  } else if (ec != std::errc() || end != text.data() + text.size()) {
    return false;
  }
  out = Number::from_float(d);
  return true;
}

// Builds a Value from the reader's events. Elements and members are gathered on stacks shared
// by all levels (a level's items sit above those of the levels enclosing it) and moved into a
// container of the exact size when the level closes, so an array or object costs one allocation
// for its items whatever its length. Each value lands in `last_` first and is moved to its place
// when the reader says what it was: an element, a member's value or the document.
class ValueSink {
 public:
  // Where the items of an open level begin on their stack.
  using Mark = std::size_t;

  void add_null() { last_ = Value(); }
  void add_bool(bool b) { last_ = Value(b); }
  void add_number(Number number) { last_ = Value(number); }
  void add_string(std::string_view s) { last_ = Value(s); }

  Mark begin_array() { return elements_.size(); }
  void end_element() { elements_.push_back(std::move(last_)); }
  void end_array(Mark base) {
    last_ =
        Value(Array::from_elements(elements_.data() + base, elements_.data() + elements_.size()));
    elements_.resize(base);
  }

  Mark begin_object() { return members_.size(); }
  // The member goes on the stack now, its value when it ends: the levels inside that value have
  // taken theirs off again by then, so it is the top one.
  void add_key(std::string_view key) { members_.push_back(Object::Member{Key(key), Value()}); }
  void end_member() { members_.back().value = std::move(last_); }
  void end_object(Mark base) {
    last_ = Value(Object::from_members(members_.data() + base, members_.data() + members_.size()));
    members_.resize(base);
  }

  // The document, once read.
  Value take() { return std::move(last_); }

 private:
  Value last_;
  std::vector<Value> elements_;
  std::vector<Object::Member> members_;
};

// Writes the packed form from the reader's events; PackedBuilder keeps the open levels itself.
class PackedSink {
 public:
  struct Mark {};

  explicit PackedSink(PackedBuffer& out) noexcept : builder_(out) {}

  void add_null() { builder_.add_null(); }
  void add_bool(bool b) { builder_.add_bool(b); }
  void add_number(Number number) { builder_.add_number(number); }
  void add_string(std::string_view s) { builder_.add_string(s); }

  Mark begin_array() {
    builder_.begin_array();
    return {};
  }
  void end_element() noexcept {}
  void end_array(Mark) { builder_.end_array(); }

  Mark begin_object() {
    builder_.begin_object();
    return {};
  }
  void add_key(std::string_view key) { builder_.add_key(key); }
  void end_member() noexcept {}
  void end_object(Mark) { builder_.end_object(); }

 private:
  PackedBuilder builder_;
};

// Reads one JSON text and tells `Sink` what it finds, value by value in document order (the
// interface of ValueSink and PackedSink).
template <class Sink>
class Reader {
 public:
  Reader(ByteSource& source, std::size_t block_size, Sink& sink)
      : source_(source), sink_(sink), block_size_(block_size), buffer_(new char[block_size + 1]) {
    buffer_[0] = '\0';
    pos_ = end_ = buffer_.get();
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  bool read_document() {
    if (!skip_whitespace()) return fail(pos_);  // no value at all
    if (!parse_value()) return false;
    if (skip_whitespace()) return fail(pos_);  // trailing bytes
    return !read_error_;
  }

  // The byte offset of the first byte rejected, or the length of the text when it ended too
  // early; meaningful after read_document() failed.
  std::uint64_t failure_offset() const { return failure_offset_; }

 private:
  std::uint64_t offset_of(const char* p) const {
    return consumed_ + static_cast<std::uint64_t>(p - buffer_.get());
  }

  // Failures are recorded where they arise, once (the callers above just pass false on), so the
  // path of a successful read does no extra work.
  [[gnu::cold]] bool fail_at_offset(std::uint64_t offset) {
    if (!failed_) {
      failed_ = true;
      failure_offset_ = offset;
    }
    return false;
  }
  [[gnu::cold]] bool fail(const char* at) { return fail_at_offset(offset_of(at)); }
  // Rejects what next_byte() returned: the byte just consumed, or the end of the text.
  [[gnu::cold]] bool fail_consumed(int byte) { return fail(byte < 0 ? pos_ : pos_ - 1); }

  // Reads the next block. The buffer always ends with a NUL sentinel at end_, so scanning loops
  // stop there without a bounds check and then ask whether they hit the real end of the block.
  bool refill() {
    consumed_ += static_cast<std::uint64_t>(end_ - buffer_.get());
    pos_ = end_ = buffer_.get();
    buffer_[0] = '\0';
    if (at_end_) return false;
    std::ptrdiff_t n = source_.read(buffer_.get(), block_size_);
    if (n <= 0 || static_cast<std::size_t>(n) > block_size_) {
      at_end_ = true;
      read_error_ = n != 0;
      return false;
    }
    buffer_[n] = '\0';
    end_ = buffer_.get() + n;
    return true;
  }

  // Makes a byte available at pos_; false at the end of input.
  bool available() { return pos_ < end_ || refill(); }

  // The next byte, or -1 at the end of input.
  int next_byte() {
    if (!available()) return -1;
    return static_cast<unsigned char>(*pos_++);
  }

  // Skips whitespace; true when a byte that is not whitespace is then at pos_.
  bool skip_whitespace() {
    for (;;) {
      const char* p = pos_;
      while (has_class(*p, kWhitespace)) ++p;
      pos_ = p;
      if (p < end_) return true;
      if (!refill()) return false;
    }
  }

  // Requires a byte at pos_.
  bool parse_value() {
    switch (*pos_) {
      case '{':
        return parse_object();
      case '[':
        return parse_array();
      case '"': {
        std::string_view s;
        if (!parse_string(s)) return false;
        sink_.add_string(s);
        return true;
      }
      case 't':
        if (!match_literal("true")) return false;
        sink_.add_bool(true);
        return true;
      case 'f':
        if (!match_literal("false")) return false;
        sink_.add_bool(false);
        return true;
      case 'n':
        if (!match_literal("null")) return false;
        sink_.add_null();
        return true;
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return parse_number();
      default:
        return fail(pos_);
    }
  }

  bool match_literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - pos_) >= word.size()) {
      if (std::memcmp(pos_, word.data(), word.size()) != 0) {
        return fail(std::mismatch(word.begin(), word.end(), pos_).second);
      }
      pos_ += word.size();
      return true;
    }
    for (char c : word) {
      int byte = next_byte();
      if (byte != static_cast<unsigned char>(c)) return fail_consumed(byte);
    }
    return true;
  }

  bool parse_array() {
    ++pos_;
    if (--nesting_budget_ == 0) return fail(pos_ - 1);
    typename Sink::Mark mark = sink_.begin_array();
    if (!skip_whitespace()) return fail(pos_);
    if (*pos_ == ']') {
      ++pos_;
    } else {
      for (;;) {
        if (!parse_value()) return false;
        sink_.end_element();
        if (!skip_whitespace()) return fail(pos_);
        char c = *pos_++;
        if (c == ']') break;
        if (c != ',') return fail(pos_ - 1);
        if (!skip_whitespace()) return fail(pos_);
      }
    }
    ++nesting_budget_;
    sink_.end_array(mark);
    return true;
  }

  bool parse_object() {
    ++pos_;
    if (--nesting_budget_ == 0) return fail(pos_ - 1);
    typename Sink::Mark mark = sink_.begin_object();
    if (!skip_whitespace()) return fail(pos_);
    if (*pos_ == '}') {
      ++pos_;
    } else {
      for (;;) {
        if (*pos_ != '"') return fail(pos_);
        std::string_view key;
        if (!parse_string(key)) return false;
        sink_.add_key(key);
        if (!skip_whitespace() || *pos_ != ':') return fail(pos_);
        ++pos_;
        if (!skip_whitespace()) return fail(pos_);
        if (!parse_value()) return false;
        sink_.end_member();
        if (!skip_whitespace()) return fail(pos_);
        char c = *pos_++;
        if (c == '}') break;
        if (c != ',') return fail(pos_ - 1);
        if (!skip_whitespace()) return fail(pos_);
      }
    }
    ++nesting_budget_;
    sink_.end_object(mark);
    return true;
  }

  // Reads the string whose opening quote is at pos_. The contents stay in the read buffer when
  // they need no unescaping and lie within one block; otherwise they are gathered in scratch_.
  // The view lives until the next read from this reader.
  bool parse_string(std::string_view& out) {
    ++pos_;
    const char* run = pos_;  // start of the pending run of bytes copied unchanged
    bool gathered = false;   // earlier parts of the contents are in scratch_
    auto spill = [&](const char* run_end) {
      if (!gathered) {
        scratch_.clear();
        gathered = true;
      }
      scratch_.append(run, run_end);
    };
    for (;;) {
      const char* p = skip_plain_string_bytes(pos_, end_);
      auto c = static_cast<unsigned char>(*p);
      if (c == '"') {
        if (gathered) {
          scratch_.append(run, p);
          out = scratch_;
        } else {
          out = std::string_view(run, static_cast<std::size_t>(p - run));
        }
        pos_ = p + 1;
        return true;
      }
      if (c >= 0x80) {
        int length = utf8_sequence_length(c);
        if (length == 0) return fail(p);
        if (end_ - p >= length) {
          if (!is_valid_utf8_sequence(reinterpret_cast<const unsigned char*>(p), length)) {
            return fail(p);
          }
          pos_ = p + length;
          continue;
        }
        // The sequence straddles two blocks.
        std::uint64_t sequence_offset = offset_of(p);
        spill(p);
        pos_ = p;
        unsigned char sequence[4];
        for (int i = 0; i < length; ++i) {
          int b = next_byte();
          if (b < 0) return fail(pos_);
          sequence[i] = static_cast<unsigned char>(b);
        }
        if (!is_valid_utf8_sequence(sequence, length)) return fail_at_offset(sequence_offset);
        scratch_.append(reinterpret_cast<const char*>(sequence), static_cast<std::size_t>(length));
        run = pos_;
        continue;
      }
      if (c == '\\') {
        spill(p);
        pos_ = p + 1;
        if (!parse_escape()) return false;
        run = pos_;
        continue;
      }
      if (p == end_) {
        spill(p);
        pos_ = p;
        if (!refill()) return fail(pos_);
        run = pos_;
        continue;
      }
      return fail(p);  // a raw control byte
    }
  }

  // Reads four hexadecimal digits; -1 (the failure recorded) when they are not.
  std::int32_t read_hex4() {
    std::int32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      int byte = next_byte();
      int d = hex_digit_value(byte);
      if (d < 0) {
        fail_consumed(byte);
        return -1;
      }
      v = v * 16 + d;
    }
    return v;
  }

  // Reads an escape whose backslash has been consumed and appends what it stands for to scratch_.
  bool parse_escape() {
    int c = next_byte();
    char replacement;
    switch (c) {
      case '"':
      case '\\':
      case '/':
        replacement = static_cast<char>(c);
        break;
      case 'b':
        replacement = '\b';
        break;
      case 'f':
        replacement = '\f';
        break;
      case 'n':
        replacement = '\n';
        break;
      case 'r':
        replacement = '\r';
        break;
      case 't':
        replacement = '\t';
        break;
      case 'u': {
        std::int32_t unit = read_hex4();
        if (unit < 0) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(pos_ - 1);  // a lone low surrogate
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          for (char expected : {'\\', 'u'}) {
            int byte = next_byte();
            if (byte != expected) return fail_consumed(byte);
          }
          std::int32_t low = read_hex4();
          if (low < 0) return false;
          if (low < 0xDC00 || low > 0xDFFF) return fail(pos_ - 1);
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        encode_utf8(scratch_, static_cast<char32_t>(unit));
        return true;
      }
      default:
        return fail_consumed(c);
    }
    scratch_.push_back(replacement);
    return true;
  }

  // Requires '-' or a digit at pos_.
  bool parse_number() {
    const char* start = pos_;
    Number number = Number::from_unsigned(0);
    NumberToken token;
    const char* stop = scan_number(start, token);
    if (stop < end_) {
      // The token ended inside the block; a bad byte after it is the caller's to reject.
      if (!token.ok) return fail(stop);
      pos_ = stop;
      if (!convert_number(token, std::string_view(start, static_cast<std::size_t>(stop - start)),
                          number)) {
        return fail(start);  // out of range
      }
      sink_.add_number(number);
      return true;
    }
    // The token may go on in the next block: gather every number byte that follows, then scan
    // the gathered text, which must be one number as a whole (no number is ever followed by a
    // number byte in valid text).
    std::uint64_t number_offset = offset_of(start);
    number_text_.assign(start, end_);
    pos_ = end_;
    while (refill()) {
      const char* p = pos_;
      while (has_class(*p, kNumberByte)) ++p;
      number_text_.append(pos_, p);
      pos_ = p;
      if (p < end_) break;
    }
    token = NumberToken();
    stop = scan_number(number_text_.c_str(), token);
    if (!token.ok || stop != number_text_.data() + number_text_.size()) {
      return fail_at_offset(number_offset +
                            static_cast<std::uint64_t>(stop - number_text_.c_str()));
    }
    if (!convert_number(token, number_text_, number)) return fail_at_offset(number_offset);
    sink_.add_number(number);
    return true;
  }

  ByteSource& source_;
  Sink& sink_;
  std::size_t block_size_;
  std::unique_ptr<char[]> buffer_;  // block_size_ bytes and the sentinel
  const char* pos_;
  const char* end_;
  std::uint64_t consumed_ = 0;  // bytes of the blocks before the one in the buffer
  bool at_end_ = false;
  bool read_error_ = false;
  bool failed_ = false;
  std::uint64_t failure_offset_ = 0;
  int nesting_budget_ = kNestingBudget;
  std::string scratch_;
  std::string number_text_;
};

}  // namespace

std::optional<Value> parse_json(ByteSource& source, std::size_t block_size,
                                std::uint64_t* failure_offset) {
  ValueSink sink;
  Reader<ValueSink> reader(source, block_size, sink);
  if (!reader.read_document()) {
    if (failure_offset != nullptr) *failure_offset = reader.failure_offset();
    return std::nullopt;
  }
  return sink.take();
}

std::optional<Value> parse_json(std::string_view text) {
  StringSource source(text);
  return parse_json(source);
}

bool parse_json_packed(ByteSource& source, PackedBuffer& out, std::size_t block_size,
                       std::uint64_t* failure_offset) {
  std::size_t start = out.size();
  try {
    PackedSink sink(out);
    Reader<PackedSink> reader(source, block_size, sink);
    if (reader.read_document()) return true;
    if (failure_offset != nullptr) *failure_offset = reader.failure_offset();
  } catch (...) {
    out.truncate(start);
    throw;
  }
  out.truncate(start);
  return false;
}

bool parse_json_packed(std::string_view text, PackedBuffer& out) {
  StringSource source(text);
  return parse_json_packed(source, out);
}

}  // namespace zarvel
