#include "value/packed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "value/packed_builder.h"

namespace zarvel {
namespace {

using testing::json;
using testing::show;

// Replays `value` into a builder, members in the reverse of key order so that every object with
// two members or more has to be reordered.
void replay(const Value& value, PackedBuilder& builder) {
  switch (value.kind()) {
    case Kind::kNull:
      return builder.add_null();
    case Kind::kBool:
      return builder.add_bool(value.as_bool());
    case Kind::kNumber:
      return builder.add_number(value.as_number());
    case Kind::kString:
      return builder.add_string(value.as_string());
    case Kind::kArray:
      builder.begin_array();
      for (const Value& element : value.as_array()) replay(element, builder);
      return builder.end_array();
    case Kind::kObject:
      builder.begin_object();
      for (auto it = value.as_object().end(); it != value.as_object().begin();) {
        --it;
        builder.add_key(it->key.view());
        replay(it->value, builder);
      }
      return builder.end_object();
  }
}

TEST(PackedTest, PackingAndBuildingGiveTheSameBytesAndUnpackBack) {
  const std::string long_text(300, 'x');
  const std::string long_key(260, 'k');
  const std::vector<std::string> texts = {
      "null",
      "true",
      "false",
      "0",
      "-1",
      "18446744073709551615",
      "-9223372036854775808",
      "1.5",
      "-0.0",
      "\"\"",
      "\"" + long_text + "\"",
      "[]",
      "{}",
      "[1,[2,[3,{}]],\"a\"]",
      R"({"b":1,"a":{"d":[true,null],"c":"x"},"":0})",
      "{\"" + long_key + "\":1,\"z\":[\"" + long_text + "\"]}",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    Value value = json(text);
    PackedBuffer packed;
    pack(value, packed);
    EXPECT_EQ(packed.size(), packed_size(value));
    EXPECT_EQ(PackedValue(packed.data()).size(), packed.size());
    EXPECT_EQ(show(unpack(PackedValue(packed.data()))), show(value));

    PackedBuffer built;
    PackedBuilder builder(built);
    replay(value, builder);
    EXPECT_EQ(builder.depth(), 0u);
    EXPECT_EQ(std::string(built.data(), built.size()), std::string(packed.data(), packed.size()));
  }
}

TEST(PackedTest, BuilderKeepsTheLastOfEqualKeys) {
  PackedBuffer out;
  PackedBuilder builder(out);
  builder.begin_array();
  builder.begin_object();
  for (auto [key, n] : std::vector<std::pair<std::string, int>>{
           {"b", 1}, {"a", 2}, {"b", 3}, {"c", 4}, {"a", 5}, {"ab", 6}}) {
    builder.add_key(key);
    builder.add_number(Number::from_int64(n));
  }
  builder.end_object();
  builder.add_string("after");
  builder.end_array();
  EXPECT_EQ(show(unpack(PackedValue(out.data()))), R"([{"a":5,"ab":6,"b":3,"c":4},"after"])");
}

TEST(PackedTest, ViewsReadLikeValues) {
  Value value = json(R"({"a":[1,2.5,"s"],"b":{"c":null},"d":false})");
  PackedBuffer out;
  pack(value, out);
  PackedObject object = PackedValue(out.data()).as_object();
  ASSERT_EQ(object.size(), 3u);
  EXPECT_FALSE(object.find("x"));
  EXPECT_FALSE(object.find("c"));  // only the top level is searched
  PackedArray a = object.find("a")->as_array();
  EXPECT_EQ(a.size(), 3u);
  EXPECT_EQ(a[1].as_number().as_float(), 2.5);
  EXPECT_EQ(a[2].as_string(), "s");
  EXPECT_TRUE(object.find("b")->as_object().find("c")->is_null());
  EXPECT_TRUE(object.find("d")->is_bool());
  std::string keys;
  for (PackedMember member : object) keys += member.key;
  EXPECT_EQ(keys, "abd");
}

TEST(PackedTest, EqualityMatchesValueEquality) {
  const std::vector<std::string> texts = {
      "1",     "1.0",       "0.0",         "-0.0",      "-1",
      "\"1\"", "null",      "[0.0]",       "[-0.0]",    "[1,2]",
      "[2,1]", "{\"a\":1}", "{\"a\":1.0}", "{\"b\":1}", "{\"a\":1,\"b\":2}",
      "{}",    "[]",        "true"};
  for (const std::string& left : texts) {
    for (const std::string& right : texts) {
      Value a = json(left);
      Value b = json(right);
      PackedBuffer pa, pb;
      pack(a, pa);
      pack(b, pb);
      EXPECT_EQ(PackedValue(pa.data()) == PackedValue(pb.data()), a == b) << left << " " << right;
      EXPECT_EQ(PackedValue(pa.data()) == b, a == b) << left << " " << right;
    }
  }
}

}  // namespace
}  // namespace zarvel
