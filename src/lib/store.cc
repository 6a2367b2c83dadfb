// Opening a store, the registry, loading collection files and writing them.
#include "lib/store.h"

#include <cerrno>

#include "base/utf8.h"
#include "lib/collection_file.h"
#include "lib/collection_path.h"
#include "lib/file_system.h"
#include "lib/temporary_file.h"
#include "value/json_writer.h"

namespace zarvel {

namespace {

// The documents of a collection file, held in `file` as one packed value: either the array form
// (`[...]`, written by write) or the keyed form (`{ "name":[...] }`, written by create_collection).
// Anything else is an internal failure: the file is not a collection file.
Result<PackedArray> collection_documents(const PackedBuffer& file, std::string_view name) {
  PackedValue content(file.data());
  if (content.is_array()) return content.as_array();
  if (content.is_object()) {
    if (std::optional<PackedValue> member = content.as_object().find(name);
        member && member->is_array()) {
      return member->as_array();
    }
  }
  return Status::internal_none();
}

}  // namespace

Result<Store> Store::open(std::string directory, Interrupt& interrupt) {
  Store store(std::move(directory), interrupt);
  if (!path_exists(store.directory_)) {
    // A directory that cannot be made (missing parent, no permission) is not an error here: the
    // store opens empty and the first operation that needs the directory reports the problem.
    (void)make_directory(store.directory_);
    return store;
  }
  if (Status loaded = store.load_directory(); !loaded.ok()) return loaded;
  return store;
}

Result<Store::DirectoryEntries> Store::list_entries() const {
  Result<std::vector<std::string>> entries = list_directory(directory_);
  if (!entries.ok()) return std::move(entries).status();
  DirectoryEntries sorted;
  for (std::string& entry : entries.value()) {
    if (is_temporary_file_name(entry)) {
      sorted.temporary_files.push_back(directory_entry_path(directory_, entry));
    } else if (is_valid_utf8(entry)) {
      // A name that is not UTF-8 cannot be a collection name (those come from Python str).
      sorted.names.push_back(std::move(entry));
    }
  }
  return sorted;
}

Status Store::load_directory() {
  // The whole listing is read before any file is opened.
  Result<DirectoryEntries> entries = list_entries();
  if (!entries.ok()) return std::move(entries).status();
  for (const std::string& path : entries.value().temporary_files) remove_if_stale(path);
  for (const std::string& entry : entries.value().names) {
    // Asked per file too, not only per megabyte: a store may hold many small files.
    if (interrupt_->requested()) return Status::interrupted();
    std::string_view name = file_stem(entry);
    if (file_extension(entry) != "json" || !validate_collection_name(name).ok()) continue;
    std::string path = collection_file_path(directory_, name);
    Result<std::optional<PackedBuffer>> content =
        read_packed_collection_file_if_regular(path, *interrupt_);
    if (!content.ok()) return std::move(content).status();
    if (!content.value())
      continue;  // a directory, FIFO, device or dangling link: not a collection file
    if (Status added = register_file_content(path, name, std::move(*content.value()));
        !added.ok()) {
      return added;
    }
  }
  return Status();
}

SharedCollection Store::lookup(std::string_view name) const {
  auto it = registry_.find(name);
  return it == registry_.end() ? nullptr : it->second;
}

void Store::register_collection(std::string_view name, DocumentList documents) {
  auto collection = std::make_shared<Collection>();
  collection->documents = std::move(documents);
  if (auto it = registry_.find(name); it != registry_.end()) {
    it->second = std::move(collection);
  } else {
    registry_.emplace(std::string(name), std::move(collection));
  }
  cache_.invalidate(name);
}

void Store::set_automatic_indexes(bool on) noexcept {
  automatic_indexes_ = on;
  if (on) return;
  for (auto& [name, collection] : registry_) collection->indexes.clear();
}

std::vector<IndexSummary> Store::index_summary(std::string_view name) const {
  SharedCollection collection = lookup(name);
  return collection ? collection->indexes.summary() : std::vector<IndexSummary>{};
}

Status Store::create_collection(std::string_view name) {
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  std::string path = collection_file_path(directory_, name);
  // Whatever is there is left alone, a dangling link included: following it could create a file
  // outside the store.
  if (entry_exists(path)) return Status();
  std::string content = "{ ";
  append_json_string(content, name);
  content += ":[] }";
  Status created = create_collection_file(path, content);
  if (created.os_errno() == EEXIST) return Status();  // it appeared since the check: kept too
  if (!created.ok()) return created;
  if (registry_.find(name) == registry_.end()) register_collection(name, {});
  return Status();
}

Result<std::vector<std::string>> Store::collections() const {
  Result<DirectoryEntries> entries = list_entries();
  if (!entries.ok()) return std::move(entries).status();
  std::vector<std::string> names;
  for (const std::string& entry : entries.value().names) names.emplace_back(file_stem(entry));
  return names;
}

Status Store::drop_collection(std::string_view name) {
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  // A file that stays would be loaded again by the next find: the collection stays registered
  // and the caller hears why. A file already gone is what was asked for.
  Status removed = remove_file(collection_file_path(directory_, name));
  if (!removed.ok() && removed.os_errno() != ENOENT) return removed;
  if (auto it = registry_.find(name); it != registry_.end()) registry_.erase(it);
  cache_.invalidate(name);
  return Status();
}

Status Store::drop_all() {
  Result<DirectoryEntries> entries = list_entries();
  if (!entries.ok()) return Status::internal_unwrap(std::move(entries).status());
  Status first_failure;
  for (const std::string& entry : entries.value().names) {
    std::string_view name = file_stem(entry);
    if (!validate_collection_name(name).ok()) continue;  // no collection can have that name
    Status dropped = drop_collection(name);
    if (!dropped.ok() && first_failure.ok()) first_failure = std::move(dropped);
  }
  // Left by killed writers, they would keep the directory from being removed.
  for (const std::string& path : entries.value().temporary_files) remove_if_stale(path);
  (void)remove_directory(directory_);  // fails unless the directory is now empty
  return first_failure;
}

Status Store::update_in_memory_collections(std::string_view name) {
  std::string path = collection_file_path(directory_, name);
  if (!path_exists(path)) {
    return Status::not_found("Collection with name '" + std::string(name) + "' not found on disk");
  }
  return load_collection_file(path, name);
}

Status Store::load_collection_file(const std::string& path, std::string_view name) {
  Result<PackedBuffer> content = read_packed_collection_file(path, *interrupt_);
  if (!content.ok()) return std::move(content).status();
  return register_file_content(path, name, std::move(content).value());
}

Status Store::register_file_content(const std::string& path, std::string_view name,
                                    PackedBuffer content) {
  Result<PackedArray> documents = collection_documents(content, name);
  if (!documents.ok()) return std::move(documents).status().with_note(loading_note(path));
  DocumentList list;
  list.adopt(std::move(content), documents.value());
  register_collection(name, std::move(list));
  return Status();
}

Result<SharedCollection> Store::collection(std::string_view name) {
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  if (SharedCollection found = lookup(name)) return found;
  if (Status loaded = update_in_memory_collections(name); !loaded.ok()) return loaded;
  if (SharedCollection found = lookup(name)) return found;
  return Status::internal_none();
}

Status Store::write(std::string_view name) const {
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  SharedCollection collection = lookup(name);
  if (!collection) {
    return Status::not_found("Collection '" + std::string(name) +
                             "' not found in stored collections");
  }
  return write_collection(name, *collection);
}

Status Store::write_collection(std::string_view name, Collection& collection) const {
  Status written = write_collection_file(collection_file_path(directory_, name),
                                         collection.documents.all(), *interrupt_);
  if (written.ok()) collection.written_version = collection.version;
  return written;
}

Status Store::write_registered(bool only_changed) const {
  // A failure of one collection, an internal one included, says nothing about the others: each
  // is tried, so that as many as possible reach the disk. An interruption stops them all, and the
  // files staged so far are removed unrenamed.
  Status first_failure;
  auto note = [&first_failure](Status status) {
    if (!status.ok() && first_failure.ok()) first_failure = std::move(status);
  };
  struct Staged {
    TemporaryFile file;
    Collection* collection;
  };
  std::vector<Staged> staged;
  auto install_staged = [&] {
    for (Staged& written : staged) {
      Status installed = install_collection_file(written.file);
      if (installed.ok()) written.collection->written_version = written.collection->version;
      note(std::move(installed));
    }
    staged.clear();
  };
  for (const auto& [name, collection] : registry_) {
    if (only_changed && !collection->changed_since_written()) continue;
    if (interrupt_->requested()) return Status::interrupted();  // per file, as for many small ones
    if (staged.size() == kMaxStagedFiles) install_staged();
    Result<TemporaryFile> file = stage_collection_file(collection_file_path(directory_, name),
                                                       collection->documents.all(), *interrupt_);
    if (file.ok()) {
      staged.push_back({std::move(file).value(), collection.get()});
    } else if (file.status().kind() == ErrorKind::kInterrupted) {
      return std::move(file).status();
    } else {
      note(std::move(file).status());
    }
  }
  install_staged();
  return first_failure;
}

}  // namespace zarvel
