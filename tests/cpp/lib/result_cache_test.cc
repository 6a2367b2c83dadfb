#include "lib/result_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../query/json_literal.h"

namespace zarvel {
namespace {

using testing::json_object;

SharedAnswer answer_of(std::vector<std::uint32_t> positions) {
  auto answer = std::make_shared<QueryAnswer>();
  answer->positions = std::move(positions);
  return answer;
}

Object numbered(int i) {
  Object o;
  o.insert_or_assign("i", Value(Number::from_int64(i)));
  return o;
}

TEST(ResultCacheTest, HitsOnlyTheSameCollectionAndQuery) {
  ResultCache cache;
  SharedAnswer answer = answer_of({0});
  cache.put("c", json_object(R"({"a": 1, "b": 2})"), answer);
  EXPECT_EQ(cache.get("c", json_object(R"({"b": 2, "a": 1})")), answer);
  for (const char* other : {R"({"a": 1.0, "b": 2})", R"({"a": 1})"}) {
    EXPECT_EQ(cache.get("c", json_object(other)), nullptr) << other;
  }
  EXPECT_EQ(cache.get("d", json_object(R"({"a": 1, "b": 2})")), nullptr);

  // {"a": 0} and {"a": 0.0} hash alike but are different queries; -0.0 equals 0.0, so is the same.
  cache.clear();
  SharedAnswer floating = answer_of({1});
  cache.put("c", json_object(R"({"a": 0})"), answer);
  EXPECT_EQ(cache.get("c", json_object(R"({"a": 0.0})")), nullptr);
  cache.put("c", json_object(R"({"a": 0.0})"), floating);
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.get("c", json_object(R"({"a": 0})")), nullptr);
  EXPECT_EQ(cache.get("c", json_object(R"({"a": -0.0})")), floating);
}

TEST(ResultCacheTest, EvictsTheLeastRecentlyUsed) {
  struct Case {
    const char* name;
    std::vector<int> touched;  // queries hit after the first 100 puts, in order
    int put_again;             // a query put again instead, or -1
    int evicted;               // the query gone after the 101st put
  };
  const std::vector<Case> cases = {
      {"no hits", {}, -1, 0},
      {"a hit promotes the oldest", {0}, -1, 1},
      {"hits promote in order", {0, 1, 2}, -1, 3},
      {"a put of a present key replaces its answer and promotes", {}, 0, 1},
      {"a miss promotes nothing", {1000}, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResultCache cache;
    for (int i = 0; i < 100; ++i) cache.put("c", numbered(i), answer_of({}));
    for (int i : c.touched) (void)cache.get("c", numbered(i));
    SharedAnswer again = answer_of({1});
    if (c.put_again >= 0) cache.put("c", numbered(c.put_again), again);
    EXPECT_EQ(cache.size(), 100u);

    cache.put("c", numbered(100), answer_of({}));
    EXPECT_EQ(cache.size(), 100u);
    for (int i = 0; i <= 100; ++i) {
      EXPECT_EQ(cache.get("c", numbered(i)) == nullptr, i == c.evicted) << "query " << i;
    }
    if (c.put_again >= 0) {
      EXPECT_EQ(cache.get("c", numbered(c.put_again)), again);
    }
  }
}

TEST(ResultCacheTest, InvalidateDropsOnlyThatCollection) {
  ResultCache cache(4);
  for (int i = 0; i < 2; ++i) {
    cache.put("a", numbered(i), answer_of({}));
    cache.put("b", numbered(i), answer_of({}));
  }
  cache.invalidate("a");
  cache.invalidate("missing");
  EXPECT_EQ(cache.size(), 2u);
  for (int i : {0, 1}) {
    EXPECT_EQ(cache.get("a", numbered(i)), nullptr);
    EXPECT_NE(cache.get("b", numbered(i)), nullptr);
  }

  // The freed room is used before anything is evicted.
  cache.put("a", numbered(5), answer_of({}));
  cache.put("a", numbered(6), answer_of({}));
  EXPECT_EQ(cache.size(), 4u);
  EXPECT_NE(cache.get("b", numbered(0)), nullptr);
  cache.put("a", numbered(7), answer_of({}));
  EXPECT_EQ(cache.get("b", numbered(1)), nullptr);
}

TEST(ResultCacheTest, HoldersKeepAnswersTheCacheDrops) {
  ResultCache cache(1);
  cache.put("c", numbered(1), answer_of({7}));
  SharedAnswer held = cache.get("c", numbered(1));
  cache.clear();
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_EQ(cache.bytes(), 0u);
  EXPECT_EQ(cache.get("c", numbered(1)), nullptr);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->positions, std::vector<std::uint32_t>{7});

  ResultCache none(0);
  none.put("c", numbered(1), held);
  EXPECT_EQ(none.size(), 0u);
  EXPECT_EQ(none.get("c", numbered(1)), nullptr);
}

TEST(ResultCacheTest, BoundsTheBytesItHolds) {
  // Each answer of 1,000 positions holds about 4 KB: three fit in 16 KB, a fourth evicts the
  // least recently used, and one of 10,000 positions is returned to its caller but never stored.
  ResultCache cache(kCacheCapacity, std::size_t{16} * 1024);
  std::vector<std::uint32_t> thousand(1000);
  for (int i = 0; i < 3; ++i) cache.put("c", numbered(i), answer_of(thousand));
  EXPECT_EQ(cache.size(), 3u);
  (void)cache.get("c", numbered(0));
  cache.put("c", numbered(3), answer_of(thousand));
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.get("c", numbered(1)), nullptr);
  EXPECT_NE(cache.get("c", numbered(0)), nullptr);
  EXPECT_LE(cache.bytes(), cache.byte_capacity());

  cache.put("c", numbered(0), answer_of(std::vector<std::uint32_t>(10000)));
  EXPECT_EQ(cache.get("c", numbered(0)), nullptr)
      << "an oversized answer replaces none and is not kept";
  EXPECT_EQ(cache.size(), 2u);

  // Large query operands count too.
  Object big;
  big.insert_or_assign("s", Value(std::string(20000, 'x')));
  cache.put("c", big, answer_of({}));
  EXPECT_EQ(cache.get("c", big), nullptr);

  cache.invalidate("c");
  EXPECT_EQ(cache.bytes(), 0u);
}

}  // namespace
}  // namespace zarvel
