// How collection names map onto files of the store directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace zarvel {

inline constexpr std::string_view kCollectionExtension = ".json";

// `entry` inside `directory`: the directory, a "/" unless it is empty or already ends with one,
// then the entry name.
std::string directory_entry_path(std::string_view directory, std::string_view entry);

// The file of collection `name` in store `directory`: the directory, a "/" unless the directory is
// empty or already ends with one, the name, then ".json". The name's own dots are kept, so every
// valid name has a file of its own and comes back unchanged when the directory is read again.
std::string collection_file_path(std::string_view directory, std::string_view name);

// A name must be non-empty and free of "/" so that its file stays inside the store directory, and
// short enough that its temporary file name fits the file system's limit, so that a collection
// that exists can always be written. Fails with kInvalidArgument "Invalid collection name
// '<name>'".
Status validate_collection_name(std::string_view name);

// The temporary file that stands in for the file at `target_path` while it is written: beside it,
// hidden, and ending in ".tmp" rather than ".json", so it is never taken for a collection file:
// "dir/c.json" gives "dir/.c.json.<16 hexadecimal digits of `unique`>.tmp".
std::string temporary_file_path(std::string_view target_path, std::uint64_t unique);

// Whether a directory entry name has the form temporary_file_path() gives.
bool is_temporary_file_name(std::string_view entry_name);

// A directory entry name without its last "." and what follows; a name without "." or whose only
// "." is its first character is its own stem.
std::string_view file_stem(std::string_view entry_name);

// The text after the last "." of an entry name, empty when file_stem() keeps the whole name.
std::string_view file_extension(std::string_view entry_name);

}  // namespace zarvel
