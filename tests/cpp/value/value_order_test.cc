#include "value/value_order.h"

#include <gtest/gtest.h>

#include "../query/json_literal.h"
#include "packed_forms.h"

namespace zarvel {
namespace {

using testing::json;

int sign(std::weak_ordering c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

TEST(ValueOrderTest, OrdersKindsThenValues) {
  struct Case {
    const char* a;
    const char* b;
    int expected;  // sign of compare_values(a, b)
  };
  const Case cases[] = {
      // Kinds: null, numbers, strings, objects, arrays, booleans.
      {"null", "-1e300", -1},
      {"1e300", "\"\"", -1},
      {"\"zzz\"", "{}", -1},
      {"{\"a\": [9]}", "[]", -1},
      {"[{}]", "false", -1},
      {"false", "true", -1},
      {"null", "null", 0},
      // Numbers by value, whatever their form.
      {"1", "1.0", 0},
      {"0", "-0.0", 0},
      {"0.5", "1", -1},
      {"-1", "-0.5", -1},
      {"-3", "-2.5", -1},
      {"-2", "-2.5", 1},
      {"-1", "0", -1},
      {"-9223372036854775808", "-9223372036854775807", -1},
      {"18446744073709551615", "18446744073709551614", 1},
      // Integers beyond 2**53 against the doubles around them, exactly.
      {"9007199254740993", "9007199254740992.0", 1},
      {"9007199254740993", "9007199254740994.0", -1},
      {"18446744073709551615", "1.8446744073709552e19", -1},
      {"18446744073709551615", "1.844674407370955e19", 1},
      {"-9223372036854775808", "-9.223372036854775808e18", 0},
      {"-9223372036854775807", "-9.223372036854775808e18", 1},
      {"-9223372036854775808", "-1e19", 1},
      {"-9223372036854775807", "-9.2233720368547748e18", -1},
      // Strings by unsigned bytes, a prefix first.
      {"\"a\"", "\"b\"", -1},
      {"\"a\"", "\"ab\"", -1},
      {"\"Z\"", "\"a\"", -1},
      {"\"z\"", "\"\\u00e9\"", -1},
      {"\"abc\"", "\"abc\"", 0},
      {"\"abcdefgh\"", "\"abcdefghi\"", -1},
      {"\"abcdefgz\"", "\"abcdefgha\"", 1},
      {"\"a\"", "\"a\\u0000\"", -1},
      // Arrays element by element, a prefix first.
      {"[1, 2]", "[1, 3]", -1},
      {"[1]", "[1, 0]", -1},
      {"[2]", "[1, 0]", 1},
      {"[1, \"a\"]", "[1.0, \"a\"]", 0},
      {"[[1, null]]", "[[1, 0]]", -1},
      // Objects member by member: key bytes, then value.
      {"{\"a\": 1}", "{\"b\": 0}", -1},
      {"{\"a\": 1}", "{\"a\": 2}", -1},
      {"{\"a\": 1}", "{\"a\": 1, \"b\": 0}", -1},
      {"{\"a\": true}", "{\"a\": 1, \"b\": 0}", 1},
      {"{\"a\": {\"b\": 1}}", "{\"a\": {\"b\": 1.0}}", 0},
  };
  for (const Case& c : cases) {
    Value a = json(c.a);
    Value b = json(c.b);
    EXPECT_EQ(sign(compare_values(a, b)), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(sign(compare_values(b, a)), -c.expected) << c.b << " vs " << c.a;
    // The prefixes may tie where the values differ, never disagree with them.
    OrderPrefix pa = order_prefix(a);
    OrderPrefix pb = order_prefix(b);
    if (pa != pb) {
      EXPECT_EQ(sign(pa <=> pb), c.expected) << "prefixes of " << c.a << ", " << c.b;
    }
    // The packed forms order alike, against each other and against the Value.
    testing::PackedDocuments packed(Array(std::vector<Value>{a, b}));
    PackedValue packed_a = packed.span()[0];
    PackedValue packed_b = packed.span()[1];
    EXPECT_EQ(sign(compare_values(packed_a, packed_b)), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(sign(compare_values(packed_b, packed_a)), -c.expected) << c.b << " vs " << c.a;
    EXPECT_EQ(sign(compare_values(packed_a, b)), c.expected) << c.a << " vs " << c.b;
    EXPECT_TRUE(order_prefix(packed_a) == pa && order_prefix(packed_b) == pb) << c.a << ", " << c.b;
  }
}

}  // namespace
}  // namespace zarvel
