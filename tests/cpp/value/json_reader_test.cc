#include "value/json_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "value/json_writer.h"
#include "value/packed.h"

namespace zarvel {
namespace {

using namespace std::string_literals;

// Hands out at most `chunk` bytes per read, then optionally fails instead of ending.
class ChunkedSource final : public ByteSource {
 public:
  int calls = 0;
  ChunkedSource(std::string_view text, std::size_t chunk, bool fail_at_end = false)
      : rest_(text), chunk_(chunk), fail_at_end_(fail_at_end) {}
  std::ptrdiff_t read(char* buf, std::size_t n) override {
    ++calls;
    EXPECT_EQ(n, kReadBufferSize);
    if (rest_.empty()) return fail_at_end_ ? -1 : 0;
    std::size_t count = std::min({n, chunk_, rest_.size()});
    std::copy_n(rest_.data(), count, buf);
    rest_.remove_prefix(count);
    return static_cast<std::ptrdiff_t>(count);
  }

 private:
  std::string_view rest_;
  std::size_t chunk_;
  bool fail_at_end_;
};

// The text of what `text` reads to, or "FAIL"; read whole and one byte per read, which must agree.
std::string read_back(std::string_view text) {
  std::optional<Value> whole = parse_json(text);
  ChunkedSource bytewise(text, 1);
  std::optional<Value> split = parse_json(bytewise);
  EXPECT_EQ(whole.has_value(), split.has_value()) << text;
  if (whole && split) {
    EXPECT_EQ(to_json(*whole), to_json(*split)) << text;
  }
  PackedBuffer packed;
  EXPECT_EQ(parse_json_packed(text, packed), whole.has_value()) << text;
  if (whole && !packed.empty()) {
    EXPECT_TRUE(unpack(PackedValue(packed.data())) == *whole) << text;
  }
  return whole ? to_json(*whole) : "FAIL";
}

std::string nested(int levels, std::string_view open, std::string_view inner,
                   std::string_view close) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += open;
  text += inner;
  for (int i = 0; i < levels; ++i) text += close;
  return text;
}

TEST(JsonReaderTest, AcceptedTextsReadToTheirValues) {
  struct Case {
    std::string text, expected;
  };
  const std::string zeros(5000, '0');
  const std::string raw_utf8 = "\"\x7f/\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\"";
  const std::vector<Case> cases = {
      {"null", "null"},
      {" \t\n\r true \r\n\t ", "true"},
      {"0", "0"},
      {"-1", "-1"},
      // Negative zero in every spelling, integers past the 64-bit forms become floats.
      {"-0", "-0.0"},
      {"-0.0", "-0.0"},
      {"-0e5", "-0.0"},
      {"18446744073709551615", "18446744073709551615"},
      {"18446744073709551616", "1.8446744073709552e19"},
      {"100000000000000000000", "1e20"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"-9223372036854775809", "-9.223372036854776e18"},
      {"-18446744073709551615", "-1.8446744073709552e19"},
      {"1.0", "1.0"},
      {"1E2", "100.0"},
      {"1e+2", "100.0"},
      {"1e-2", "0.01"},
      {"123.456", "123.456"},
      // Underflow reads as zero of the right sign; huge exponents on zero or with long digit runs.
      {"1e-400", "0.0"},
      {"-1e-400", "-0.0"},
      {"1e-99999999999", "0.0"},
      {"0.000e99999999999", "0.0"},
      {"-0e99999999999", "-0.0"},
      {"1e0000000000000000000002", "100.0"},
      {"1" + zeros + "e-5000", "1.0"},
      {"0." + zeros + "1e5002", "10.0"},
      {"1" + zeros + "e-4700", "1e300"},
      {"[1,-1,1.5,\"a\",true,false,null,[],{}]", "[1,-1,1.5,\"a\",true,false,null,[],{}]"},
      {" [ 1 , [ 2 ] , { \"k\" : [ ] } ] ", "[1,[2],{\"k\":[]}]"},
      {R"({"a":1,"c":2,"a":3,"b":4,"a":5,"c":6})", R"({"a":5,"b":4,"c":6})"},
      {R"({"a":{"x":1,"x":2},"a":{"y":3}})", R"({"a":{"y":3}})"},
      {R"({"é":1,"z":2,"a":3,"B":4,"ab":5})", R"({"B":4,"a":3,"ab":5,"z":2,"é":1})"},
      {R"("\"\\\/\b\f\n\r\t")", R"("\"\\/\b\f\n\r\t")"},
      {R"("\u0041\u00e9\u00E9\u20ac\ud83d\ude00\uDBFF\uDFFF")",
       "\"A\u00e9\u00e9\u20ac\U0001F600\U0010FFFF\""},
      {R"("a\u0000b")", R"("a\u0000b")"},
      {raw_utf8, raw_utf8},
      {"\"" + std::string(20000, 'x') + "\"", "\"" + std::string(20000, 'x') + "\""},
      {nested(127, "[", "1", "]"), nested(127, "[", "1", "]")},
      {nested(127, "{\"a\":", "1", "}"), nested(127, "{\"a\":", "1", "}")},
  };
  for (const Case& c : cases) EXPECT_EQ(read_back(c.text), c.expected) << c.text.substr(0, 80);
}

TEST(JsonReaderTest, FailuresTellTheOffsetOfTheFirstRejectedByte) {
  struct Case {
    std::string text;
    std::uint64_t offset;
  };
  const std::vector<Case> cases = {
      // Texts that end too early: the offset is their length.
      {"", 0},
      {"  \n ", 4},
      {"[1,2", 4},
      {"{\"a\":1", 6},
      {"\"abc", 4},
      {"tru", 3},
      {"\"\\u12", 5},
      {"\"\xe2\x82", 3},
      // A byte that cannot come where it is.
      {"[1,]", 3},
      {"[1 2]", 3},
      {"{1:2}", 1},
      {"{\"a\" 1}", 5},
      {"{\"a\":1 \"b\"}", 7},
      {"[1] x", 4},
      {"[tree]", 3},
      {"nulL", 3},
      {"\"ab\x01\"", 3},
      {"\"\\x\"", 2},
      {"\"\\u12g4\"", 5},
      {"\"\\ud800x\"", 7},
      {"\"\\ud800\\n\"", 8},
      {"-x", 1},
      {"[1.]", 3},
      {"01", 1},
      {"1.5.5", 3},
      {"[1,\n  2,,\n]", 8},
      {"1\x0c", 1},
      {"[1]\0"s, 3},
      {"{\"a\":}", 5},
      {"nullx", 4},
      {"1e5.5", 3},
      // The first byte of what is refused as a whole: numbers out of range, the exact bounds of
      // the UTF-8 ranges, nesting too deep.
      {"\"\xff\"", 1},
      {"\"a\xe2\x28\xa1\"", 2},
      {"\"\\udc00\"", 6},
      {"\"\\ud800\\u0041\"", 12},
      {"[1e400]", 1},
      {nested(128, "[", "1", "]"), 127},
      {"[" + nested(127, "{\"a\":", "1", "}") + "]", 1 + 126 * 5},
      {"1e309", 0},
      {"10e308", 0},
      {"1.5e2147483648", 0},
      {"0.1e99999999999", 0},
      {"1" + std::string(400, '0'), 0},
      {"\"\\ud800\\ue000\"", 12},
      {"\"\xc1\xbf\"", 1},
      {"\"\xe0\x80\xaf\"", 1},
      {"\"\xe0\x9f\xbf\"", 1},
      {"\"\xed\xbf\xbf\"", 1},
      {"\"\xf0\x80\x80\xaf\"", 1},
      {"\"\xf0\x8f\xbf\xbf\"", 1},
      {"\"\xf4\x90\x80\x80\"", 1},
      {"\"\xf5\x80\x80\x80\"", 1},
      {"\"\xc3\"", 1},
      {"\"\xe2\x82\"", 1},
      {"\"\xc3\x28\"", 1},
      {"\"\xe2\x28\xa1\"", 1},
      {nested(128, "{\"a\":", "1", "}"), 635},
      {nested(64, "[", nested(64, "{\"a\":", "1", "}"), "]"), 379},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(parse_json(c.text)) << ::testing::PrintToString(c.text.substr(0, 40));
    for (std::size_t chunk : {kReadBufferSize, std::size_t{1}}) {
      ChunkedSource source(c.text, chunk);
      std::uint64_t offset = 12345;
      EXPECT_FALSE(parse_json(source, kReadBufferSize, &offset));
      EXPECT_EQ(offset, c.offset) << ::testing::PrintToString(c.text.substr(0, 40)) << " read by "
                                  << chunk;
      ChunkedSource packed_source(c.text, chunk);
      PackedBuffer packed;
      offset = 12345;
      EXPECT_FALSE(parse_json_packed(packed_source, packed, kReadBufferSize, &offset));
      EXPECT_EQ(offset, c.offset) << ::testing::PrintToString(c.text.substr(0, 40)) << " packed";
    }
  }
}

TEST(JsonReaderTest, FloatsReadToTheNearestDouble) {
  struct Case {
    const char* text;
    std::uint64_t bits;
  };
  const Case cases[] = {
      {"0.1", 0x3FB999999999999A},
      {"5e-324", 0x1},
      {"4.9406564584124654e-324", 0x1},
      {"2.2250738585072011e-308", 0x000FFFFFFFFFFFFF},
      {"2.2250738585072014e-308", 0x0010000000000000},
      {"1.7976931348623157e308", 0x7FEFFFFFFFFFFFFF},
      // Halfway between two doubles: ties go to the even one.
      {"9007199254740993.0", 0x4340000000000000},
      {"9007199254740995.0", 0x4340000000000002},
      {"2.2790121708605243e274", std::bit_cast<std::uint64_t>(2.2790121708605243e274)},
      {"1847850320662571.0", std::bit_cast<std::uint64_t>(1847850320662571.0)},
  };
  for (const Case& c : cases) {
    std::optional<Value> v = parse_json(c.text);
    ASSERT_TRUE(v && v->is_number()) << c.text;
    ASSERT_TRUE(v->as_number().is_float()) << c.text;
    EXPECT_EQ(v->as_number().bits(), c.bits) << c.text;
  }
  // Random texts with long digit runs and far exponents, against the C library's correctly rounded
  // strtod.
  std::mt19937_64 random(5);
  auto digits = [&](std::size_t n) {
    std::string s;
    while (s.size() < n) s += static_cast<char>('0' + random() % 10);
    return s;
  };
  for (int i = 0; i < 40000; ++i) {
    std::string text;
    if (i % 2) {
      // Short plain decimals (most stored floats), across the 16 digits and 2^53 where they
      // leave the quick path.
      text = (random() % 2 ? "-" : "") + std::to_string(random() >> (random() % 64)) + "." +
             digits(1 + random() % 9);
    } else {
      std::string whole =
          random() % 8 ? std::to_string(1 + random() % 9) + digits(random() % 24) : "0";
      text = (random() % 2 ? "-" : "") + whole;
      if (random() % 4) text += "." + digits(1 + random() % 20);
      if (random() % 2 || text.find('.') == std::string::npos) {
        text += "e" + std::to_string(static_cast<int>(random() % 640) - 330);
      }
    }
    double expected = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(expected)) continue;
    std::optional<Value> v = parse_json(text);
    ASSERT_TRUE(v && v->is_number() && v->as_number().is_float()) << text;
    EXPECT_EQ(v->as_number().bits(), std::bit_cast<std::uint64_t>(expected)) << text;
  }
}

