#include "lib/store.h"

#include "lib/collection_path.h"
#include "lib/file_system.h"

namespace zarvel {

Result<Store> Store::open(std::string directory) {
  Store store(std::move(directory));
  if (!path_exists(store.directory_)) {
    // A directory that cannot be made (missing parent, no permission) is not an error here: the
    // store opens empty and the first operation that needs the directory reports the problem.
    (void)make_directory(store.directory_);
    return store;
  }
  Status loaded = store.load_directory();
  if (!loaded.ok()) return loaded;
  return store;
}

Status Store::load_directory() {
  Result<std::vector<std::string>> names = list_directory(directory_);
  if (!names.ok()) return std::move(names).status();
  return Status();
}

Status Store::create_collection(std::string_view name) {
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  std::string path = collection_file_path(directory_, name);
  if (path_exists(path)) return Status();
  Result<FileHandle> file = create_for_writing(path);
  if (!file.ok()) return std::move(file).status();
  std::string content = "{ \"";
  content += name;
  content += "\":[] }";
  if (Status written = write_all(file.value().fd(), content); !written.ok()) return written;
  if (registry_.find(name) == registry_.end()) {
    registry_.emplace(std::string(name), std::make_shared<Collection>());
  }
  return Status();
}

Result<std::vector<std::string>> Store::collections() const {
  Result<std::vector<std::string>> names = list_directory(directory_);
  if (!names.ok()) return names;
  for (std::string& name : names.value()) name = std::string(file_stem(name));
  return names;
}

Status Store::drop_collection(std::string_view name) {
  if (Status valid = validate_collection_name(name); !valid.ok()) return valid;
  (void)remove_file(collection_file_path(directory_, name));
  if (auto it = registry_.find(name); it != registry_.end()) registry_.erase(it);
  return Status();
}

Status Store::drop_all() {
  Result<std::vector<std::string>> names = collections();
  if (!names.ok()) return Status::panic_unwrap(std::move(names).status());
  for (const std::string& name : names.value()) {
    // A stem that is no valid collection name (".hidden" is fine, "" is not) names no collection
    // file; there is nothing of it to drop.
    (void)drop_collection(name);
  }
  (void)remove_directory(directory_);
  return Status();
}

SharedCollection Store::lookup(std::string_view name) const {
  auto it = registry_.find(name);
  return it == registry_.end() ? nullptr : it->second;
}

}  // namespace zarvel

