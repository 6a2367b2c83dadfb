// A store that builds and uses automatic indexes against the same store scanning every time: the
// same random operations must give the same answers, in the same order, and the same errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "lib/store.h"
#include "value/json_writer.h"

namespace zarvel {
namespace {

using testing::json;
using testing::json_object;

// Random JSON text whose values mix on every path the queries test: 1 and 1.0, 0.0 and -0.0,
// integers past 2**53 that round to one double, and now and then a string or null where ranges
// look, so that indexes are made unusable and usable again as documents change.
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : rng_(seed) {}

  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }
  bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  template <class T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

  std::string number() {
    static const std::vector<std::string> kSpecial = {"0.0",
                                                      "-0.0",
                                                      "0",
                                                      "9007199254740992",
                                                      "9007199254740993",
                                                      "9007199254740992.0",
                                                      "-9007199254740993",
                                                      "1e300",
                                                      "-2.5"};
    switch (below(6)) {
      case 0:
        return std::to_string(below(20)) + ".0";
      case 1:
        return pick(kSpecial);
      case 2:
        return "-" + std::to_string(below(5) + 1);
      default:
        return std::to_string(below(20));
    }
  }
  std::string scalar() {
    switch (below(12)) {
      case 0:
        return "\"s" + std::to_string(below(3)) + "\"";
      case 1:
        return "null";
      case 2:
        return "true";
      default:
        return number();
    }
  }
  // Half the time one of the ids last written, so that lookups find what inserts and updates
  // just changed.
  std::string id() {
    std::string id = !recent_.empty() && chance(0.5) ? pick(recent_) : std::to_string(below(kIds));
    return chance(0.1) ? id + ".0" : id;
  }
  std::string new_id() {
    std::string id = std::to_string(below(kIds));
    recent_[below(recent_.size())] = id;
    return id;
  }

  std::string document() {
    // "s" is a number in every document unless an update makes it otherwise, so that sorting by
    // it can read an index.
    std::string text = "{\"id\": " + new_id();
    text += ", \"s\": " + number();
    if (chance(0.9)) text += ", \"k\": " + (chance(0.9) ? number() : scalar());
    if (chance(0.95)) text += ", \"n\": " + (chance(0.995) ? number() : scalar());
    if (chance(0.8)) text += ", \"g\": {\"c\": \"c" + std::to_string(below(40)) + "\"}";
    if (chance(0.05)) text += ", \"g\": \"flat\"";
    if (chance(0.3)) text += ", \"a\": " + (chance(0.98) ? number() : scalar());
    if (chance(0.3)) text += ", \"t\": [" + number() + ", " + scalar() + "]";
    return text + "}";
  }
  std::string documents(std::size_t count) {
    std::string text = "[";
    for (std::size_t i = 0; i < count; ++i) text += (i ? ", " : "") + document();
    return text + "]";
  }

  // Mostly paths of at most six indexes, the bound, so that indexes live long enough to be kept
  // current through many changes; now and then others, which evict one.
  std::string query() {
    if (chance(0.05)) {
      switch (below(3)) {
        case 0:
          // "a" sorts before "id": its range may fail where the id index would skip.
          return "{\"a\": {\"$gt\": " + number() + "}, \"id\": " + id() + "}";
        case 1:
          return "{\"g.c\": \"c" + std::to_string(below(40)) + "\"}";
        default:
          return "{\"a\": {\"$elemMatch\": {\"$gt\": 1}}, \"g.c\": \"c" +
                 std::to_string(below(40)) + "\"}";
      }
    }
    switch (below(11)) {
      case 0:
      case 1:
      case 2:
        return "{\"id\": " + id() + "}";
      case 3:
        return "{\"id\": {\"$in\": [" + id() + ", " + id() + ", " + id() + ", " + scalar() + "]}}";
      case 4:
        return "{\"k\": " + scalar() + "}";
      case 5:
        return "{\"k\": {\"$gte\": " + number() + ", \"$lt\": " + number() + "}}";
      case 6:
        return "{\"n\": {\"$gt\": " + (chance(0.97) ? number() : scalar()) + "}}";
      case 7:
        return "{\"k\": " + number() + ", \"n\": {\"$lte\": " + number() + "}}";
      case 8:
        return "{\"$or\": [{\"n\": {\"$gt\": " + number() + "}}, {\"k\": " + scalar() +
               "}], \"id\": " + id() + "}";
      case 9:
        return "{\"id\": {\"$gte\": " + id() + ", \"$lte\": " + id() + "}}";
      default:
        return "{\"k\": {\"$not\": {\"$gt\": " + number() + "}}, \"n\": " + number() + "}";
    }
  }
  std::string update() {
    switch (below(7)) {
      case 6:
        return "{\"s\": {\"$set\": " + (chance(0.9) ? number() : scalar()) + "}}";
      case 0:
        return "{\"k\": {\"$set\": " + scalar() + "}}";
      case 1:
        return "{\"n\": {\"$inc\": 1}}";
      case 2:
        return "{\"n\": {\"$set\": " + (chance(0.8) ? number() : scalar()) + "}}";
      case 3:
        return "{\"g\": {\"$set\": {\"c\": \"c" + std::to_string(below(40)) + "\"}}}";
      case 4:
        return "{\"id\": {\"$set\": " + new_id() + "}, \"k\": {\"$delete\": 1}}";
      default:
        return "{\"a\": {\"$add\": 2}, \"t\": {\"$push\": " + number() + "}}";
    }
  }

