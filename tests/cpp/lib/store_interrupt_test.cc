#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "base/interrupt.h"
#include "documents_literal.h"
#include "lib/store.h"
#include "value/json_writer.h"

namespace zarvel {
namespace {

namespace fs = std::filesystem;
using testing::json;
using testing::json_object;

// Asks for a stop at its check number `stop_at` once armed (0 for the first), never before.
class StopAtCheck final : public Interrupt {
 public:
  void arm(int stop_at) { left_ = stop_at; }
  bool requested() override { return left_ >= 0 && left_-- == 0; }

 private:
  int left_ = -1;
};

// Scans ask every few thousand documents, file reads and writes every megabyte: a collection file
// of these takes two checks. Imports read twice as many.
constexpr int kDocuments = 42000;

std::string collection_text(int count) {
  std::string text = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ',';
    text += R"({"a":)" + std::to_string(i) + R"(,"b":"some text to make it long","c":[1.5,2.5]})";
  }
  return text + "]";
}

void write_text(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Every entry of the directory with its content: what an interrupted call must leave as it was.
std::map<std::string, std::string> directory_snapshot(const fs::path& directory) {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    std::ostringstream content;
    content << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    entries[entry.path().filename().string()] = content.str();
  }
  return entries;
}

class StoreInterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zarvel-store-interrupt-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    parent_ = pattern;
    fs::create_directory(directory());
    std::string text = collection_text(kDocuments);
    write_text(directory() / "c.json", text);
    write_text(directory() / "d.json", text);
    std::string twice = collection_text(2 * kDocuments);
    write_text(parent_ / "import.json", twice);
    write_text(parent_ / "load.json", R"({"c": )" + twice + R"(, "fresh": [{"a": 1}]})");
  }
  void TearDown() override { fs::remove_all(parent_); }

  fs::path directory() const { return parent_ / "db"; }

  fs::path parent_;
  StopAtCheck interrupt_;
};

Array documents(Store& store, std::string_view name) {
  return testing::array_of(store.find(name, nullptr).value().collection->documents);
}

// Each long operation, stopped at its first and at a later check, returns kInterrupted and leaves
// the documents, the registry and every file as they were.
TEST_F(StoreInterruptTest, StoppedOperationsChangeNothing) {
  struct Case {
    std::string name;
    std::function<Status(Store&)> run;
    int later_check = 2;
  };
  Object all = json_object(R"({"a": {"$gte": 0}})");
  FindOptions fields;
  fields.fields.emplace(std::vector<std::string>{"a"});
  auto status_of = [](auto&& result) { return result.ok() ? Status() : result.status(); };
  const std::vector<Case> cases = {
      {"find", [&](Store& s) { return status_of(s.find("c", &all)); }},
      {"find fields", [&](Store& s) { return status_of(s.find("c", nullptr, fields)); }},
      {"count", [&](Store& s) { return status_of(s.count("c", &all)); }},
      {"delete", [&](Store& s) { return status_of(s.delete_matching("c", all)); }},
      {"update",
       [&](Store& s) {
         return status_of(
             s.update("c", json_object(R"({"a": {"$set": 0}})"), &all, [](std::string_view) {}));
       }},
      {"insert_many_from_document",
       [&](Store& s) {
         return s.insert_many_from_document("c", (parent_ / "import.json").string());
       }},
      {"load_from_document",
       [&](Store& s) { return s.load_from_document((parent_ / "load.json").string()); }},
      {"write", [&](Store& s) { return s.write("c"); }, 1},
      // Asked before each file and at each megabyte: the fifth check is in the second file, the
      // first written in full.
      {"write_all", [&](Store& s) { return s.write_all(); }, 4},
  };
  for (const Case& c : cases) {
    for (int stop_at : {0, c.later_check}) {
      SCOPED_TRACE(c.name + " stopped at check " + std::to_string(stop_at));
      Result<Store> opened = Store::open(directory().string(), interrupt_);
      ASSERT_TRUE(opened.ok());
      Store& store = opened.value();
      // Memory that differs from the files, so a write that went through would show.
      for (std::string_view collection : {"c", "d"}) {
        ASSERT_TRUE(
            store.insert_in_collection(collection, testing::packed(json(R"({"a": -1})"))).ok());
      }
      Array c_before = documents(store, "c");
      Array d_before = documents(store, "d");
      auto files_before = directory_snapshot(directory());
      interrupt_.arm(stop_at);
      Status status = c.run(store);
      interrupt_.arm(-1);
      EXPECT_EQ(status.kind(), ErrorKind::kInterrupted) << status.message();
      EXPECT_TRUE(documents(store, "c") == c_before);
      EXPECT_TRUE(documents(store, "d") == d_before);
      EXPECT_EQ(directory_snapshot(directory()), files_before);
      EXPECT_FALSE(store.find("fresh", nullptr).ok());
    }
  }
}

// An index is built right after the scan of the second query to use its path: a stop there fails
// that query, leaves no index, and the next query builds it.
TEST_F(StoreInterruptTest, StoppedIndexBuildFailsTheQueryAndLeavesNoIndex) {
  Result<Store> opened = Store::open(directory().string(), interrupt_);
  ASSERT_TRUE(opened.ok());
  Store& store = opened.value();
  Object first = json_object(R"({"a": 1})");
  Object second = json_object(R"({"a": 2})");
  ASSERT_TRUE(store.find("c", &first).ok());
  // The scan asks once per 4,096 documents; the build after it asks from its first document on.
  constexpr int kScanChecks = kDocuments / 4096;
  interrupt_.arm(kScanChecks + 1);
  Result<Store::Found> stopped = store.find("c", &second);
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.status().kind(), ErrorKind::kInterrupted);
  EXPECT_TRUE(store.index_summary("c").empty());
  Result<Store::Found> found = store.find("c", &second);
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found.value().answer->positions, std::vector<std::uint32_t>{2});
  EXPECT_EQ(store.index_summary("c").size(), 1u);
}

TEST_F(StoreInterruptTest, StoppedOpenFails) {
  for (int stop_at : {0, 1}) {
    interrupt_.arm(stop_at);
    Result<Store> opened = Store::open(directory().string(), interrupt_);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.status().kind(), ErrorKind::kInterrupted);
  }
}

}  // namespace
}  // namespace zarvel
