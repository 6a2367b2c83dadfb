#include "lib/collection_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

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

}  // namespace
}  // namespace zarvel