 private:
  static constexpr std::size_t kIds = 3000;
  std::mt19937_64 rng_;
  std::vector<std::string> recent_ = std::vector<std::string>(16, "0");
};

// What an operation answered: the documents in order, a count, or the error.
std::string outcome(const Status& status) {
  return "error " + std::to_string(static_cast<int>(status.kind())) + ": " + status.message();
}

std::string documents_text(const Store::Found& found) {
  const DocumentList& documents = found.collection->documents;
  std::string text;
  auto add = [&](PackedValue document) { text += to_json(document) + "\n"; };
  if (!found.answer) {
    for (PackedValue document : documents.all()) add(document);
  } else {
    for (std::uint32_t position : found.answer->positions) add(documents[position]);
  }
  return text;
}

class StoreIndexDifferentialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zarvel-index-differential-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    parent_ = pattern;
    Result<Store> indexed = Store::open(parent_ + "/indexed");
    ASSERT_TRUE(indexed.ok());
    indexed_.emplace(std::move(indexed).value());
    Result<Store> scanning = Store::open(parent_ + "/scanning");
    ASSERT_TRUE(scanning.ok());
    scanning_.emplace(std::move(scanning).value());
    scanning_->set_automatic_indexes(false);
  }
  void TearDown() override {
    (void)indexed_->drop_all();
    (void)scanning_->drop_all();
    rmdir(parent_.c_str());
  }

  // Runs `operation` on both stores; what they answered must agree. A failure shows the first
  // line that differs, not whole collections.
  template <class Operation>
  void same(const std::string& what, Operation operation) {
    std::string indexed = operation(*indexed_);
    std::string scanning = operation(*scanning_);
    if (indexed == scanning) return;
    std::size_t at =
        std::mismatch(indexed.begin(), indexed.end(), scanning.begin(), scanning.end()).first -
        indexed.begin();
    std::size_t line = indexed.rfind('\n', at == 0 ? 0 : at - 1);
    line = line == std::string::npos ? 0 : line + 1;
    auto line_at = [line](const std::string& text) {
      return text.substr(line, text.find('\n', line) - line);
    };
    FAIL() << what << "\nindexed:  " << line_at(indexed) << "\nscanning: " << line_at(scanning)
           << "\n(" << std::count(indexed.begin(), indexed.end(), '\n') << " and "
           << std::count(scanning.begin(), scanning.end(), '\n') << " lines)";
  }

  std::string parent_;
  std::optional<Store> indexed_;
  std::optional<Store> scanning_;
};