// Every kind of token placed across the boundary of the reader's 8192-byte blocks.
TEST(JsonReaderTest, TokensStraddlingBlockBoundariesReadWhole) {
  const std::vector<std::string> tokens = {"true",
                                           "null",
                                           "-12345678901234567890.25e-3",
                                           "18446744073709551615",
                                           "-0",
                                           "\"plain text\"",
                                           R"("esc\n\u00e9\ud83d\ude00x")",
                                           "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"",
                                           R"({"key":[1,2]})",
                                           "1.",
                                           "\"\xe2\x82\"",
                                           R"("\ud83d\u00e9")"};
  for (const std::string& token : tokens) {
    std::string expected = read_back(token);
    for (std::size_t pad = kReadBufferSize - 12; pad <= kReadBufferSize + 1; ++pad) {
      std::string text = std::string(pad, ' ') + "[" + token + "]";
      std::string got = read_back(text);
      EXPECT_EQ(got, expected == "FAIL" ? "FAIL" : "[" + expected + "]") << token << " pad " << pad;
    }
  }
}

// The plain-byte fast path of strings must stop at every byte that needs attention, wherever it
// falls in a long run.
TEST(JsonReaderTest, SpecialBytesAnywhereInLongStrings) {
  struct Case {
    std::string inserted, written;  // written "FAIL" when the string must be rejected
  };
  const Case cases[] = {
      {"\\n", "\\n"},   {"\\\"", "\\\""},         {"\x1f", "FAIL"}, {std::string(1, '\0'), "FAIL"},
      {"\x7f", "\x7f"}, {"\xc3\xa9", "\xc3\xa9"}, {"\xc3", "FAIL"}, {"\xff", "FAIL"}};
  for (const Case& c : cases) {
    for (std::size_t at = 0; at <= 17; ++at) {
      std::string body = std::string(at, 'a') + c.inserted + std::string(17 - at, 'b');
      std::string expected = c.written == "FAIL" ? "FAIL"
                                                 : "\"" + std::string(at, 'a') + c.written +
                                                       std::string(17 - at, 'b') + "\"";
      EXPECT_EQ(read_back("\"" + body + "\""), expected) << at << " " << c.written;
    }
  }
}

