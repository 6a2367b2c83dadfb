#include "lib/dotted_path.h"

#include "query/field_path.h"

namespace zarvel {

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
  if (!document.is_object()) return nullptr;
  const Object* parent = field_parent(document.as_object(), segments);
  return parent == nullptr ? nullptr : parent->find(segments.back());
}

}  // namespace zarvel
