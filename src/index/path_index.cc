#include "index/path_index.h"

#include <array>
#include <optional>

#include "query/field_path.h"
#include "query/value_set.h"

namespace zarvel {

namespace {

std::optional<PackedValue> field_of(PackedValue document, const FieldPath& path) noexcept {
  if (!document.is_object()) return std::nullopt;
  return packed_field(document.as_object(), path);
}

}  // namespace

PathIndex::PathIndex(FieldPath path, IndexKind kind)
    : path_(std::move(path)),
      kind_(kind),
      index_(kind == IndexKind::kHash ? std::variant<HashIndex, OrderedIndex>(HashIndex())
                                      : std::variant<HashIndex, OrderedIndex>(OrderedIndex())) {}

bool PathIndex::build(std::span<const PackedValue> documents, Interrupt& interrupt) {
  InterruptPoll poll(interrupt);
  if (auto* hash = std::get_if<HashIndex>(&index_)) {
    // Sized for every document to differ, so that no growth leaves old tables behind, then
    // for the values there are.
    hash->reserve(documents.size());
    for (std::size_t i = 0; i < documents.size(); i += InterruptPoll::kDocumentsPerCheck) {
      if (interrupt.requested()) return false;
      add_from(documents.first(std::min(documents.size(), i + InterruptPoll::kDocumentsPerCheck)),
               i);
    }
    hash->shrink_to_fit();
    return true;
  }
  // Sorted once at the end rather than merged in as they come.
  std::vector<OrderedIndex::Entry> entries;
  entries.reserve(documents.size());
  for (std::size_t i = 0; i < documents.size(); ++i) {
    if (poll.stop()) return false;
    std::optional<PackedValue> field = field_of(documents[i], path_);
    if (!field) continue;
    ++tally(*field);
    if (field->is_number()) {
      entries.push_back({field->as_number().to_double(), static_cast<std::uint32_t>(i)});
    }
  }
  ordered().load(std::move(entries));
  return true;
}

void PathIndex::add(std::uint32_t position, PackedValue document) {
  std::optional<PackedValue> field = field_of(document, path_);
  if (!field) return;
  if (auto* hash = std::get_if<HashIndex>(&index_)) {
    hash->insert(position, value_hash(*field));
  } else if (field->is_number()) {
    ordered().insert(position, field->as_number().to_double());
  }
  ++tally(*field);
}

void PathIndex::add_from(std::span<const PackedValue> documents, std::size_t first) {
  auto* hash = std::get_if<HashIndex>(&index_);
  if (hash == nullptr) {
    for (std::size_t i = first; i < documents.size(); ++i) {
      add(static_cast<std::uint32_t>(i), documents[i]);
    }
    return;
  }
  // Each document's hash is taken a few documents before it is filed, and its slot asked for.
  constexpr std::size_t kAhead = 8;
  std::array<std::optional<std::uint64_t>, kAhead> hashes;
  for (std::size_t i = first; i < documents.size() + kAhead; ++i) {
    if (i >= first + kAhead) {
      std::size_t filed = i - kAhead;
      if (const auto& h = hashes[filed % kAhead])
        hash->insert(static_cast<std::uint32_t>(filed), *h);
    }
    if (i >= documents.size()) continue;
    std::optional<PackedValue> field = field_of(documents[i], path_);
    hashes[i % kAhead].reset();
    if (!field) continue;
    std::uint64_t h = value_hash(*field);
    hash->prefetch(h);
    hashes[i % kAhead] = h;
    ++tally(*field);
  }
}

void PathIndex::remove(std::uint32_t position, PackedValue document) {
  std::optional<PackedValue> field = field_of(document, path_);
  if (!field) return;
  if (auto* hash = std::get_if<HashIndex>(&index_)) {
    hash->erase(position, value_hash(*field));
  } else if (field->is_number()) {
    ordered().erase(position);
  }
  --tally(*field);
}

void PathIndex::trim() {
  if (auto* ordered = std::get_if<OrderedIndex>(&index_)) ordered->trim();
}

void PathIndex::uncount(PackedValue document) noexcept {
  std::optional<PackedValue> field = field_of(document, path_);
  if (field) --tally(*field);
}

void PathIndex::remap(std::span<const std::uint32_t> new_position, std::size_t new_size) {
  if (auto* hash = std::get_if<HashIndex>(&index_)) {
    hash->remap(new_position, new_size);
  } else {
    ordered().remap(new_position);
  }
}

std::size_t PathIndex::memory_bytes() const noexcept {
  return kind_ == IndexKind::kHash ? hash().memory_bytes() : ordered().memory_bytes();
}

}  // namespace zarvel
