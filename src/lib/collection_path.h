// How collection names map onto files of the store directory.
#pragma once

#include <string>
#include <string_view>

#include "value/status.h"

namespace zarvel {

inline constexpr std::string_view kCollectionExtension = ".json";

// The file of collection `name` in store `directory`: the directory, a "/" unless the directory is
// empty or already ends with one, the name, then ".json". The name's own dots are kept, so every
// valid name has a file of its own and comes back unchanged when the directory is read again.
std::string collection_file_path(std::string_view directory, std::string_view name);

// A name must be non-empty and free of "/" so that its file stays inside the store directory.
// Fails with ValueError "Invalid collection name '<name>'".
Status validate_collection_name(std::string_view name);

// A directory entry name without its last "." and what follows; a name without "." or whose only
// "." is its first character is its own stem.
std::string_view file_stem(std::string_view entry_name);

// The text after the last "." of an entry name, empty when file_stem() keeps the whole name.
std::string_view file_extension(std::string_view entry_name);

}  // namespace zarvel
