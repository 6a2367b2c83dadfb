// Reads arbitrary bytes as JSON text and, when it is an array, takes its first element as a query
// document, its second as an update document and the rest as documents: the query is matched
// against each document and the update applied to a copy of each. Errors are expected; crashes,
// leaks and undefined behaviour are not. A query without conditions must match every document,
// and an update must leave a document the writer can still write.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "query/matcher.h"
#include "query/query_engine.h"
#include "query/updater.h"
#include "value/json_reader.h"
#include "value/json_writer.h"
#include "value/value.h"

namespace {

using zarvel::Object;
using zarvel::QueryEngine;
using zarvel::QueryOperator;
using zarvel::UpdateOperator;
using zarvel::Value;

const Object* object_at(const zarvel::Array& items, std::size_t i) {
  return i < items.size() && items[i].is_object() ? &items[i].as_object() : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<Value> input =
      zarvel::parse_json(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!input || !input->is_array()) return 0;
  const zarvel::Array& items = input->as_array();

  std::optional<QueryEngine<QueryOperator>> query;
  if (const Object* q = object_at(items, 0)) {
    auto built = QueryEngine<QueryOperator>::build(*q, nullptr);
    if (built.ok()) query.emplace(std::move(built).value());
  }
  std::optional<QueryEngine<UpdateOperator>> update;
  std::string trace;
  if (const Object* u = object_at(items, 1)) {
    auto built = QueryEngine<UpdateOperator>::build(*u, &trace);
    if (built.ok()) update.emplace(std::move(built).value());
  }

  for (std::size_t i = 2; i < items.size(); ++i) {
    const Object* document = object_at(items, i);
    if (document == nullptr) continue;
    if (query) {
      auto matched = zarvel::matches(*query, *document);
      if (query->queries().empty() && !(matched.ok() && matched.value())) {
        std::fprintf(stderr, "a query without conditions rejected a document\n");
        __builtin_trap();
      }
    }
    if (update) {
      Object changed = *document;
      zarvel::apply_update(*update, changed);
      std::string text = zarvel::to_json(Value(std::move(changed)));
      if (text.empty() || text.front() != '{') {
        std::fprintf(stderr, "an updated document is no longer an object\n");
        __builtin_trap();
      }
    }
  }
  return 0;
}
