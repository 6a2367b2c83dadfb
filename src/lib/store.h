// The store: a directory of collection files and the collections held in memory, with the result
// cache of queries. Every operation returns its errors as values.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/interrupt.h"
#include "base/status.h"
#include "lib/collection.h"
#include "lib/find_options.h"
#include "lib/query_scan.h"
#include "lib/result_cache.h"
#include "query/query_engine.h"
#include "value/value.h"

namespace zarvel {

// The operations that take long on large collections (scans, reading and writing files, the open)
// ask the store's Interrupt every few thousand documents or every megabyte. When it asks for a
// stop they return kInterrupted having changed nothing: no document appended, changed or removed,
// no collection registered, no file replaced.
class Store {
 public:
  // Opens the store on `directory`: creates the directory (one level) when nothing is at the path,
  // otherwise loads every regular "*.json" file in it as a collection and removes the temporary
  // files that killed writers left. `interrupt` must outlive the store.
  static Result<Store> open(std::string directory, Interrupt& interrupt = never_interrupted());

  // Writes an empty file for a new collection and registers it. An existing file is left alone;
  // a registered collection keeps its documents.
  Status create_collection(std::string_view name);
  // The stems of the directory's entries, in listing order (the directory, not the registry),
  // without temporary files and names that are not UTF-8.
  Result<std::vector<std::string>> collections() const;
  // Deletes the collection's file and unregisters it. A file that cannot be deleted (other than
  // one already gone) is the error, and the collection stays registered.
  Status drop_collection(std::string_view name);
  // Drops every collection whose stem is listed in the directory, then removes the directory if
  // it ended up empty. The first failure of a drop after trying them all.
  Status drop_all();

  // Loads the collection's file into the registry, replacing what was registered under the name.
  // kNotFound "Collection with name '<name>' not found on disk" when there is no file.
  Status update_in_memory_collections(std::string_view name);

  // Appends `documents` (one packed value) to the collection, or each element when it is an
  // array. A missing collection is loaded from its file, or created when it has none. kWrongType
  // "documents[<i>]: '<type>' object is not a document" for an element that is not an object,
  // and nothing is appended.
  Status insert_in_collection(std::string_view name, PackedBuffer documents);
  // Appends the documents of an import file whose members name collections: all or nothing, since
  // every collection is loaded or created before the first document is appended. Like
  // insert_in_collection, refuses what is not an object, as "<collection>[<i>]: ...".
  Status load_from_document(const std::string& path);
  // Appends the documents of an import file holding one array.
  Status insert_many_from_document(std::string_view name, const std::string& path);

  // The collection `name` (loaded from its file when it is not registered) and, for a query, the
  // positions of the documents that match it; a null answer stands for every document. Answers
  // come from the cache when the same query was answered on this collection since it last changed.
  // `options` then pick and order the documents returned (the answer is then theirs alone and is
  // not cached), and with fields the returned documents are projected copies. A limit without a
  // sort stops a scan that the cache cannot spare after skip + limit matches, caching nothing;
  // evaluation errors past that point are then never met.
  struct Found {
    SharedCollection collection;
    SharedAnswer answer;
    std::optional<Array> projected;  // the documents to return, when options.fields is set
  };
  Result<Found> find(std::string_view name, const Object* query, const FindOptions& options = {});
  // How many documents find(name, query) returns, without copying any: the collection's size
  // without a query. The answer may come from the cache and fills it; a document that is not an
  // object matches no query.
  Result<std::size_t> count(std::string_view name, const Object* query);
  // Removes the documents that match `query` (a document that is not an object matches none) and
  // returns how many. All or nothing: every document is tested before the first is removed, so an
  // evaluation error removes none. The others keep their order; memory only, like insert.
  Result<std::size_t> delete_matching(std::string_view name, const Object& query);
  void clear_cache() { cache_.clear(); }

  // Where update sends its trace lines, two for each condition of the update document.
  using TraceSink = std::function<void(std::string_view lines)>;
  // Empties the cache, then applies the update document to every document of the collection `name`
  // (loaded from its file when it is not registered), or to those matching `query`. Every failure
  // is an internal failure, and changes no document. The collection, as it is afterwards.
  Result<SharedCollection> update(std::string_view name, const Object& update, const Object* query,
                                  const TraceSink& trace);
  // The part of update that changes documents, once both documents are parsed: all or nothing,
  // since every check that can fail runs before the first change.
  Status update_documents(std::string_view name, Collection& collection,
                          const QueryEngine<UpdateOperator>& update,
                          const QueryEngine<QueryOperator>* query);

