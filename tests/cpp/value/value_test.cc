#include "value/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "value/memory_size.h"

namespace zarvel {
namespace {

Value str(std::string_view s) { return Value(s); }
Value uint(std::uint64_t u) { return Value(Number::from_unsigned(u)); }
Value flt(double d) { return Value(Number::from_float(d)); }

Value obj(std::vector<Object::Member> members) {
  return Value(Object::from_members(std::move(members)));
}

TEST(ValueTest, EqualityKeepsKindsAndNumberFormsApart) {
  struct Case {
    Value a, b;
    bool equal;
  };
  const std::vector<Case> cases = {
      {flt(1.0), uint(1), false},
      {flt(0.0), flt(-0.0), true},
      {uint(0), flt(0.0), false},
      {Value(Number::from_negative(-1)), Value(Number::from_int64(-1)), true},
      {Value(), Value(false), false},
      {Value(true), Value(true), true},
      {str("abc"), str("abc"), true},
      // Short strings are stored inline up to 15 bytes, longer ones apart.
      {str(std::string(40, 'x')), str(std::string(40, 'x')), true},
      {str(std::string(14, 'x')), str(std::string(15, 'x')), false},
      {str(std::string_view("a\0b", 3)), str("a"), false},
      {Value(Array{uint(1), uint(2)}), Value(Array{uint(1), uint(2)}), true},
      {Value(Array{uint(1), uint(2)}), Value(Array{uint(2), uint(1)}), false},
      {obj({{"b", uint(1)}, {"a", uint(2)}}), obj({{"a", uint(2)}, {"b", uint(1)}}), true},
      {obj({{"a", uint(1)}}), obj({{"a", flt(1.0)}}), false},
      {obj({{"a", uint(1)}}), obj({{"a", uint(1)}, {"b", Value()}}), false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].a == cases[i].b, cases[i].equal) << "case " << i;
    EXPECT_EQ(cases[i].b == cases[i].a, cases[i].equal) << "case " << i;
  }
}

// Small and large objects take different sort and search paths, and keys of up to 15 bytes are
// stored differently from longer ones: every combination must order (by bytes, so "B" < "a" <
// "\xe9"), find, replace, insert and erase alike.
TEST(ValueTest, ObjectsOfEverySizeKeepKeysInByteOrder) {
  auto key_of = [](std::size_t i) {
    return std::string(i % 20, "aB~\xe9z"[i % 5]) + std::to_string(i);
  };
  for (std::size_t count : {2u, 9u, 17u, 33u, 80u}) {
    std::vector<Object::Member> members;
    std::vector<std::string> expected;
    for (std::size_t i = count; i-- > 0;) {
      members.push_back({Key(key_of(i)), uint(0)});
      members.push_back({Key(key_of(i)), uint(i)});  // the later duplicate wins
      expected.push_back(key_of(i));
    }
    std::sort(expected.begin(), expected.end());  // char_traits<char> compares as unsigned bytes
    Object o = Object::from_members(std::move(members));
    Object copy = o;
    std::vector<std::string> keys;
    for (const auto& m : copy) keys.emplace_back(m.key.view());
    EXPECT_EQ(keys, expected) << count;
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_NE(o.find(key_of(i)), nullptr) << key_of(i);
      EXPECT_EQ(*o.find(key_of(i)), uint(i));
      EXPECT_EQ(o.find(key_of(i) + "x"), nullptr);
    }
    o.insert_or_assign(expected.back(), str("x"));
    o.insert_or_assign("", Value());
    EXPECT_EQ(o.size(), count + 1);
    EXPECT_EQ(*o.find(expected.back()), str("x"));
    EXPECT_EQ(o.begin()->key, "");
    EXPECT_TRUE(o.erase(expected.front()));
    EXPECT_FALSE(o.erase(expected.front()));
    EXPECT_EQ(o.find(expected.front()), nullptr);
  }
}

TEST(ValueTest, CopiesAreDeepAndMovesLeaveNull) {
  Value original = obj({{"list", Value(Array{str(std::string(30, 'q')), uint(1)})}});
  Value copy = original;
  copy.as_object().find("list")->as_array().push_back(Value(true));
  EXPECT_EQ(original.as_object().find("list")->as_array().size(), 2u);
  EXPECT_FALSE(copy == original);

  Value moved = std::move(copy);
  EXPECT_TRUE(copy.is_null());  // NOLINT: the moved-from state is part of the contract
  EXPECT_EQ(moved.as_object().find("list")->as_array().size(), 3u);
  moved = original;
  EXPECT_EQ(moved, original);
}

TEST(ValueTest, ArraysKeepElementsInOrderThroughGrowthAndHandOver) {
  for (std::size_t n : {0, 1, 4, 5, 100}) {
    Array grown;
    for (std::size_t i = 0; i < n; ++i)
      grown.push_back(i % 2 ? uint(i) : str(std::string(20 + i, 'a')));
    ASSERT_EQ(grown.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(grown[i], i % 2 ? uint(i) : str(std::string(20 + i, 'a'))) << "element " << i;
    }
    Array copy = grown;
    EXPECT_EQ(copy, grown);
    Array moved = std::move(copy);
    EXPECT_TRUE(copy.empty());  // NOLINT: the moved-from state is part of the contract
    std::vector<Value> elements(moved.begin(), moved.end());
    EXPECT_EQ(Array(std::move(elements)), grown);
    Value none[1];
    EXPECT_EQ(Array::from_elements(none, none), Array());
  }
}

TEST(ValueTest, StringsKeepEveryByte) {
  for (std::size_t n : {0, 1, 13, 14, 15, 100}) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 37);
    Value v(s);
    EXPECT_EQ(v.as_string(), s);
    Value c = v;  // NOLINT(performance-unnecessary-copy-initialization): the copy is tested
    EXPECT_EQ(c.as_string(), s);
  }
}

TEST(ValueTest, HeapSizeCountsEveryBlock) {
  EXPECT_EQ(heap_size(Value()), 0u);
  EXPECT_EQ(heap_size(str(std::string(14, 'x'))), 0u) << "inline";
  std::size_t long_string = heap_size(str(std::string(15, 'x')));
  EXPECT_GE(long_string, 15u);

  Object inner;
  inner.insert_or_assign("k", str(std::string(100, 'x')));
  std::size_t one = heap_size(Value(Object(inner)));
  EXPECT_GE(one, 100 + sizeof(Object::Member));
  Object outer;
  outer.insert_or_assign("a", Value(Object(inner)));
  outer.insert_or_assign(std::string(40, 'k'), Value(Array{Value(Object(inner))}));
  // Both copies of inner, the array block, the long key and the outer block.
  EXPECT_GE(heap_size(Value(std::move(outer))),
            2 * one + sizeof(Value) + 40 + 2 * sizeof(Object::Member));
}

}  // namespace
}  // namespace zarvel
