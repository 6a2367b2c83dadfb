// Reads arbitrary bytes as JSON text and, when it is an array, takes its first element as a query
// document, its second as an update document and the rest as documents: the query is matched
// against each document and the update applied to a copy of each. Errors are expected; crashes,
// leaks and undefined behaviour are not. A query without conditions must match every document,
// and {"$nor": [query]} exactly those the query does not match. Indexes on the paths the query
// tests may narrow the documents to test, never change the answer or the error.
// An update is applied as the store applies one: refused when a Set could nest a document beyond
// the limit, and otherwise leaving a document within it that a collection file can hold, written
// and read back; the copies prepared beforehand give the same result as copying as it goes. Each
// Set is tried again with its operand nested to just within the limit and to just beyond it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/collection_indexes.h"
#include "lib/query_scan.h"
#include "query/field_path.h"
#include "query/matcher.h"
#include "query/query_engine.h"
#include "query/updater.h"
#include "value/json_reader.h"
#include "value/json_writer.h"
#include "value/limits.h"
#include "value/packed.h"
#include "value/value.h"

namespace {

using zarvel::kMaxDocumentDepth;
using zarvel::nesting_depth;
using zarvel::Object;
using zarvel::QueryEngine;
using zarvel::QueryOperator;
using zarvel::UpdateOperator;
using zarvel::Value;

void check(bool holds, const char* failure) {
  if (holds) return;
  std::fprintf(stderr, "%s\n", failure);
  __builtin_trap();
}

const Object* object_at(const zarvel::Array& items, std::size_t i) {
  return i < items.size() && items[i].is_object() ? &items[i].as_object() : nullptr;
}

// The text of `document` inside a collection file's array, read back.
void check_written_and_read_back(const Value& document) {
  std::string text = "[";
  {
    zarvel::StringSink sink(text);
    zarvel::BufferedWriter out(sink);
    check(zarvel::write_json(document, out, /*enclosing_levels=*/1) && out.flush(),
          "an updated document cannot be written");
  }
  text += ']';
  std::optional<Value> read = zarvel::parse_json(text);
  check(read && read->as_array().size() == 1 &&
            nesting_depth(read->as_array()[0]) == nesting_depth(document),
        "an updated document does not read back");
}

// Applies `update` to a copy of `document` as the store would. False when the store refuses it.
bool apply_as_the_store_would(const QueryEngine<UpdateOperator>& update, const Object& document) {
  if (zarvel::deepest_set(update) > kMaxDocumentDepth) return false;
  Value copied{Object(document)};
  zarvel::apply_update(update, copied.as_object());
  zarvel::PackedBuffer packed;
  zarvel::pack(Value(Object(document)), packed);
  std::vector<zarvel::InPlaceUpdate::Write> writes;
  if (zarvel::InPlaceUpdate(update).plan(zarvel::PackedValue(packed.data()).as_object(), writes)) {
    zarvel::InPlaceUpdate::apply(writes);
    check(zarvel::PackedValue(packed.data()) == copied, "an update in place changes differently");
  }
  check(nesting_depth(copied) <= kMaxDocumentDepth, "an update nested a document beyond the limit");
  check_written_and_read_back(copied);
  return true;
}

// `value` inside `levels` arrays.
Value nested_in_arrays(Value value, int levels) {
  for (int i = 0; i < levels; ++i) value = Value(zarvel::Array{std::move(value)});
  return value;
}

// The update {path: {"$set": operand}}, for a path without a keyword segment at its end.
std::optional<QueryEngine<UpdateOperator>> set_at(const std::vector<std::string>& fields,
                                                  Value operand) {
  std::string key;
  for (std::size_t i = 0; i < fields.size(); ++i) key += (i == 0 ? "" : ".") + fields[i];
  Object set;
  set.insert_or_assign("$set", std::move(operand));
  Object update;
  update.insert_or_assign(key, Value(std::move(set)));
  auto built = QueryEngine<UpdateOperator>::build(update, nullptr);
  if (!built.ok()) return std::nullopt;
  return std::move(built).value();
}

// Each Set of `update` again, its operand nested to the deepest the store accepts at its path,
// then one level deeper, which the store refuses: rightly, since where the path resolves the
// document would then go beyond the limit.
void check_sets_at_the_limit(const QueryEngine<UpdateOperator>& update, const Object& document) {
  for (const zarvel::Condition<UpdateOperator>& condition : update.conditions()) {
    if (condition.op != UpdateOperator::Set) continue;
    int path_levels = static_cast<int>(condition.fields.size());
    int room = kMaxDocumentDepth - path_levels - nesting_depth(condition.value);
    if (room < 0) continue;
    auto at_limit = set_at(condition.fields, nested_in_arrays(condition.value, room));
    check(at_limit && apply_as_the_store_would(*at_limit, document),
          "a Set within the limit is refused");
    auto beyond = set_at(condition.fields, nested_in_arrays(condition.value, room + 1));
    check(beyond && !apply_as_the_store_would(*beyond, document),
          "a Set beyond the limit is accepted");
    Object changed = document;
    zarvel::apply_update(*beyond, changed);
    const Object* parent = zarvel::field_parent(document, condition.fields);
    if (parent != nullptr && parent->find(condition.fields.back()) != nullptr) {
      check(nesting_depth(Value(std::move(changed))) == kMaxDocumentDepth + 1,
            "the limit is not exact");
    }
  }
}

// The positions and the error of a scan of `documents`, against those of the same scan narrowed
// to the candidates of indexes built on every path the query tests.
void check_indexed_answer(const QueryEngine<QueryOperator>& query, const zarvel::Array& items) {
  zarvel::PackedBuffer packed;
  std::vector<std::size_t> offsets;
  for (std::size_t i = 2; i < items.size(); ++i) {
    offsets.push_back(packed.size());
    zarvel::pack(items[i], packed);
  }
  std::vector<zarvel::PackedValue> documents;
  for (std::size_t offset : offsets) documents.emplace_back(packed.data() + offset);
  zarvel::CollectionIndexes indexes(/*min_documents=*/1);
  for (int use = 0; use < 2; ++use) {
    (void)indexes.note_scan(query, documents, zarvel::never_interrupted());
  }
  std::optional<std::vector<std::uint32_t>> candidates = indexes.candidates(query, documents);
  if (!candidates) return;
  std::vector<std::uint32_t> scanned;
  std::vector<std::uint32_t> narrowed;
  zarvel::Status all = zarvel::scan_matches(query, documents, zarvel::kNoStop, scanned);
  zarvel::Status some =
      zarvel::scan_candidates(query, documents, *candidates, zarvel::kNoStop, narrowed);
  check(all.ok() == some.ok() && all.message() == some.message(),
        "an index changes the error of a query");
  check(!all.ok() || scanned == narrowed, "an index changes the answer of a query");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<Value> input =
      zarvel::parse_json(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!input || !input->is_array()) return 0;
  const zarvel::Array& items = input->as_array();

  std::optional<QueryEngine<QueryOperator>> query;
  std::optional<QueryEngine<QueryOperator>> complement;
  if (const Object* q = object_at(items, 0)) {
    auto built = QueryEngine<QueryOperator>::build(*q, nullptr);
    if (built.ok()) {
      query.emplace(std::move(built).value());
      Object nor;
      nor.insert_or_assign("$nor", Value(zarvel::Array{Value(Object(*q))}));
      auto negated = QueryEngine<QueryOperator>::build(nor, nullptr);
      check(negated.ok(), "a query that builds does not build inside $nor");
      complement.emplace(std::move(negated).value());
    }
  }
  std::optional<QueryEngine<UpdateOperator>> update;
  std::string trace;
  if (const Object* u = object_at(items, 1)) {
    auto built = QueryEngine<UpdateOperator>::build(*u, &trace);
    if (built.ok()) update.emplace(std::move(built).value());
  }

  if (query) check_indexed_answer(*query, items);
  for (std::size_t i = 2; i < items.size(); ++i) {
    const Object* document = object_at(items, i);
    if (document == nullptr) continue;
    if (query) {
      auto matched = zarvel::matches(*query, *document);
      check(!query->conditions().empty() || (matched.ok() && matched.value()),
            "a query without conditions rejected a document");
      zarvel::PackedBuffer packed;
      zarvel::pack(Value(Object(*document)), packed);
      auto packed_matched = zarvel::matches(*query, zarvel::PackedValue(packed.data()).as_object());
      check(matched.ok() == packed_matched.ok() &&
                (matched.ok() ? matched.value() == packed_matched.value()
                              : matched.status().message() == packed_matched.status().message()),
            "a packed document matches differently");
      auto unmatched = zarvel::matches(*complement, *document);
      check(
          matched.ok() == unmatched.ok() && (!matched.ok() || matched.value() != unmatched.value()),
          "$nor of a query does not match its complement");
    }
    if (update) {
      apply_as_the_store_would(*update, *document);
      check_sets_at_the_limit(*update, *document);
    }
  }
  return 0;
}
