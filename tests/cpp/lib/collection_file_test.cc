#include "lib/collection_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "../value/packed_forms.h"
#include "value/limits.h"

namespace zarvel {
namespace {

namespace fs = std::filesystem;
using testing::json;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class AlwaysInterrupted final : public Interrupt {
 public:
  bool requested() override { return true; }
};

Value nested_arrays(int levels) {
  Value value;
  for (int i = 0; i < levels; ++i) value = Value(Array(std::vector<Value>{std::move(value)}));
  return value;
}

Value unpacked(const PackedBuffer& packed) { return unpack(PackedValue(packed.data())); }
std::optional<Value> unpacked(const std::optional<PackedBuffer>& packed) {
  if (!packed) return std::nullopt;
  return unpacked(*packed);
}

template <class T, class Packed>
void expect_same(const Result<T>& value, const Result<Packed>& packed, const std::string& name) {
  ASSERT_EQ(packed.ok(), value.ok()) << name;
  if (value.ok()) {
    EXPECT_TRUE(unpacked(packed.value()) == value.value()) << name;
    return;
  }
  EXPECT_EQ(packed.status().kind(), value.status().kind()) << name;
  EXPECT_EQ(packed.status().message(), value.status().message()) << name;
  EXPECT_EQ(packed.status().note(), value.status().note()) << name;
}

// Each form of the documents gives the same file; a write that fails leaves the old file alone
// and nothing beside it.
TEST(CollectionFileTest, WritesBothFormsAlikeAndKeepsTheOldFileOnFailure) {
  std::string pattern = (fs::temp_directory_path() / "zarvel-cf-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  const std::string path = (dir / "c.json").string();
  AlwaysInterrupted interrupted;
  struct Case {
    const char* name;
    Array documents;
    Interrupt* interrupt;
    std::optional<ErrorKind> failure;
  };
  const std::vector<Case> cases = {
      {"written", json(R"([{"b": [1, -2, 0.5, "\n"], "a": {}}, null, [], "x"])").as_array(),
       &never_interrupted(), std::nullopt},
      {"none", Array(), &never_interrupted(), std::nullopt},
      // Past the megabyte after which the first question is asked.
      {"interrupted", Array(std::vector<Value>(3000, Value(std::string(1000, 'x')))), &interrupted,
       ErrorKind::kInterrupted},
      {"too deep", Array(std::vector<Value>{nested_arrays(kMaxDocumentDepth + 1)}),
       &never_interrupted(), ErrorKind::kBadContent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::PackedDocuments packed(c.documents);
    std::string expected = c.failure ? "old" : to_json(Value(Array(c.documents)));
    for (bool packed_form : {false, true}) {
      std::ofstream(path, std::ios::binary) << "old";
      Status status =
          packed_form ? write_collection_file(path, packed.span(), *c.interrupt)
                      : write_collection_file(
                            path, std::span<const Value>(c.documents.begin(), c.documents.size()),
                            *c.interrupt);
      EXPECT_EQ(status.ok() ? std::nullopt : std::optional(status.kind()), c.failure)
          << status.message() << (packed_form ? " packed" : "");
      EXPECT_EQ(read_file(path), expected) << (packed_form ? "packed" : "");
      EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    }
  }
  fs::remove_all(dir);
}

// The packed readers share the Value readers' code: the same files must give the same value or
// the same failure, note and all.
TEST(CollectionFileTest, PackedReadsMatchTheValueReads) {
  std::string pattern = (fs::temp_directory_path() / "zarvel-file-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  struct Case {
    std::string name, text;  // written to dir/name unless the name says otherwise
  };
  const std::vector<Case> cases = {
      {"good.json", R"([{"b":1,"a":[true,null,"x"],"b":2.5}])"},
      {"bad.json", "[1,\n  2,,\n]"},
      {"empty.json", ""},
      {"missing.json", ""},
      {"fifo.json", ""},
      {"directory", ""},
  };
  for (const Case& c : cases) {
    std::string path = (dir / c.name).string();
    if (c.name == "fifo.json") {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else if (c.name == "directory") {
      fs::create_directory(path);
    } else if (c.name != "missing.json") {
      std::ofstream(path, std::ios::binary) << c.text;
    }
    if (c.name != "fifo.json") {  // would wait for a writer
      expect_same(read_document(path), read_packed_document(path), c.name);
    }
    expect_same(read_collection_file(path), read_packed_collection_file(path), c.name);
    expect_same(read_collection_file_if_regular(path), read_packed_collection_file_if_regular(path),
                c.name);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zarvel
