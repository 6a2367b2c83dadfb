#include "value/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zarvel {
namespace {

Value str(std::string_view s) { return Value(s); }
Value uint(std::uint64_t u) { return Value(Number::from_unsigned(u)); }
Value flt(double d) { return Value(Number::from_float(d)); }

Value obj(std::vector<Object::Member> members) { return Value(Object::from_members(std::move(members))); }

TEST(ValueTest, EqualityKeepsKindsAndNumberFormsApart) {
  struct Case {
    Value a, b;
    bool equal;
  };
  std::vector<Case> cases;
  cases.push_back({flt(1.0), uint(1), false});
  cases.push_back({flt(0.0), flt(-0.0), true});
  cases.push_back({uint(0), flt(0.0), false});
  cases.push_back({Value(Number::from_negative(-1)), Value(Number::from_int64(-1)), true});
  cases.push_back({Value(), Value(false), false});
  cases.push_back({Value(true), Value(true), true});
  cases.push_back({str("abc"), str("abc"), true});
  cases.push_back({str(std::string(40, 'x')), str(std::string(40, 'x')), true});
  cases.push_back({str(std::string(14, 'x')), str(std::string(15, 'x')), false});
  cases.push_back({str(std::string_view("a\0b", 3)), str("a"), false});
  cases.push_back({Value(Array{uint(1), uint(2)}), Value(Array{uint(1), uint(2)}), true});
  cases.push_back({Value(Array{uint(1), uint(2)}), Value(Array{uint(2), uint(1)}), false});
  cases.push_back({obj({{"b", uint(1)}, {"a", uint(2)}}), obj({{"a", uint(2)}, {"b", uint(1)}}), true});
  cases.push_back({obj({{"a", uint(1)}}), obj({{"a", flt(1.0)}}), false});
  cases.push_back({obj({{"a", uint(1)}}), obj({{"a", uint(1)}, {"b", Value()}}), false});
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].a == cases[i].b, cases[i].equal) << "case " << i;
    EXPECT_EQ(cases[i].b == cases[i].a, cases[i].equal) << "case " << i;
  }
}

TEST(ValueTest, ObjectKeepsKeysInByteOrderAndLastDuplicateWins) {
  Object o = Object::from_members({{"b", uint(1)}, {"a", uint(2)}, {"B", uint(3)}, {"é", uint(4)},
                                   {"z", uint(5)}, {"ab", uint(6)}, {"a", uint(7)}});
  std::vector<std::string> keys;
  for (const auto& m : o) keys.emplace_back(m.key.view());
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "ab", "b", "z", "é"}));
  EXPECT_EQ(*o.find("a"), uint(7));

  o.insert_or_assign("a", str("x"));
  o.insert_or_assign("0", Value());
  EXPECT_EQ(o.size(), 7u);
  EXPECT_EQ(*o.find("a"), str("x"));
  EXPECT_EQ(o.begin()->key, "0");
  EXPECT_TRUE(o.erase("ab"));
  EXPECT_FALSE(o.erase("ab"));
  EXPECT_EQ(o.find("ab"), nullptr);
}

// Small and large objects take different sort and search paths, and keys of up to 15 bytes are
// stored differently from longer ones: every combination must order and find alike.
TEST(ValueTest, ObjectsOfEverySizeSortAndFindKeysOfEveryLength) {
  for (std::size_t count : {2u, 9u, 17u, 33u, 80u}) {
    std::vector<Object::Member> members;
    std::vector<std::string> expected;
    for (std::size_t i = count; i-- > 0;) {
      std::string key = std::string(i % 20, static_cast<char>('a' + i % 7)) + std::to_string(i);
      members.push_back({Key(key), uint(0)});
      members.push_back({Key(key), uint(i)});  // the later duplicate wins
      expected.push_back(key);
    }
    std::sort(expected.begin(), expected.end());
    Object o = Object::from_members(std::move(members));
    Object copy = o;
    std::vector<std::string> keys;
    for (const auto& m : copy) keys.emplace_back(m.key.view());
    EXPECT_EQ(keys, expected) << count;
    for (std::size_t i = 0; i < count; ++i) {
      std::string key = std::string(i % 20, static_cast<char>('a' + i % 7)) + std::to_string(i);
      ASSERT_NE(o.find(key), nullptr) << key;
      EXPECT_EQ(*o.find(key), uint(i));
      EXPECT_EQ(o.find(key + "x"), nullptr);
    }
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

TEST(ValueTest, GetFindsMembersOfObjectsOnly) {
  Value o = obj({{"a", uint(1)}});
  ASSERT_NE(get(o, "a"), nullptr);
  EXPECT_EQ(*get(o, "a"), uint(1));
  EXPECT_EQ(get(o, "b"), nullptr);
  for (const Value& other : {Value(Array{uint(1)}), str("a"), Value(), uint(1)}) {
    EXPECT_EQ(get(other, "a"), nullptr);
  }
}

TEST(ValueTest, StringsKeepEveryByte) {
  for (std::size_t n : {0, 1, 13, 14, 15, 100}) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 37);
    Value v(s);
    EXPECT_EQ(v.as_string(), s);
    Value c = v;
    EXPECT_EQ(c.as_string(), s);
  }
}

}  // namespace
}  // namespace zarvel