TEST(JsonReaderTest, ReadsInWholeBlocksAndFailsOnAReadError) {
  std::string text = "[" + std::string(3 * kReadBufferSize, ' ') + "]";
  ChunkedSource source(text, kReadBufferSize);
  EXPECT_TRUE(parse_json(source));
  EXPECT_EQ(source.calls, 5);  // four blocks, then the end
  // A read error fails the text, even after a complete value.
  ChunkedSource midway("[1,2", 2, /*fail_at_end=*/true);
  EXPECT_FALSE(parse_json(midway));
  ChunkedSource after("[1,2] ", 3, /*fail_at_end=*/true);
  EXPECT_FALSE(parse_json(after));
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(JsonReaderTest, JsonTestSuiteVerdicts) {
  // The implementation-defined cases this reader accepts; every other i_ case is rejected.
  const std::set<std::string> accepted_i = {
      "i_number_double_huge_neg_exp.json",   "i_number_real_underflow.json",
      "i_number_too_big_neg_int.json",       "i_number_too_big_pos_int.json",
      "i_number_very_big_negative_int.json",
  };
  int checked = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(ZARVEL_TESTDATA_DIR "/json-test-suite/test_parsing")) {
    std::string name = entry.path().filename().string();
    if (!name.starts_with("y_") && !name.starts_with("n_") && !name.starts_with("i_")) continue;
    bool expect_accept = name.starts_with("y_") || accepted_i.contains(name);
    std::string text = read_file(entry.path());
    EXPECT_EQ(parse_json(text).has_value(), expect_accept) << name;
    ChunkedSource bytewise(text, 1);
    EXPECT_EQ(parse_json(bytewise).has_value(), expect_accept) << name << " (one byte per read)";
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

// The packed reader is the same parser writing another form: it must agree with parse_json on
// every text of the suite and on the real documents, whatever the block size.
TEST(JsonReaderTest, PackedReadAgreesWithTheValueRead) {
  std::vector<std::filesystem::path> paths;
  for (const char* dir : {"/json-test-suite/test_parsing", "/nativejson-benchmark/data"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(ZARVEL_TESTDATA_DIR + std::string(dir))) {
      if (entry.path().extension() == ".json") paths.push_back(entry.path());
    }
  }
  ASSERT_GT(paths.size(), 300u);
  const std::string prefix = "[\"before\"]";  // stays untouched after the packed value
  for (const auto& path : paths) {
    std::string text = read_file(path);
    for (std::size_t block : {std::size_t{1}, std::size_t{7}, kReadBufferSize}) {
      std::string where = path.filename().string() + " in blocks of " + std::to_string(block);
      StringSource value_source(text), packed_source(text);
      std::uint64_t value_offset = 0, packed_offset = 0;
      std::optional<Value> value = parse_json(value_source, block, &value_offset);
      PackedBuffer out;
      ASSERT_TRUE(parse_json_packed(prefix, out));
      std::size_t prefix_size = out.size();
      bool packed = parse_json_packed(packed_source, out, block, &packed_offset);
      ASSERT_EQ(packed, value.has_value()) << where;
      if (packed) {
        PackedValue result(out.data() + prefix_size);
        EXPECT_EQ(prefix_size + result.size(), out.size()) << where;
        EXPECT_TRUE(unpack(result) == *value) << where;
      } else {
        EXPECT_EQ(packed_offset, value_offset) << where;
        EXPECT_EQ(out.size(), prefix_size) << where;
      }
      EXPECT_TRUE(unpack(PackedValue(out.data())) == *parse_json(prefix)) << where;
    }
  }
}

}  // namespace
}  // namespace zarvel
