#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "documents_literal.h"
#include "lib/store.h"

// Every allocation of the test program comes here, so that a test can make one fail as memory
// running out would. All the forms that allocate with malloc are replaced together, so that each
// block is freed by the allocator that made it (the sanitizers check).
namespace {
std::atomic<long> allocations_left{-1};  // those that may still succeed; -1 for no limit

void* allocate(std::size_t size) noexcept {
  long left = allocations_left.load();
  if (left == 0) return nullptr;
  if (left > 0) allocations_left.store(left - 1);
  return std::malloc(size == 0 ? 1 : size);
}

void* allocate_or_throw(std::size_t size) {
  if (void* memory = allocate(size)) return memory;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate_or_throw(size); }
void* operator new[](std::size_t size) { return allocate_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
// Once inlined into the destructors of std::variant and std::string, free() is followed onto a path
// that never runs, and GCC 12 warns of freeing an object that was never allocated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace zarvel {
namespace {

using testing::json;
using testing::json_object;
using testing::show;

// Lets `count` more allocations succeed while it lives, then fails the next.
class AllocationLimit {
 public:
  explicit AllocationLimit(long count) { allocations_left.store(count); }
  AllocationLimit(const AllocationLimit&) = delete;
  AllocationLimit& operator=(const AllocationLimit&) = delete;
  ~AllocationLimit() { allocations_left.store(-1); }
};

class StoreUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zarvel-store-update-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    parent_ = pattern;
    Result<Store> opened = Store::open(parent_ + "/db");
    ASSERT_TRUE(opened.ok());
    store_.emplace(std::move(opened).value());
  }
  void TearDown() override {
    store_.reset();
    rmdir((parent_ + "/db").c_str());
    rmdir(parent_.c_str());
  }

  std::string parent_;
  std::optional<Store> store_;
};

// Memory runs out at each allocation in turn: the update either changes every document it should
// or none. Operands long enough to be copied to the heap, and paths that exist only once an
// earlier Set has made them, are what may allocate.
TEST_F(StoreUpdateTest, IsAllOrNothingWhenMemoryRunsOut) {
  struct Case {
    const char* update;
    const char* query;  // null for none
    const char* after;
  };
  const char* before = R"([{"a": 1, "s": "s"}, {"a": {"b": 0}}, {"x": 1}, {"a": [1], "n": 2}])";
  const std::vector<Case> cases = {
      {R"({"s": "a long string, held apart", "n": {"$inc": 0}, "x": {"$delete": 1}})", nullptr,
       R"([{"a": 1, "s": "a long string, held apart"}, {"a": {"b": 0}}, {}, {"a": [1], "n": 3.0}])"},
      {R"({"a": {"$set": {"b": {"c": 0}}}, "a.b.c": {"$set": [[1], {"k": []}]}})",
       R"({"a": {"$ne": 1}})",
       R"([{"a": 1, "s": "s"}, {"a": {"b": {"c": [[1], {"k": []}]}}}, {"x": 1},
           {"a": {"b": {"c": [[1], {"k": []}]}}, "n": 2}])"},
      // "a" sorts first: "a.b" then resolves in every document that has "a".
      {R"({"a.b": {"$set": {"d": [1]}}, "a": {"$set": {"b": 0}}})", nullptr,
       R"([{"a": {"b": {"d": [1]}}, "s": "s"}, {"a": {"b": {"d": [1]}}}, {"x": 1},
           {"a": {"b": {"d": [1]}}, "n": 2}])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.update);
    auto update = QueryEngine<UpdateOperator>::build(json_object(c.update), nullptr);
    ASSERT_TRUE(update.ok());
    std::optional<QueryEngine<QueryOperator>> query;
    if (c.query != nullptr) {
      query.emplace(QueryEngine<QueryOperator>::build(json_object(c.query), nullptr).value());
    }
    Collection collection;
    collection.documents = testing::document_list(json(before));
    bool done = false;
    for (long allowed = 0; !done; ++allowed) {
      try {
        AllocationLimit limit(allowed);
        done = store_->update_documents("c", collection, update.value(), query ? &*query : nullptr)
                   .ok();
        ASSERT_TRUE(done);
      } catch (const std::bad_alloc&) {
        ASSERT_EQ(show(Value(testing::array_of(collection.documents))), show(json(before)))
            << "after " << allowed << " allocations";
      }
    }
    EXPECT_EQ(show(Value(testing::array_of(collection.documents))), show(json(c.after)));
  }
}

// The same with indexes on the paths the update reads and changes: whatever allocation fails,
// the indexes still give every document that matches, changed or not.
TEST_F(StoreUpdateTest, IndexesStayTrueWhenMemoryRunsOut) {
  std::string before = "[";
  for (int i = 0; i < 1200; ++i) {
    before += (i ? ", {\"id\": " : "{\"id\": ") + std::to_string(i) +
              ", \"n\": " + std::to_string(i % 10) + ", \"s\": \"s\"}";
  }
  before += "]";
  auto engine = [](const char* text) {
    return QueryEngine<QueryOperator>::build(json_object(text), nullptr).value();
  };
  const char* probes[] = {R"({"id": 5})", R"({"id": 7000})", R"({"n": 100})",
                          R"({"n": {"$gte": 5, "$lt": 6}})"};
  for (
      const char* update_text :
      {R"({"id": {"$set": 7000}, "n": {"$set": 100}})",
       R"({"id": {"$set": 7000}, "n": {"$set": 100}, "s": "a string long enough to be held apart"})"}) {
    SCOPED_TRACE(update_text);
    auto update = QueryEngine<UpdateOperator>::build(json_object(update_text), nullptr).value();
    auto query = engine(R"({"id": {"$in": [5, 6]}})");
    bool done = false;
    for (long allowed = 0; !done; ++allowed) {
      // Each attempt on a fresh collection, so that indexes a failure dropped do not hide the
      // next.
      Collection collection;
      collection.documents = testing::document_list(json(before));
      for (const char* probe : probes) {
        for (int use = 0; use < 2; ++use) {
          (void)collection.indexes.note_scan(engine(probe), collection.documents.all(),
                                             never_interrupted());
        }
      }
      ASSERT_EQ(collection.indexes.summary().size(), 3u);
      try {
        AllocationLimit limit(allowed);
        done = store_->update_documents("c", collection, update, &query).ok();
      } catch (const std::bad_alloc&) {
      }
      for (const char* probe : probes) {
        auto probe_engine = engine(probe);
        std::vector<std::uint32_t> scanned;
        ASSERT_TRUE(scan_matches(probe_engine, collection.documents.all(), kNoStop, scanned).ok());
        if (auto candidates =
                collection.indexes.candidates(probe_engine, collection.documents.all())) {
          std::vector<std::uint32_t> found;
          ASSERT_TRUE(
              scan_candidates(probe_engine, collection.documents.all(), *candidates, kNoStop, found)
                  .ok());
          ASSERT_EQ(found, scanned) << probe << " after " << allowed << " allocations";
        }
      }
    }
  }
}

}  // namespace
}  // namespace zarvel
