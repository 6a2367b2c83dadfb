#include "lib/find_options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "../value/packed_forms.h"
#include "lib/dotted_path.h"
#include "lib/projection.h"

namespace zarvel {
namespace {

using testing::json;
using testing::show;

SortKey key(const char* path, bool descending = false) {
  return SortKey{split_dotted_path(path), descending};
}

TEST(FindOptionsTest, SelectsPositionsBySortSkipAndLimit) {
  // Positions:            0          1          2           3         4       5     6
  const Array documents =
      json(R"([{"n": 2}, {"n": 1.0}, {"m": 0}, {"n": 1}, {"n": "x"}, 7, {"n": {"a": 1}, "k": 1}])")
          .as_array();
  const testing::PackedDocuments packed(documents);
  struct Case {
    const char* name;
    std::vector<SortKey> sort;
    std::size_t skip;
    std::optional<std::size_t> limit;
    std::optional<std::vector<std::uint32_t>> candidates;
    std::vector<std::uint32_t> expected;
  };
  const std::vector<Case> cases = {
      {"nothing asked", {}, 0, std::nullopt, std::nullopt, {0, 1, 2, 3, 4, 5, 6}},
      {"skip and limit in stored order", {}, 2, 3, std::nullopt, {2, 3, 4}},
      {"limit past the end", {}, 5, 10, std::nullopt, {5, 6}},
      {"skip past the end", {}, 9, std::nullopt, std::nullopt, {}},
      {"limit 0", {key("n")}, 0, 0, std::nullopt, {}},
      {"candidates only", {}, 1, 2, std::vector<std::uint32_t>{1, 3, 6}, {3, 6}},
      // Missing (and the non-object 5) first; 1.0 and 1 tie and keep stored order.
      {"ascending", {key("n")}, 0, std::nullopt, std::nullopt, {2, 5, 1, 3, 0, 4, 6}},
      {"descending keeps ties in stored order",
       {key("n", true)},
       0,
       std::nullopt,
       std::nullopt,
       {6, 4, 0, 1, 3, 2, 5}},
      {"bounded selection", {key("n")}, 1, 3, std::nullopt, {5, 1, 3}},
      {"bounded selection descending", {key("n", true)}, 0, 2, std::nullopt, {6, 4}},
      {"second key breaks ties",
       {key("n"), key("k", true)},
       0,
       2,
       std::vector<std::uint32_t>{2, 5, 6},
       {2, 5}},
      {"sorted candidates",
       {key("n", true)},
       0,
       std::nullopt,
       std::vector<std::uint32_t>{1, 2, 3},
       {1, 3, 2}},
      {"dotted path", {key("n.a", true)}, 0, 1, std::nullopt, {6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FindOptions options;
    options.sort = c.sort;
    options.skip = c.skip;
    options.limit = c.limit;
    const std::vector<std::uint32_t>* candidates = c.candidates ? &*c.candidates : nullptr;
    EXPECT_EQ(select_positions(documents, candidates, options), c.expected);
    EXPECT_EQ(select_positions(packed.span(), candidates, options), c.expected) << "packed";
  }
}

TEST(ProjectionTest, KeepsTheNamedPathsNested) {
  const char* document =
      R"({"name": "Ann", "address": {"city": "Lyon", "zip": "1", "geo": {"lat": 1}},
          "tags": [{"a": 1}], "n": null, "": {"": 2}})";
  struct Case {
    std::vector<std::string> paths;
    const char* expected;
  };
  const Case cases[] = {
      {{}, "{}"},
      {{"name", "address.city"}, R"({"address": {"city": "Lyon"}, "name": "Ann"})"},
      {{"address.geo.lat", "address.zip"}, R"({"address": {"geo": {"lat": 1}, "zip": "1"}})"},
      {{"address", "address.city"},
       R"({"address": {"city": "Lyon", "zip": "1", "geo": {"lat": 1}}})"},
      {{"address.city", "address"},
       R"({"address": {"city": "Lyon", "zip": "1", "geo": {"lat": 1}}})"},
      {{"tags.a", "name.x", "missing", "address.none"}, "{}"},
      {{"."}, R"({"": {"": 2}})"},
  };
  for (const Case& c : cases) {
    Projection projection(c.paths);
    testing::in_both_forms(json(document), [&](const auto& doc) {
      EXPECT_EQ(show(projection.apply(doc)), show(json(c.expected)))
          << ::testing::PrintToString(c.paths);
    });
  }
  testing::in_both_forms(json("[1, 2]"), [](const auto& doc) {
    EXPECT_EQ(show(Projection({"a"}).apply(doc)), "[1,2]");
  });
}

}  // namespace
}  // namespace zarvel
