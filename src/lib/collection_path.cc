#include "lib/collection_path.h"

#include <climits>

namespace zarvel {

namespace {

constexpr std::string_view kTemporaryPrefix = ".";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kUniqueDigits = 16;

// The longest entry name a file system takes; Linux and the BSDs agree on 255 bytes.
#ifdef NAME_MAX
constexpr std::size_t kNameMax = NAME_MAX;
#else
constexpr std::size_t kNameMax = 255;
#endif

// The bytes a collection name gains in its temporary file name: ".", ".json", "." and the digits,
// ".tmp".
constexpr std::size_t kTemporaryNameOverhead = kTemporaryPrefix.size() +
                                               kCollectionExtension.size() + 1 + kUniqueDigits +
                                               kTemporarySuffix.size();

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::string directory_entry_path(std::string_view directory, std::string_view entry) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += entry;
  return path;
}

std::string collection_file_path(std::string_view directory, std::string_view name) {
  std::string path = directory_entry_path(directory, name);
  path += kCollectionExtension;
  return path;
}

Status validate_collection_name(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos ||
      name.size() + kTemporaryNameOverhead > kNameMax) {
    return Status::invalid_argument("Invalid collection name '" + std::string(name) + "'");
  }
  return Status();
}

std::string temporary_file_path(std::string_view target_path, std::uint64_t unique) {
  std::size_t name_start = target_path.rfind('/') + 1;  // 0 when there is no "/"
  char digits[kUniqueDigits + 1];
  for (std::size_t i = 0; i < kUniqueDigits; ++i) {
    digits[i] = "0123456789abcdef"[(unique >> (4 * (kUniqueDigits - 1 - i))) & 0xF];
  }
  digits[kUniqueDigits] = '\0';
  std::string path(target_path.substr(0, name_start));
  path += kTemporaryPrefix;
  path += target_path.substr(name_start);
  path += '.';
  path += digits;
  path += kTemporarySuffix;
  return path;
}

bool is_temporary_file_name(std::string_view entry_name) {
  // "." + at least one byte + ".json" + "." + the digits + ".tmp".
  std::size_t shortest = kTemporaryNameOverhead + 1;
  if (entry_name.size() < shortest || !entry_name.starts_with(kTemporaryPrefix) ||
      !entry_name.ends_with(kTemporarySuffix)) {
    return false;
  }
  std::string_view rest = entry_name.substr(0, entry_name.size() - kTemporarySuffix.size());
  std::string_view digits = rest.substr(rest.size() - kUniqueDigits);
  for (char c : digits) {
    if (!is_hex_digit(c)) return false;
  }
  rest.remove_suffix(kUniqueDigits);
  return rest.ends_with(std::string(kCollectionExtension) + ".");
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
