#include "lib/dotted_path.h"

namespace zarvel {

namespace {

// What `segments` name in a document of either form: a `const Value*` or an optional PackedValue,
// empty when nothing is there. Only the keys on the path are read.
template <class Document>
auto find_at_path(const Document& document, const std::vector<std::string>& segments) noexcept {
  using Found = decltype(document.as_object().find(std::string_view()));
  if (segments.empty() || !document.is_object()) return Found{};
  Found found = document.as_object().find(segments.front());
  for (std::size_t i = 1; found && i < segments.size(); ++i) {
    if (!found->is_object()) return Found{};
    found = found->as_object().find(segments[i]);
  }
  return found;
}

}  // namespace

std::vector<std::string> split_dotted_path(std::string_view path) {
  std::vector<std::string> segments;
  for (;;) {
    std::size_t dot = path.find('.');
    segments.emplace_back(path.substr(0, dot));
    if (dot == std::string_view::npos) return segments;
    path.remove_prefix(dot + 1);
  }
}

const Value* value_at_path(const Value& document,
                           const std::vector<std::string>& segments) noexcept {
  return find_at_path(document, segments);
}

std::optional<PackedValue> value_at_path(PackedValue document,
                                         const std::vector<std::string>& segments) noexcept {
  return find_at_path(document, segments);
}

}  // namespace zarvel
