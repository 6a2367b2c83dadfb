#include "value/json_writer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "packed_forms.h"
#include "value/limits.h"

namespace zarvel {
namespace {

using testing::in_both_forms;

Value uint(std::uint64_t u) { return Value(Number::from_unsigned(u)); }
Value neg(std::int64_t i) { return Value(Number::from_negative(i)); }
Value flt(double d) { return Value(Number::from_float(d)); }
Value str(std::string_view s) { return Value(s); }
Value arr(std::vector<Value> elements) { return Value(Array(std::move(elements))); }
Value obj(std::vector<Object::Member> members) {
  return Value(Object::from_members(std::move(members)));
}

TEST(JsonWriterTest, WritesCompactText) {
  struct Case {
    Value value;
    std::string expected;
  };
  std::string controls;
  for (int c = 0; c < 0x20; ++c) controls += static_cast<char>(c);
  const std::vector<Case> cases = {
      {Value(), "null"},
      {Value(true), "true"},
      {Value(false), "false"},
      {uint(0), "0"},
      {uint(1), "1"},
      {uint(18446744073709551615u), "18446744073709551615"},
      {neg(-1), "-1"},
      {neg(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {flt(-0.0), "-0.0"},  // float text itself is FloatFormatTest's
      {str(""), "\"\""},
      {str("\t\"\\\x01\xc3\xa9/\x7f"), "\"\\t\\\"\\\\\\u0001\xc3\xa9/\x7f\""},
      {str(controls),
       "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r"
       "\\u000e\\u000f\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018"
       "\\u0019\\u001a\\u001b\\u001c\\u001d\\u001e\\u001f\""},
      // Members come out in stored order, which ValueTest pins.
      {arr({}), "[]"},
      {obj({}), "{}"},
      {obj({{"k\n", arr({arr({}), obj({})})}}), "{\"k\\n\":[[],{}]}"},
  };
  for (const Case& c : cases) {
    in_both_forms(c.value, [&](const auto& doc) { EXPECT_EQ(to_json(doc), c.expected); });
    if (c.value.is_string()) {
      std::string appended = "<";
      append_json_string(appended, c.value.as_string());
      EXPECT_EQ(appended, "<" + c.expected);
    }
  }
}

// The writer tests words of a string at a time; every length and place of a byte must still be
// seen. append_json_string, which tests byte by byte, gives the expected text.
TEST(JsonWriterTest, EscapesAByteAtEveryPlaceOfEveryLength) {
  for (char special : {'"', '\\', '\x1f', '\0', '\x7f', '\xff', ' '}) {
    for (std::size_t length = 1; length <= 17; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        std::string text(length, 'a');
        text[at] = special;
        std::string expected;
        append_json_string(expected, text);
        SCOPED_TRACE(expected);
        in_both_forms(str(text), [&](const auto& doc) { EXPECT_EQ(to_json(doc), expected); });
      }
    }
  }
}

// Records every write; fails once `budget` bytes have been accepted.
class RecordingSink final : public ByteSink {
 public:
  explicit RecordingSink(std::size_t budget = SIZE_MAX) : budget_(budget) {}
  bool write(const char* data, std::size_t n) override {
    ++calls;
    if (n > budget_) return false;
    budget_ -= n;
    writes.emplace_back(data, n);
    return true;
  }
  std::string all() const {
    std::string s;
    for (const std::string& w : writes) s += w;
    return s;
  }
  std::vector<std::string> writes;
  int calls = 0;

 private:
  std::size_t budget_;
};

TEST(JsonWriterTest, BufferedWriterGathersWritesAndKeepsRunsWhole) {
  std::string long_run(3 * kWriteBufferSize, 'x');
  std::string block_run(kWriteBufferSize + 1, 'y');
  in_both_forms(arr({str("head"), str(long_run + "\n" + long_run), uint(7), str(block_run)}),
                [&](const auto& doc) {
                  RecordingSink sink;
                  BufferedWriter out(sink);
                  ASSERT_TRUE(write_json(doc, out));
                  ASSERT_TRUE(out.flush());
                  EXPECT_EQ(sink.all(), to_json(doc));
                  EXPECT_EQ(sink.all(), "[\"head\",\"" + long_run + "\\n" + long_run + "\",7,\"" +
                                            block_run + "\"]");
                  int whole_runs = 0;
                  for (const std::string& w : sink.writes)
                    whole_runs += w == long_run || w == block_run;
                  EXPECT_EQ(whole_runs, 3);
                  for (const std::string& w : sink.writes) EXPECT_LE(w.size(), long_run.size());
                });

  // Many small pieces reach the sink in full blocks.
  in_both_forms(Value(Array(std::vector<Value>(5000, uint(12345)))), [](const auto& doc) {
    RecordingSink blocks;
    BufferedWriter gathered(blocks);
    ASSERT_TRUE(write_json(doc, gathered) && gathered.flush());
    ASSERT_GT(blocks.writes.size(), 1u);
    for (std::size_t i = 0; i + 1 < blocks.writes.size(); ++i) {
      EXPECT_GE(blocks.writes[i].size(), kWriteBufferSize - 8);
    }
  });
}

TEST(JsonWriterTest, StopsAtTheFirstSinkFailure) {
  in_both_forms(Value(Array(std::vector<Value>(10000, str("abcdefgh")))), [](const auto& doc) {
    RecordingSink sink(kWriteBufferSize);  // the second block fails
    BufferedWriter out(sink);
    EXPECT_FALSE(write_json(doc, out));
    EXPECT_FALSE(out.put('x') || out.flush());
    EXPECT_EQ(sink.calls, 2);  // nothing more reaches the sink once it has failed
  });
  in_both_forms(str("too long"), [](const auto& doc) {
    RecordingSink at_flush(4);
    BufferedWriter late(at_flush);
    EXPECT_TRUE(write_json(doc, late));
    EXPECT_FALSE(late.flush());
  });
}

// `levels` arrays, or objects, around 1.
Value nested(int levels, bool objects) {
  Value value = uint(1);
  for (int i = 0; i < levels; ++i) {
    value = objects ? obj({{"k", std::move(value)}}) : arr({std::move(value)});
  }
  return value;
}

// No value that deep can be read, converted or made by an update; the writer must still not
// recurse without bound on one built some other way.
TEST(JsonWriterTest, RefusesToNestBeyondTheLimitLikeAFailingSink) {
  struct Case {
    int levels;
    int enclosing;  // levels the caller opened around the value
    bool written;
  };
  const std::vector<Case> cases = {
      {kMaxNestingDepth, 0, true},
      {kMaxNestingDepth + 1, 0, false},
      {kMaxDocumentDepth, 1, true},
      {kMaxDocumentDepth + 1, 1, false},
      {300, 0, false},
  };
  for (bool objects : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message()
                   << c.levels << (objects ? " objects" : " arrays") << " in " << c.enclosing);
      in_both_forms(nested(c.levels, objects), [&](const auto& doc) {
        RecordingSink sink;
        BufferedWriter out(sink);
        EXPECT_EQ(write_json(doc, out, c.enclosing), c.written);
        if (c.written) {
          EXPECT_TRUE(out.flush() && sink.all() == to_json(doc));
        }
      });
    }
  }
}

}  // namespace
}  // namespace zarvel
