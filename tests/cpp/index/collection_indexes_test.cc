// When a collection builds an index, and when a query may read one: never where skipping a
// document could skip the error a scan would meet there.
#include "index/collection_indexes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "../value/packed_forms.h"

namespace zarvel {
namespace {

using testing::json;
using testing::json_object;

// first, first + step, ... below 2,000.
std::vector<std::uint32_t> every(std::uint32_t first, std::uint32_t step) {
  std::vector<std::uint32_t> positions;
  for (std::uint32_t p = first; p < 2000; p += step) positions.push_back(p);
  return positions;
}

QueryEngine<QueryOperator> engine(const char* query) {
  return QueryEngine<QueryOperator>::build(json_object(query), nullptr).value();
}

// 2,000 documents: "id" the position, "k" its remainder by 100, "n" a number but for a string in
// one document, "m" always a number, "flag" true for half.
Array sample_documents() {
  Array documents;
  for (int i = 0; i < 2000; ++i) {
    std::string n = i == 1500 ? "\"text\"" : std::to_string(i % 7);
    documents.push_back(json(
        "{\"id\": " + std::to_string(i) + ", \"k\": " + std::to_string(i % 100) + ", \"n\": " + n +
        ", \"m\": " + std::to_string(i % 50) + ", \"flag\": " + (i % 2 ? "true" : "false") + "}"));
  }
  return documents;
}

class CollectionIndexesTest : public ::testing::Test {
 protected:
  // Two scans of `query` make its indexes.
  void use_twice(const char* query) {
    for (int i = 0; i < 2; ++i)
      EXPECT_TRUE(indexes_.note_scan(engine(query), documents_.span(), never_interrupted()).ok());
  }
  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (const IndexSummary& index : indexes_.summary()) {
      out.push_back(index.path + (index.kind == IndexKind::kHash ? " hash" : " ordered"));
    }
    return out;
  }

  testing::PackedDocuments documents_{sample_documents()};
  CollectionIndexes indexes_;
};

TEST_F(CollectionIndexesTest, BuildsOnTheSecondUseOfAPath) {
  EXPECT_TRUE(indexes_
                  .note_scan(engine(R"({"id": 5, "m": {"$gte": 1, "$lt": 3}})"), documents_.span(),
                             never_interrupted())
                  .ok());
  EXPECT_TRUE(paths().empty());
  // Both bounds on "m" were one use, not two.
  EXPECT_TRUE(indexes_
                  .note_scan(engine(R"({"id": 6, "m": {"$gt": 1}, "k": {"$ne": 1}})"),
                             documents_.span(), never_interrupted())
                  .ok());
  EXPECT_EQ(paths(), (std::vector<std::string>{"id hash", "m ordered"}));

  // Too small a collection is scanned however often.
  testing::PackedDocuments few(json(R"([{"id": 1}, {"id": 2}])").as_array());
  CollectionIndexes small;
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(small.note_scan(engine(R"({"id": 1})"), few.span(), never_interrupted()).ok());
  EXPECT_TRUE(small.summary().empty());
}

TEST_F(CollectionIndexesTest, KeepsTheMostRecentlyUsed) {
  const char* queries[] = {R"({"id": 1})",        R"({"k": 1})",       R"({"n": 1})",
                           R"({"m": 1})",         R"({"flag": true})", R"({"id": {"$gt": 1}})",
                           R"({"k": {"$gt": 1}})"};
  for (const char* query : queries) use_twice(query);
  std::vector<std::string> kept = paths();
  EXPECT_EQ(kept.size(), CollectionIndexes::kMaxIndexes);
  EXPECT_EQ(std::count(kept.begin(), kept.end(), "id hash"), 0) << "the least recent goes";
}

TEST_F(CollectionIndexesTest, ReadsAnIndexOnlyWhereNoDocumentCouldFail) {
  use_twice(R"({"id": 1, "k": {"$gt": 1}, "n": {"$gt": 1}, "m": {"$gt": 1}})");
  use_twice(R"({"k": 1})");
  struct Case {
    const char* query;
    std::optional<std::vector<std::uint32_t>> candidates;
  };
  const std::vector<Case> cases = {
      {R"({"id": 7})", std::vector<std::uint32_t>{7}},
      {R"({"id": 7.0})", std::vector<std::uint32_t>{}},  // 7.0 is not 7
      {R"({"id": {"$in": [9, 3, 9, "x"]}})", std::vector<std::uint32_t>{3, 9}},
      {R"({"k": {"$gte": 98.5}})", every(99, 100)},
      // A scan meets the string at 1500 and fails: no index may skip it.
      {R"({"n": {"$gt": 5}})", std::nullopt},
      // "m" holds only numbers, and sorts before "n": its index stops the scan before "n" fails.
      {R"({"m": {"$gt": 48}, "n": {"$gt": 5}})", every(49, 50)},
      // "a" has no index to vouch for its values and sorts before "id".
      {R"({"a": {"$gt": 1}, "id": 7})", std::nullopt},
      {R"({"$or": [{"n": {"$lt": 0}}], "id": 7})", std::nullopt},
      {R"({"$or": [{"m": {"$lt": 0}}], "id": 7})", std::vector<std::uint32_t>{7}},
      {R"({"flag": {"$not": {"$gt": 1}}, "k": 3})", std::nullopt},
      // "id" holds only numbers.
      {R"({"id": {"$not": {"$gt": 1}}, "k": 3})", every(3, 100)},
      // An operand that is not a number fails wherever the field is present.
      {R"({"$or": [{"m": {"$gt": "a"}}], "k": 3})", std::nullopt},
      // Unless the condition before it has already turned the document away.
      {R"({"id": 7, "k": {"$gt": "a"}})", std::vector<std::uint32_t>{7}},
      // Half the documents: a scan is cheaper.
      {R"({"k": {"$lt": 50}})", std::nullopt},
      // The narrower of two usable indexes.
      {R"({"id": 7, "k": {"$lt": 10}})", std::vector<std::uint32_t>{7}},
      {R"({"k": {"$lt": 10}, "m": {"$gt": 48.5}})", every(49, 50)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(indexes_.candidates(engine(c.query), documents_.span()), c.candidates) << c.query;
  }
}

TEST_F(CollectionIndexesTest, SortsOnlyWhenEveryDocumentHoldsANumber) {
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(indexes_.sort_index({"m"}, documents_.span(), never_interrupted()).value() != nullptr,
              i == 1);
    EXPECT_EQ(indexes_.sort_index({"n"}, documents_.span(), never_interrupted()).value(), nullptr);
  }
}

}  // namespace
}  // namespace zarvel