  // Writes one registered collection to its file. kNotFound when the name is not registered.
  Status write(std::string_view name) const;
  // Writes every registered collection, even after one failed; the first failure (an internal
  // one included) after trying them all. Every file is written in full before the first is
  // renamed into place (in batches of kMaxStagedFiles, to bound the open files), so that an
  // interruption replaces none.
  Status write_all() const { return write_registered(false); }
  // The same for the collections changed since they were loaded, created or last written.
  Status write_changed() const { return write_registered(true); }
  static constexpr std::size_t kMaxStagedFiles = 256;

  // Whether queries build and use automatic indexes (on by default). Answers are the same either
  // way; turning them off drops those built.
  void set_automatic_indexes(bool on) noexcept;
  // The indexes the registered collection `name` holds now; none when it is not registered.
  std::vector<IndexSummary> index_summary(std::string_view name) const;

 private:
  Store(std::string directory, Interrupt& interrupt)
      : directory_(std::move(directory)), interrupt_(&interrupt) {}

  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept {
      return std::hash<std::string_view>{}(name);
    }
  };
  using Registry = std::unordered_map<std::string, SharedCollection, NameHash, std::equal_to<>>;

  // The entries of the store directory: the names of those that may be collections (UTF-8,
  // not temporary files), and apart the paths of the temporary files.
  struct DirectoryEntries {
    std::vector<std::string> names;
    std::vector<std::string> temporary_files;
  };
  Result<DirectoryEntries> list_entries() const;
  // The start-up load: every regular "*.json" file, and stale temporary files removed.
  Status load_directory();
  // Reads a collection file (array or keyed form) and registers its documents as `name`.
  Status load_collection_file(const std::string& path, std::string_view name);
  // Registers the documents of the collection file at `path`, read as `content`.
  Status register_file_content(const std::string& path, std::string_view name,
                               PackedBuffer content);
  // The registered collection, loaded from its file first when it is not registered.
  Result<SharedCollection> collection(std::string_view name);
  SharedCollection lookup(std::string_view name) const;
  // The cached answer to `query` on `collection` when it is current, else null.
  SharedAnswer cached_answer(std::string_view name, const SharedCollection& collection,
                             const Object& query);
  // Appends to `positions` the positions of the documents of `collection` that match `engine`,
  // as scan_matches does: from the candidates an index gives when one may be used, else by a
  // scan, which notes what the query tests so that the indexes worth building get built (and
  // is kInterrupted when such a build was stopped).
  Status match(Collection& collection, const QueryEngine<QueryOperator>& engine,
               std::size_t stop_after, std::vector<std::uint32_t>& positions);
  // The positions find returns for `options` (sort, skip, limit) among `candidates` (null: every
  // document). kInterrupted when building the index to sort by was stopped.
  Result<std::vector<std::uint32_t>> select(Collection& collection,
                                            const std::vector<std::uint32_t>* candidates,
                                            const FindOptions& options);
  // The documents of `collection` that match `query`, by a scan that stops after `stop_after`
  // matches; the answer is not cached.
  Result<SharedAnswer> scan_query(const SharedCollection& collection, const Object& query,
                                  std::size_t stop_after);
  // The documents of `collection` (registered as `name`) that match `query`, from the cache when
  // it holds a current answer, else scanned and cached.
  Result<SharedAnswer> answer_query(std::string_view name, const SharedCollection& collection,
                                    const Object& query);
  // At least the first `count` matches (all of them when fewer): the cached answer, or a scan
  // that stops there and is not cached.
  Result<SharedAnswer> first_matches(std::string_view name, const SharedCollection& collection,
                                     const Object& query, std::size_t count);
  // The collection an insert appends to: registered, loaded from its file, or created (`created`).
  Result<SharedCollection> collection_for_insert(std::string_view name, bool& created);
  // Appends `value`, or each element when it is an array, and forgets the collection's cached
  // answers.
  void append(std::string_view name, Collection& collection, PackedValue value);
  void append(std::string_view name, Collection& collection, PackedBuffer documents);
  // Marks a change of the collection's documents: its cached answers are dropped and can no
  // longer be mistaken for current ones.
  void changed(std::string_view name, Collection& collection);
  // Writes `collection` to the file of `name` and notes the version written.
  Status write_collection(std::string_view name, Collection& collection) const;
  Status write_registered(bool only_changed) const;
  // Registers `documents` as the collection `name`, replacing any earlier one.
  void register_collection(std::string_view name, DocumentList documents);

  std::string directory_;
  Interrupt* interrupt_;
  Registry registry_;
  ResultCache cache_;
  bool automatic_indexes_ = true;
};

}  // namespace zarvel
