#include "lib/query_key.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "lib/siphash.h"

namespace zarvel {
namespace {

using testing::json_object;

// The expected hash stream, written out by hand.
struct Stream {
  std::vector<std::uint8_t> bytes;
  Stream& u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  Stream& u8(std::uint8_t b) {
    bytes.push_back(b);
    return *this;
  }
  Stream& str(std::string_view s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return u8(0xFF);
  }
  std::uint64_t hash() const {
    SipHasher13 h(0, 0);
    h.write(bytes.data(), bytes.size());
    return h.finish();
  }
};

TEST(QueryKeyTest, HashesTheCollectionNameThenTheQueryStream) {
  Stream empty;
  empty.str("c").u64(0);
  EXPECT_EQ(query_key("c", Object()), empty.hash());

  // Members in key order; kinds and counts as 8 bytes, booleans as one.
  Stream s;
  s.str("users").u64(3);
  s.str("a").u64(4).u64(5);
  s.u64(1).u8(1);
  s.u64(0);
  s.u64(2).u64(static_cast<std::uint64_t>(std::int64_t{-2}));
  s.u64(3).str("s");
  s.u64(5).u64(1).str("k").u64(2).u64(std::bit_cast<std::uint64_t>(1.5));
  s.str("b").u64(2).u64(0);
  s.str("c").u64(2).u64(7);
  EXPECT_EQ(
      query_key("users",
                json_object(R"({"c": 7, "b": -0.0, "a": [true, null, -2, "s", {"k": 1.5}]})")),
      s.hash());
}

TEST(QueryKeyTest, EqualQueriesShareAKeyAndFormsSplitIt) {
  struct Case {
    const char* collection_a;
    const char* query_a;
    const char* collection_b;
    const char* query_b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"c", R"({"a": 1, "b": 2})", "c", R"({"b": 2, "a": 1})", true},
      {"c", R"({"a": 1})", "c", R"({"a": 1.0})", false},
      {"c", R"({"a": 0.0})", "c", R"({"a": -0.0})", true},
      {"c", R"({"a": 0})", "c", R"({"a": 0.0})", true},  // a known collision
      {"c", R"({"a": 1})", "d", R"({"a": 1})", false},
      {"c", R"({"a": false})", "c", R"({"a": null})", false},
      {"c", R"({"a": "x"})", "c", R"({"a": ["x"]})", false},
      {"c", R"({"a": {"b": 1}})", "c", R"({"a.b": 1})", false},
      {"c", R"({"ab": "c"})", "c", R"({"a": "bc"})", false},
      {"", R"({"a": 1})", "c", R"({"a": 1})", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.query_a) + " vs " + c.query_b);
    EXPECT_EQ(query_key(c.collection_a, json_object(c.query_a)) ==
                  query_key(c.collection_b, json_object(c.query_b)),
              c.same);
  }
}

}  // namespace
}  // namespace zarvel
