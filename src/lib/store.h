// The store: a directory of collection files and the collections held in memory.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "value/status.h"
#include "value/value.h"

namespace zarvel {

// The documents of one collection, in insertion order. Shared: the registry holds one reference
// and a running operation may hold another, so a collection dropped meanwhile lives on until then.
struct Collection {
  std::vector<Value> documents;
};
using SharedCollection = std::shared_ptr<Collection>;

class Store {
 public:
  // Opens the store on `directory`: creates the directory (one level) when nothing is at the path,
  // otherwise loads every collection file found in it.
  static Result<Store> open(std::string directory);

  const std::string& directory() const noexcept { return directory_; }

  // Writes an empty file for a new collection and registers it. An existing file is left alone;
  // a registered collection keeps its documents.
  Status create_collection(std::string_view name);
  // The stems of the directory's entries, in listing order (the directory, not the registry).
  Result<std::vector<std::string>> collections() const;
  // Deletes the collection's file (failures ignored) and unregisters it.
  Status drop_collection(std::string_view name);
  // Drops every collection whose stem is listed in the directory, then removes the directory if
  // it ended up empty.
  Status drop_all();

  // The registered collection of `name`, or null.
  SharedCollection lookup(std::string_view name) const;

 private:
  explicit Store(std::string directory) : directory_(std::move(directory)) {}

  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept {
      return std::hash<std::string_view>{}(name);
    }
  };
  using Registry = std::unordered_map<std::string, SharedCollection, NameHash, std::equal_to<>>;

  Status load_directory();

  std::string directory_;
  Registry registry_;
};

}  // namespace zarvel