TEST_F(StoreIndexDifferentialTest, AnswersAndErrorsMatchTheScan) {
  Draw draw(20261208);
  const std::string name = "c";
  auto insert = [&](const std::string& documents) {
    same("insert " + documents, [&](Store& store) {
      PackedBuffer buffer;
      pack(json(documents), buffer);
      Status inserted = store.insert_in_collection(name, std::move(buffer));
      return inserted.ok() ? std::string("ok") : outcome(inserted);
    });
  };
  insert(draw.documents(1500));
  std::size_t most_indexes = 0;
  bool saw_hash = false;
  bool saw_ordered = false;
  for (int step = 0; step < 6000; ++step) {
    std::size_t kind = draw.below(100);
    if (kind < 45) {
      std::string query = draw.query();
      FindOptions options;
      if (draw.chance(0.2)) options.limit = draw.below(5);
      if (draw.chance(0.25)) {
        static const std::vector<std::string> kSortPaths = {"n", "k", "id", "s", "s"};
        options.sort.push_back(SortKey{{draw.pick(kSortPaths)}, draw.chance(0.5)});
        options.skip = draw.below(3);
      }
      bool with_query = !options.sort.empty() ? draw.chance(0.5) : true;
      Object object = json_object(query);
      std::string shown = "find " + (with_query ? query : "all");
      if (!options.sort.empty()) {
        shown += " sorted by " + options.sort.front().path.front() +
                 (options.sort.front().descending ? " descending" : "") + " skipping " +
                 std::to_string(options.skip);
      }
      if (options.limit) shown += " limit " + std::to_string(*options.limit);
      same(shown, [&](Store& store) {
        Result<Store::Found> found = store.find(name, with_query ? &object : nullptr, options);
        return found.ok() ? documents_text(found.value()) : outcome(found.status());
      });
    } else if (kind < 55) {
      std::string query = draw.query();
      Object object = json_object(query);
      same("count " + query, [&](Store& store) {
        Result<std::size_t> counted = store.count(name, &object);
        return counted.ok() ? std::to_string(counted.value()) : outcome(counted.status());
      });
    } else if (kind < 67) {
      // Now and then a batch large enough to be taken whole as a chunk of its own.
      std::size_t batch = draw.chance(0.03) ? 1000 : draw.below(40) + 1;
      insert(draw.chance(0.7) ? draw.document() : draw.documents(batch));
    } else if (kind < 74) {
      std::string query = draw.below(3) == 0 ? draw.query() : "{\"id\": " + draw.id() + "}";
      Object object = json_object(query);
      same("delete " + query, [&](Store& store) {
        Result<std::size_t> removed = store.delete_matching(name, object);
        return removed.ok() ? std::to_string(removed.value()) : outcome(removed.status());
      });
    } else if (kind < 92) {
      std::string update = draw.update();
      std::string query = draw.below(4) == 0 ? draw.query() : "{\"id\": " + draw.id() + "}";
      Object update_object = json_object(update);
      Object query_object = json_object(query);
      same("update " + update + " where " + query, [&](Store& store) {
        Result<SharedCollection> updated =
            store.update(name, update_object, &query_object, [](std::string_view) {});
        return updated.ok() ? std::string("ok") : outcome(updated.status());
      });
    } else if (kind < 97) {
      indexed_->clear_cache();
      scanning_->clear_cache();
    } else if (kind < 99) {
      // The collection as its file holds it, read back; the indexes start over.
      same("reload", [&](Store& store) {
        Status written = store.write(name);
        Status loaded = written.ok() ? store.update_in_memory_collections(name) : written;
        return loaded.ok() ? std::string("ok") : outcome(loaded);
      });
    } else {
      same("drop", [&](Store& store) {
        Status dropped = store.drop_collection(name);
        return dropped.ok() ? std::string("ok") : outcome(dropped);
      });
      insert(draw.documents(1200));
    }
    if (HasFatalFailure()) return;
    std::vector<IndexSummary> indexes = indexed_->index_summary(name);
    most_indexes = std::max(most_indexes, indexes.size());
    for (const IndexSummary& index : indexes) {
      (index.kind == IndexKind::kHash ? saw_hash : saw_ordered) = true;
    }
    if (step % 200 == 0) {
      same("whole collection",
           [&](Store& store) { return documents_text(store.find(name, nullptr).value()); });
    }
  }
  // Not vacuous: indexes of both kinds were built, up to the bound.
  EXPECT_TRUE(saw_hash);
  EXPECT_TRUE(saw_ordered);
  EXPECT_EQ(most_indexes, CollectionIndexes::kMaxIndexes);
}

}  // namespace
}  // namespace zarvel
