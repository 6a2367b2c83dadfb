#include "lib/collection_path.h"

namespace zarvel {

std::string collection_file_path(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  path += kCollectionExtension;
  return path;
}

Status validate_collection_name(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos) {
    return Status::value_error("Invalid collection name '" + std::string(name) + "'");
  }
  return Status();
}

namespace {

// Position of the dot that starts the extension, or npos.
std::size_t extension_dot(std::string_view entry_name) {
  std::size_t dot = entry_name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string_view::npos;
  return dot;
}

}  // namespace

std::string_view file_stem(std::string_view entry_name) {
  return entry_name.substr(0, extension_dot(entry_name));
}

std::string_view file_extension(std::string_view entry_name) {
  std::size_t dot = extension_dot(entry_name);
  return dot == std::string_view::npos ? std::string_view() : entry_name.substr(dot + 1);
}

}  // namespace zarvel
