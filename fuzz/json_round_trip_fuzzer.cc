// Reads arbitrary bytes as JSON text. Whatever the reader accepts must survive a write and a
// second read: the same value, and the same text when written again. The input is also read in
// small uneven blocks, which must give exactly the outcome of reading it whole, so that tokens
// split across reads are checked as well.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "value/float_format.h"
#include "value/json_reader.h"
#include "value/json_writer.h"
#include "value/packed.h"
#include "value/value.h"

namespace {

using zarvel::Kind;
using zarvel::Number;
using zarvel::Value;

[[noreturn]] void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "round trip failure: %s\ntext: %.*s\n", what, static_cast<int>(text.size()),
               text.data());
  __builtin_trap();
}

// Hands out the bytes in blocks of 1 to 16 bytes whose sizes vary from read to read.
class ChunkedSource final : public zarvel::ByteSource {
 public:
  explicit ChunkedSource(std::string_view text) : rest_(text), state_(text.size() * 2654435761u) {}
  std::ptrdiff_t read(char* buf, std::size_t n) override {
    state_ = state_ * 6364136223846793005u + 1442695040888963407u;
    std::size_t count = 1 + (state_ >> 60);
    if (count > n) count = n;
    if (count > rest_.size()) count = rest_.size();
    std::memcpy(buf, rest_.data(), count);
    rest_.remove_prefix(count);
    return static_cast<std::ptrdiff_t>(count);
  }

 private:
  std::string_view rest_;
  std::uint64_t state_;
};

// Whether the written text of d is one the reader is sure to read back exactly: its digits,
// taken as one integer, are at most 2^53 and its decimal exponent lies within [-22, 22], so one
// floating-point operation on exact operands rebuilds it. Other floats may come back as a
// neighbouring double.
bool reads_back_exactly(double d) {
  char text[zarvel::kMaxFloatText];
  std::size_t length = zarvel::format_float(d, text);
  std::uint64_t digits = 0;
  bool digits_overflow = false;
  long exponent = 0;
  bool in_fraction = false;
  std::size_t i = 0;
  for (; i < length && text[i] != 'e'; ++i) {
    char c = text[i];
    if (c == '-') continue;
    if (c == '.') {
      in_fraction = true;
      continue;
    }
    if (digits > (std::uint64_t{1} << 53) / 10) digits_overflow = true;
    digits = digits * 10 + static_cast<unsigned>(c - '0');
    if (in_fraction) --exponent;
  }
  if (i < length) exponent += std::strtol(text + i + 1, nullptr, 10);
  return !digits_overflow && digits <= (std::uint64_t{1} << 53) && exponent >= -22 &&
         exponent <= 22;
}

// How far apart two finite doubles of the same sign are, in units in the last place.
std::uint64_t ulp_distance(double a, double b) {
  auto ordered = [](double d) {
    auto bits = std::bit_cast<std::int64_t>(d);
    return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
  };
  std::int64_t x = ordered(a), y = ordered(b);
  return x > y ? static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(y)
               : static_cast<std::uint64_t>(y) - static_cast<std::uint64_t>(x);
}

enum class Match { kIdentical, kNeighbouring, kDifferent };

Match worse(Match a, Match b) { return a > b ? a : b; }

// Compares a value read from text with the value read back from its written text: identical,
// or identical but for floats that may come back as a close neighbour, or different.
Match compare(const Value& first, const Value& second) {
  if (first.kind() != second.kind()) return Match::kDifferent;
  switch (first.kind()) {
    case Kind::kNull:
      return Match::kIdentical;
    case Kind::kBool:
      return first.as_bool() == second.as_bool() ? Match::kIdentical : Match::kDifferent;
    case Kind::kNumber: {
      Number a = first.as_number(), b = second.as_number();
      if (a.form() != b.form()) return Match::kDifferent;
      if (a.bits() == b.bits()) return Match::kIdentical;
      if (!a.is_float() || reads_back_exactly(a.as_float())) return Match::kDifferent;
      constexpr std::uint64_t kMaxUlps = 4;
      bool close = std::signbit(a.as_float()) == std::signbit(b.as_float()) &&
                   std::isfinite(b.as_float()) &&
                   ulp_distance(a.as_float(), b.as_float()) <= kMaxUlps;
      return close ? Match::kNeighbouring : Match::kDifferent;
    }
    case Kind::kString:
      return first.as_string() == second.as_string() ? Match::kIdentical : Match::kDifferent;
    case Kind::kArray: {
      const auto& a = first.as_array();
      const auto& b = second.as_array();
      if (a.size() != b.size()) return Match::kDifferent;
      Match result = Match::kIdentical;
      for (std::size_t i = 0; i < a.size() && result != Match::kDifferent; ++i) {
        result = worse(result, compare(a[i], b[i]));
      }
      return result;
    }
    case Kind::kObject: {
      const auto& a = first.as_object();
      const auto& b = second.as_object();
      if (a.size() != b.size()) return Match::kDifferent;
      Match result = Match::kIdentical;
      for (auto i = a.begin(), j = b.begin(); i != a.end() && result != Match::kDifferent;
           ++i, ++j) {
        if (i->key != j->key) return Match::kDifferent;
        result = worse(result, compare(i->value, j->value));
      }
      return result;
    }
  }
  return Match::kDifferent;
}

// Writes through a BufferedWriter into a string: the path a collection file takes.
std::string write_buffered(const Value& value) {
  std::string text;
  zarvel::StringSink sink(text);
  zarvel::BufferedWriter writer(sink);
  if (!zarvel::write_json(value, writer) || !writer.flush()) fail("string sink failed", "");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  zarvel::StringSource whole(input);
  std::optional<Value> first = zarvel::parse_json(whole);
  ChunkedSource chunked(input);
  std::optional<Value> first_chunked = zarvel::parse_json(chunked);
  if (first.has_value() != first_chunked.has_value())
    fail("block boundaries change acceptance", input);
  if (!first) return 0;
  if (compare(*first, *first_chunked) != Match::kIdentical)
    fail("block boundaries change the value", input);

  std::string text = zarvel::to_json(*first);
  if (write_buffered(*first) != text) fail("buffered and string writers differ", text);
  zarvel::PackedBuffer packed;
  zarvel::pack(*first, packed);
  zarvel::PackedValue view(packed.data());
  if (view.size() != packed.size()) fail("packed size is not the bytes written", text);
  if (zarvel::to_json(view) != text) fail("packed and tree writers differ", text);
  if (compare(zarvel::unpack(view), *first) != Match::kIdentical)
    fail("unpack changed the value", text);
  std::optional<Value> second = zarvel::parse_json(text);
  if (!second) fail("written text is rejected", text);
  switch (compare(*first, *second)) {
    case Match::kDifferent:
      fail("value changed", text);
    case Match::kNeighbouring:
      // Only floats moved, and only within the reader's allowance: the texts may differ.
      if (*first == *second) fail("equality ignores a changed float", text);
      return 0;
    case Match::kIdentical:
      if (!(*first == *second)) fail("identical values compare unequal", text);
      if (zarvel::to_json(*second) != text) fail("second write differs", text);
      return 0;
  }
  return 0;
}
