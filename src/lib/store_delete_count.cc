// Counting and deleting the documents that match a query.
#include <utility>

#include "lib/store.h"

namespace zarvel {

Result<std::size_t> Store::count(std::string_view name, const Object* query) {
  Result<SharedCollection> collection = this->collection(name);
  if (!collection.ok()) return std::move(collection).status();
  if (query == nullptr) return collection.value()->documents.size();
  Result<SharedAnswer> answer = answer_query(name, collection.value(), *query);
  if (!answer.ok()) return std::move(answer).status();
  return answer.value()->positions.size();
}

Result<std::size_t> Store::delete_matching(std::string_view name, const Object& query) {
  Result<SharedCollection> collection = this->collection(name);
  if (!collection.ok()) return std::move(collection).status();
  // Not answer_query: an answer cached now would be dropped at once, after evicting another.
  SharedAnswer answer = cached_answer(name, collection.value(), query);
  if (!answer) {
    Result<SharedAnswer> scanned = scan_query(collection.value(), query, kNoStop);
    if (!scanned.ok()) return std::move(scanned).status();
    answer = std::move(scanned).value();
  }
  std::size_t removed = answer->positions.size();
  if (removed == 0) return removed;  // nothing changed: the cached answers still hold
  collection.value()->indexes.removing(answer->positions, collection.value()->documents.all());
  collection.value()->documents.remove(answer->positions);
  collection.value()->documents.reclaim();
  changed(name, *collection.value());
  return removed;
}

}  // namespace zarvel
