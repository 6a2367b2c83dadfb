#include "query/updater.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_literal.h"

namespace zarvel {
namespace {

using testing::json_object;
using testing::show;

TEST(UpdaterTest, ChangesOnlyExistingFields) {
  struct Case {
    const char* update;
    const char* before;
    const char* after;
  };
  int in_place = 0;
  const std::vector<Case> cases = {
      // Numbers: $inc and $dec ignore their operand and always make a float; a non-number stays.
      {R"({})", R"({"n": 5})", R"({"n": 5})"},
      {R"({"n": {"$inc": 10}})", R"({"n": 5})", R"({"n": 6.0})"},
      {R"({"n": {"$dec": "x"}})", R"({"n": 5})", R"({"n": 4.0})"},
      {R"({"n": {"$inc": 1}})", R"({"n": "5"})", R"({"n": "5"})"},
      {R"({"n": {"$add": 2}})", R"({"n": 1.5})", R"({"n": 3.5})"},
      {R"({"n": {"$add": -7}})", R"({"n": 2})", R"({"n": -5.0})"},
      {R"({"n": {"$substract": 2}})", R"({"n": 5})", R"({"n": 3.0})"},
      {R"({"n": {"$substract": 0.5}})", R"({"n": 18446744073709551615})",
       R"({"n": 1.8446744073709552e19})"},
      {R"({"n": {"$add": "2"}})", R"({"n": 5})", R"({"n": 5})"},
      {R"({"n": {"$add": 1}})", R"({"n": "5"})", R"({"n": "5"})"},
      // An overflow becomes null; a step too small to show leaves the value.
      {R"({"n": {"$add": 1e308}})", R"({"n": 1e308})", R"({"n": null})"},
      {R"({"n": {"$inc": 1}})", R"({"n": 1.7976931348623157e308})",
       R"({"n": 1.7976931348623157e308})"},
      // Set replaces whole; nothing is created where the field or its parent object is missing.
      {R"({"n": 7})", R"({"n": 5.5})", R"({"n": 7})"},
      {R"({"a": {"$set": [1, 2]}})", R"({"a": 3})", R"({"a": [1, 2]})"},
      {R"({"a": {"$set": {"b": 1}}})", R"({"a": {"c": 2}})", R"({"a": {"b": 1}})"},
      {R"({"a": {"$set": {}}})", R"({"a": 1})", R"({"a": {}})"},
      {R"({"m": 1})", R"({"n": 5})", R"({"n": 5})"},
      {R"({"a": {"b": 1}})", R"({"a": {"b": 0, "c": 2}})", R"({"a": {"b": 1, "c": 2}})"},
      {R"({"a.b": 1})", R"({"a": {}})", R"({"a": {}})"},
      {R"({"a.b": 1})", R"({"a": 3})", R"({"a": 3})"},
      {R"({"a.0": 1})", R"({"a": [0]})", R"({"a": [0]})"},
      {R"({"a.b": {"$delete": 1}})", R"({"a": {"b": 1, "c": 2}})", R"({"a": {"c": 2}})"},
      {R"({"x": {"$delete": null}})", R"({"x": {"deep": [1]}})", R"({})"},
      {R"({"a.b.c": {"$inc": 0}})", R"({"a": {"b": {"c": 1, "d": 1}}})",
       R"({"a": {"b": {"c": 2.0, "d": 1}}})"},
      {R"({"$set": {"n": 1}})", R"({"n": 5})", R"({"n": 5})"},
      {R"({"$set": {"n": 1}})", R"({"$set": {"n": 5}})", R"({"$set": {"n": 1}})"},
      // Every member of a nested object applies, in key order.
      {R"({"a": {"b": 1, "c": 2}})", R"({"a": {"b": 0, "c": 0, "d": 0}})",
       R"({"a": {"b": 1, "c": 2, "d": 0}})"},
      {R"({"n": {"$inc": 1, "$set": 5}})", R"({"n": 0})", R"({"n": 5})"},
      {R"({"n": {"$subtract": 2}})", R"({"n": 5})", R"({"n": 3.0})"},
      // $push appends a copy, $pull removes every equal element; neither touches a non-array.
      {R"({"t": {"$push": [1]}})", R"({"t": [0]})", R"({"t": [0, [1]]})"},
      {R"({"t": {"$push": 1}})", R"({"t": "x"})", R"({"t": "x"})"},
      {R"({"t": {"$push": 1}})", R"({})", R"({})"},
      {R"({"t": {"$pull": 1}})", R"({"t": [1, 2, 1.0, 1]})", R"({"t": [2, 1.0]})"},
      {R"({"t": {"$pull": {"a": 1}}})", R"({"t": [{"a": 1}, {"a": 2}]})", R"({"t": [{"a": 2}]})"},
      {R"({"t": {"$pull": 1}})", R"({"t": 1})", R"({"t": 1})"},
      // "a" sorts before "a.x": the increment runs, then "a" is no object for "a.x".
      {R"({"a": {"$inc": 1}, "a.x": 5})", R"({"a": 1})", R"({"a": 2.0})"},
      // Later conditions see earlier changes: "a" is deleted before "a.b" is looked for.
      {R"({"a": {"$delete": 1}, "a.b": 5})", R"({"a": {"b": 1}, "c": 3})", R"({"c": 3})"},
      {R"({"a": {"$set": {"b": 0}}, "a.b": {"$add": 2}})", R"({"a": 1})", R"({"a": {"b": 2.0}})"},
      {R"({"n": {"$add": 1}, "n.": {"$add": 1}, "m": {"$dec": 0}})", R"({"n": 1, "m": 1})",
       R"({"n": 2.0, "m": 0.0})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.update) + " on " + c.before);
    Result<QueryEngine<UpdateOperator>> engine =
        QueryEngine<UpdateOperator>::build(json_object(c.update), nullptr);
    ASSERT_TRUE(engine.ok()) << engine.status().message();
    Object document = json_object(c.before);
    apply_update(engine.value(), document);
    Object expected = json_object(c.after);
    EXPECT_TRUE(document == expected) << show(document) << " vs " << show(expected);

    // Where the update only puts numbers in place of numbers, the packed form changes in place
    // to the same result.
    PackedBuffer packed;
    pack(Value(json_object(c.before)), packed);
    std::vector<InPlaceUpdate::Write> writes;
    if (InPlaceUpdate(engine.value()).plan(PackedValue(packed.data()).as_object(), writes)) {
      ++in_place;
      InPlaceUpdate::apply(writes);
      EXPECT_EQ(show(unpack(PackedValue(packed.data()))), show(expected));
    }
  }
  // The numeric cases above, and those that change nothing.
  EXPECT_EQ(in_place, 28);
}

TEST(UpdaterTest, SetStoresItsOwnCopy) {
  Result<QueryEngine<UpdateOperator>> engine =
      QueryEngine<UpdateOperator>::build(json_object(R"({"a": {"$set": {"b": [1]}}})"), nullptr);
  ASSERT_TRUE(engine.ok());
  Object first = json_object(R"({"a": 0})");
  Object second = json_object(R"({"a": 0})");
  apply_update(engine.value(), first);
  apply_update(engine.value(), second);
  first.find("a")->as_object().find("b")->as_array().clear();
  EXPECT_TRUE(second == json_object(R"({"a": {"b": [1]}})")) << show(second);
  EXPECT_TRUE(engine.value().conditions()[0].value == testing::json(R"({"b": [1]})"));
}

TEST(UpdaterTest, DeepestSetCountsThePathAndTheOperand) {
  struct Case {
    const char* update;
    int depth;
  };
  const std::vector<Case> cases = {
      {R"({})", 0},
      {R"({"n": {"$inc": 1}})", 0},
      {R"({"a": 1})", 1},
      {R"({"a": {"b": "x"}})", 2},
      {R"({"a.b": {"$set": [[1]]}})", 4},
      {R"({"a": {"$set": {}}, "x.y.z": {"$set": []}})", 4},
      {R"({"a..": {"$set": {"k": [null]}}})", 5},
      {R"({"a": {"$set": [1, [[]], {"k": {}}, []]}})", 4},  // the deepest element counts
      // Only Set stores its operand.
      {R"({"a": {"$delete": [[[]]]}, "b": {"$add": {"c": {}}}, "c": {"$dec": [[]]}})", 0},
  };
  for (const Case& c : cases) {
    Result<QueryEngine<UpdateOperator>> engine =
        QueryEngine<UpdateOperator>::build(json_object(c.update), nullptr);
    ASSERT_TRUE(engine.ok()) << c.update;
    EXPECT_EQ(deepest_set(engine.value()), c.depth) << c.update;
  }
}

}  // namespace
}  // namespace zarvel
