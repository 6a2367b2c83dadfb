#include "lib/document_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../query/json_literal.h"
#include "documents_literal.h"

namespace zarvel {
namespace {

using testing::array_of;
using testing::document_list;
using testing::json;
using testing::show;

Value document(int n) {
  return json(R"({"n": )" + std::to_string(n) + R"(, "pad": ")" + std::string(100, 'x') + "\"}");
}

Value documents_from(int first, int count) {
  Array array;
  for (int n = first; n < first + count; ++n) array.push_back(document(n));
  return Value(std::move(array));
}

TEST(DocumentListTest, KeepsOrderThroughAppendsRemovalsAndReplacements) {
  DocumentList list = document_list(documents_from(0, 3));
  Array expected = documents_from(0, 3).as_array();
  // Many small appends: they share chunks instead of taking one each.
  for (int n = 3; n < 2000; ++n) {
    PackedBuffer one;
    pack(Value(Array{document(n)}), one);
    list.append(PackedValue(one.data()).as_array());
    expected.push_back(document(n));
  }
  EXPECT_LT(list.chunk_bytes(), 2000 * 130);

  // Remove every other document: garbage, until it outweighs what lives.
  std::vector<std::uint32_t> odd;
  for (std::uint32_t i = 1; i < list.size(); i += 2) odd.push_back(i);
  list.remove(odd);
  expected.erase_if(
      [&](const Value& v) { return v.as_object().find("n")->as_number().bits() % 2; });
  EXPECT_EQ(show(Value(array_of(list))), show(Value(Array(expected))));
  EXPECT_GT(list.garbage_bytes(), 0u);

  DocumentList::Replacement replacement;
  replacement.stage(0, json(R"({"replaced": true})"));
  replacement.stage(5, json("[]"));
  list.commit(std::move(replacement));
  expected[0] = json(R"({"replaced": true})");
  expected[5] = json("[]");
  EXPECT_EQ(show(Value(array_of(list))), show(Value(Array(expected))));

  // Half of the documents went: compaction copies the rest into one chunk of their own size.
  list.reclaim();
  EXPECT_EQ(list.garbage_bytes(), 0u);
  EXPECT_EQ(show(Value(array_of(list))), show(Value(Array(expected))));
  std::size_t live = 0;
  for (PackedValue d : list.all()) live += d.size();
  EXPECT_EQ(list.chunk_bytes(), live);
}

TEST(DocumentListTest, AdoptsABufferWithoutCopyingIt) {
  PackedBuffer file;
  pack(json(R"({"other": [1, 2, 3], "c": [{"a": 1}, {"b": 2}]})"), file);
  const std::size_t size = file.size();
  PackedArray documents = PackedValue(file.data()).as_object().find("c")->as_array();
  DocumentList list;
  list.adopt(std::move(file), documents);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(show(Value(array_of(list))), R"([{"a":1},{"b":2}])");
  // The buffer is the one chunk; everything in it but the two documents is garbage, and a remove
  // of none changes nothing.
  EXPECT_EQ(list.chunk_bytes(), size);
  EXPECT_EQ(list.garbage_bytes(), list.chunk_bytes() - list[0].size() - list[1].size());
  list.remove({});
  EXPECT_EQ(list.size(), 2u);
}

}  // namespace
}  // namespace zarvel
