// Inserting, importing, finding and updating documents.
#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "lib/collection_file.h"
#include "lib/collection_path.h"
#include "lib/file_system.h"
#include "lib/index_order.h"
#include "lib/query_scan.h"
#include "lib/store.h"
#include "query/matcher.h"
#include "query/updater.h"
#include "value/limits.h"

namespace zarvel {

namespace {

// The name a Python caller knows the kind of `value` by.
template <class Document>
std::string_view python_type_name(const Document& value) noexcept {
  switch (value.kind()) {
    case Kind::kNull:
      return "NoneType";
    case Kind::kBool:
      return "bool";
    case Kind::kNumber:
      return value.as_number().is_float() ? "float" : "int";
    case Kind::kString:
      return "str";
    case Kind::kArray:
      return "list";
    case Kind::kObject:
      return "dict";
  }
  return "";
}

template <class Document>
Status not_a_document(std::string label, const Document& value) {
  return Status::wrong_type(std::move(label) + ": '" + std::string(python_type_name(value)) +
                            "' object is not a document");
}

// What an insert of `value` (a document, or an array of them) appends must be objects: anything
// else could never be matched, updated or deleted. kWrongType names the first that is not.
Status check_documents(std::string_view label, PackedValue value) {
  if (!value.is_array())
    return value.is_object() ? Status() : not_a_document(std::string(label), value);
  std::size_t i = 0;
  for (PackedValue document : value.as_array()) {
    if (!document.is_object())
      return not_a_document(std::string(label) + "[" + std::to_string(i) + "]", document);
    ++i;
  }
  return Status();
}

}  // namespace

Result<SharedCollection> Store::collection_for_insert(std::string_view name, bool& created) {
  created = false;
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  if (SharedCollection found = lookup(name)) return found;
  // A collection with a file is loaded first, so its stored documents are kept.
  if (!path_exists(collection_file_path(directory_, name))) {
    if (Status made = create_collection(name); !made.ok()) return made;
    if (SharedCollection found = lookup(name)) {
      created = true;
      return found;
    }
    // Something was at the path after all (a dangling link, or a file that appeared since the
    // check): it is loaded, or the reason it cannot be is the error.
  }
  if (Status loaded = update_in_memory_collections(name); !loaded.ok()) return loaded;
  if (SharedCollection found = lookup(name)) return found;
  return Status::internal_none();
}

void Store::append(std::string_view name, Collection& collection, PackedValue value) {
  std::size_t first = collection.documents.size();
  if (value.is_array()) {
    collection.documents.append(value.as_array());
  } else {
    collection.documents.append(value);
  }
  collection.indexes.appended(collection.documents.all(), first);
  changed(name, collection);
}

void Store::append(std::string_view name, Collection& collection, PackedBuffer documents) {
  PackedValue value(documents.data());
  // A large array becomes a chunk of the collection as it is, instead of being copied into one.
  if (value.is_array() && documents.size() >= DocumentList::kAdoptedBytes) {
    std::size_t first = collection.documents.size();
    collection.documents.adopt(std::move(documents), value.as_array());
    collection.indexes.appended(collection.documents.all(), first);
    changed(name, collection);
  } else {
    append(name, collection, value);
  }
}

void Store::changed(std::string_view name, Collection& collection) {
  ++collection.version;
  cache_.invalidate(name);
}

Status Store::insert_in_collection(std::string_view name, PackedBuffer documents) {
  if (Status checked = check_documents("documents", PackedValue(documents.data())); !checked.ok())
    return checked;
  bool created = false;
  Result<SharedCollection> collection = collection_for_insert(name, created);
  if (!collection.ok()) return std::move(collection).status();
  append(name, *collection.value(), std::move(documents));
  return Status();
}

Status Store::load_from_document(const std::string& path) {
  Result<PackedBuffer> content = read_packed_document(path, *interrupt_);
  if (!content.ok()) return std::move(content).status();
  PackedValue document(content.value().data());
  if (!document.is_object()) return Status::internal_none();
  PackedObject members = document.as_object();
  for (PackedMember member : members) {
    if (Status valid = validate_collection_name(member.key); !valid.ok()) return valid;
    if (Status checked = check_documents(member.key, member.value); !checked.ok()) return checked;
  }
  // Every collection is loaded or created before the first document is appended, and those
  // created here are dropped again when a later one fails: a failed import changes nothing.
  std::vector<SharedCollection> targets;
  std::vector<std::string_view> created_names;
  for (PackedMember member : members) {
    bool created = false;
    Result<SharedCollection> target = collection_for_insert(member.key, created);
    if (created) created_names.push_back(member.key);
    if (!target.ok()) {
      for (std::string_view name : created_names) (void)drop_collection(name);
      return std::move(target).status();
    }
    targets.push_back(std::move(target).value());
  }
  std::size_t i = 0;
  for (PackedMember member : members) append(member.key, *targets[i++], member.value);
  return Status();
}

Status Store::insert_many_from_document(std::string_view name, const std::string& path) {
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  Result<PackedBuffer> content = read_packed_document(path, *interrupt_);
  if (!content.ok()) return std::move(content).status();
  if (!PackedValue(content.value().data()).is_array())
    return Status::bad_content("Document is not an array");
  return insert_in_collection(name, std::move(content).value());
}

Result<Store::Found> Store::find(std::string_view name, const Object* query,
                                 const FindOptions& options) {
  Result<SharedCollection> collection = this->collection(name);
  if (!collection.ok()) return std::move(collection).status();
  Found found{std::move(collection).value(), nullptr, std::nullopt};
  const DocumentList& documents = found.collection->documents;
  if (query != nullptr) {
    // A limit in stored order needs only the first matches, unless the whole answer is cached.
    bool stops_early = options.limit && options.sort.empty();
    Result<SharedAnswer> answer =
        stops_early ? first_matches(name, found.collection, *query, options.needed())
                    : answer_query(name, found.collection, *query);
    if (!answer.ok()) return std::move(answer).status();
    found.answer = std::move(answer).value();
  }
  if (options.selects()) {
    auto picked = std::make_shared<QueryAnswer>();
    picked->collection = found.collection;
    picked->version = found.collection->version;
    Result<std::vector<std::uint32_t>> positions =
        select(*found.collection, found.answer ? &found.answer->positions : nullptr, options);
    if (!positions.ok()) return std::move(positions).status();
    picked->positions = std::move(positions).value();
    found.answer = std::move(picked);
  }
  if (options.fields) {
    Array projected;
    InterruptPoll poll(*interrupt_);
    auto add = [&](PackedValue document) {
      if (poll.stop()) return false;
      projected.push_back(options.fields->apply(document));
      return true;
    };
    if (found.answer) {
      projected.reserve(found.answer->positions.size());
      for (std::uint32_t position : found.answer->positions) {
        if (!add(documents[position])) return Status::interrupted();
      }
    } else {
      projected.reserve(documents.size());
      for (PackedValue document : documents.all()) {
        if (!add(document)) return Status::interrupted();
      }
    }
    found.projected = std::move(projected);
  }
  return found;
}

SharedAnswer Store::cached_answer(std::string_view name, const SharedCollection& collection,
                                  const Object& query) {
  SharedAnswer cached = cache_.get(name, query);
  return cached && cached->current_for(collection) ? cached : nullptr;
}

Result<SharedAnswer> Store::scan_query(const SharedCollection& collection, const Object& query,
                                       std::size_t stop_after) {
  Result<QueryEngine<QueryOperator>> engine = QueryEngine<QueryOperator>::build(query, nullptr);
  if (!engine.ok()) return std::move(engine).status();
  auto answer = std::make_shared<QueryAnswer>();
  answer->collection = collection;
  answer->version = collection->version;
  if (Status matched = match(*collection, engine.value(), stop_after, answer->positions);
      !matched.ok()) {
    return matched;
  }
  return SharedAnswer(std::move(answer));
}

Status Store::match(Collection& collection, const QueryEngine<QueryOperator>& engine,
                    std::size_t stop_after, std::vector<std::uint32_t>& positions) {
  std::span<const PackedValue> documents = collection.documents.all();
  if (automatic_indexes_) {
    if (std::optional<std::vector<std::uint32_t>> candidates =
            collection.indexes.candidates(engine, documents)) {
      return scan_candidates(engine, documents, *candidates, stop_after, positions, *interrupt_);
    }
  }
  Status scanned = scan_matches(engine, documents, stop_after, positions, *interrupt_);
  if (!scanned.ok() || !automatic_indexes_) return scanned;
  return collection.indexes.note_scan(engine, documents, *interrupt_);
}

Result<std::vector<std::uint32_t>> Store::select(Collection& collection,
                                                 const std::vector<std::uint32_t>* candidates,
                                                 const FindOptions& options) {
  std::span<const PackedValue> documents = collection.documents.all();
  // Walking an index costs up to one step per document; a few candidates sort cheaper alone.
  bool many = candidates == nullptr || candidates->size() * 16 >= documents.size();
  if (automatic_indexes_ && options.sort.size() == 1 && many) {
    Result<const OrderedIndex*> index =
        collection.indexes.sort_index(options.sort.front().path, documents, *interrupt_);
    if (!index.ok()) return std::move(index).status();
    if (index.value() != nullptr) {
      return select_in_index_order(*index.value(), documents, candidates, options);
    }
  }
  return select_positions(documents, candidates, options);
}

Result<SharedAnswer> Store::answer_query(std::string_view name, const SharedCollection& collection,
                                         const Object& query) {
  if (SharedAnswer cached = cached_answer(name, collection, query)) return cached;
  Result<SharedAnswer> answer = scan_query(collection, query, kNoStop);
  if (answer.ok()) cache_.put(name, query, answer.value());
  return answer;
}

Result<SharedAnswer> Store::first_matches(std::string_view name, const SharedCollection& collection,
                                          const Object& query, std::size_t count) {
  if (SharedAnswer cached = cached_answer(name, collection, query)) return cached;
  // Not cached: it is only the start of the answer.
  return scan_query(collection, query, count);
}

Result<SharedCollection> Store::update(std::string_view name, const Object& update,
                                       const Object* query, const TraceSink& trace) {
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  // Every update empties the cache first, even one that fails later.
  clear_cache();
  Result<SharedCollection> collection = this->collection(name);
  if (!collection.ok()) {
    if (collection.status().kind() == ErrorKind::kInternal) return std::move(collection).status();
    return Status::internal_unwrap(std::move(collection).status());
  }
  std::string lines;
  Result<QueryEngine<UpdateOperator>> update_engine =
      QueryEngine<UpdateOperator>::build(update, &lines);
  // The lines of the conditions read before a malformed one are written too.
  trace(lines);
  if (!update_engine.ok()) return std::move(update_engine).status();
  std::optional<QueryEngine<QueryOperator>> query_engine;
  if (query != nullptr) {
    Result<QueryEngine<QueryOperator>> built = QueryEngine<QueryOperator>::build(*query, nullptr);
    if (!built.ok()) return std::move(built).status();
    query_engine.emplace(std::move(built).value());
  }
  Status applied = update_documents(name, *collection.value(), update_engine.value(),
                                    query_engine ? &*query_engine : nullptr);
  if (!applied.ok()) return applied;
  return collection;
}

Status Store::update_documents(std::string_view name, Collection& collection,
                               const QueryEngine<UpdateOperator>& update,
                               const QueryEngine<QueryOperator>* query) {
  // Every check that can fail runs before the first change, so a failed update changes nothing.
  // A document deeper than a collection file allows could not be written, nor read back.
  if (deepest_set(update) > kMaxDocumentDepth) {
    return Status::internal("Update would nest a document deeper than " +
                            std::to_string(kMaxDocumentDepth) + " levels");
  }
  DocumentList& documents = collection.documents;
  std::vector<std::uint32_t> selected;
  // Reserved whole, as the writes below: growing them by copies cost as much as the update.
  selected.reserve(documents.size());
  // Only this pass, which changes nothing, is interruptible; the changes after it are short.
  if (query != nullptr) {
    Status matched = match(collection, *query, kNoStop, selected);
    if (matched.kind() == ErrorKind::kInterrupted) return matched;
    if (!matched.ok()) return Status::internal_unwrap(std::move(matched));
  } else {
    InterruptPoll poll(*interrupt_);
    for (std::size_t i = 0; i < documents.size(); ++i) {
      if (poll.stop()) return Status::interrupted();
      // A document that is not an object (from a file written elsewhere) is left alone.
      if (documents[i].is_object()) selected.push_back(static_cast<std::uint32_t>(i));
    }
  }
  // A document whose numbers alone change is changed in place; any other is rebuilt whole. The
  // rebuilt ones are made before the first change, so running out of memory changes nothing.
  InPlaceUpdate in_place(update);
  std::vector<InPlaceUpdate::Write> writes;
  writes.reserve(selected.size());
  DocumentList::Replacement rebuilt;
  for (std::uint32_t i : selected) {
    if (in_place.plan(documents[i].as_object(), writes)) continue;
    Value document = unpack(documents[i]);
    apply_update(update, document.as_object());
    rebuilt.stage(i, document);
  }
  std::vector<const FieldPath*> paths;
  for (const Condition<UpdateOperator>& condition : update.conditions()) {
    paths.push_back(&condition.fields);
  }
  collection.indexes.changing(paths, selected, documents.all());
  try {
    documents.commit(std::move(rebuilt));
  } catch (...) {
    collection.indexes.changed(selected, documents.all());  // refiled as they still are
    throw;
  }
  // Nothing below can fail, and the rebuilt documents are not among those written in place.
  InPlaceUpdate::apply(writes);
  collection.indexes.changed(selected, documents.all());
  documents.reclaim();
  changed(name, collection);
  return Status();
}

}  // namespace zarvel
