#include "index/collection_indexes.h"

#include <algorithm>
#include <new>
#include <span>

#include "query/value_set.h"

namespace zarvel {

namespace {

// Past this share of the documents, reading candidates one by one costs more than a scan.
constexpr std::size_t kMostCandidatesPerDocuments = 4;
// An update of more documents than this, or than a sixteenth of them, drops the indexes it
// touches rather than refiling each document: rebuilding them on their next use costs less.
constexpr std::size_t kMostRefiled = 64;

// Whether a change at one path may change the value at the other: one contains the other.
bool overlaps(const FieldPath& a, const FieldPath& b) noexcept {
  std::size_t n = std::min(a.size(), b.size());
  return std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
}

bool is_lookup(const Condition<QueryOperator>& condition) noexcept {
  return condition.op == QueryOperator::Equal ||
         (condition.op == QueryOperator::In && condition.value.is_array());
}

// The values a lookup asks for: the operand of an equality, the elements of an $in list.
std::span<const Value> looked_up(const Condition<QueryOperator>& condition) noexcept {
  if (condition.op == QueryOperator::Equal) return {&condition.value, 1};
  const Array& elements = condition.value.as_array();
  return {elements.begin(), elements.size()};
}

bool is_numeric_range(const Condition<QueryOperator>& condition) noexcept {
  return is_ordering(condition.op) && condition.value.is_number();
}

void narrow(NumberRange& range, const Condition<QueryOperator>& condition) noexcept {
  double bound = condition.value.as_number().to_double();
  switch (condition.op) {
    case QueryOperator::GreaterThan:
      return range.raise_low(bound, false);
    case QueryOperator::GreaterThanEqual:
      return range.raise_low(bound, true);
    case QueryOperator::LessThan:
      return range.lower_high(bound, false);
    default:
      return range.lower_high(bound, true);
  }
}

}  // namespace

PathIndex* CollectionIndexes::find(const FieldPath& path, IndexKind kind) noexcept {
  for (PathIndex& index : indexes_) {
    if (index.kind() == kind && index.path() == path) return &index;
  }
  return nullptr;
}

bool CollectionIndexes::numbers_only(const FieldPath& path) const noexcept {
  return std::any_of(indexes_.begin(), indexes_.end(), [&](const PathIndex& index) {
    return index.others() == 0 && index.path() == path;
  });
}

bool CollectionIndexes::may_fail(const Condition<QueryOperator>& condition,
                                 const FieldPath* at) const noexcept {
  // Only the ordering operators fail, on a value or an operand that is not a number.
  if (is_ordering(condition.op)) {
    return !(at != nullptr && condition.value.is_number() && numbers_only(*at));
  }
  // $not reads the same value; $elemMatch reads elements, which no index describes.
  bool elements = condition.op == QueryOperator::ElemMatch;
  for (const Condition<QueryOperator>& inner : condition.operators) {
    if (may_fail(inner, elements ? nullptr : at)) return true;
  }
  for (const QueryEngine<QueryOperator>& branch : condition.branches) {
    for (const Condition<QueryOperator>& inner : branch.conditions()) {
      if (may_fail(inner, elements ? nullptr : &inner.fields)) return true;
    }
  }
  return false;
}

std::optional<std::vector<std::uint32_t>> CollectionIndexes::candidates(
    const QueryEngine<QueryOperator>& engine, std::span<const PackedValue> documents) {
  if (indexes_.empty()) return std::nullopt;
  // The narrowest condition an index serves. A scan tests conditions in order and stops at the
  // first that fails, so skipping the documents that fail one cannot skip an error as long as
  // no condition before it can fail.
  const auto& conditions = engine.conditions();
  const Condition<QueryOperator>* chosen = nullptr;
  PathIndex* chosen_index = nullptr;
  NumberRange chosen_range;
  std::size_t fewest = documents.size() / kMostCandidatesPerDocuments + 1;
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    const Condition<QueryOperator>& condition = conditions[i];
    if (is_lookup(condition)) {
      if (PathIndex* index = find(condition.fields, IndexKind::kHash)) {
        std::size_t count = 0;
        for (const Value& value : looked_up(condition)) {
          count += index->hash().count(value_hash(value), fewest);
          if (count >= fewest) break;
        }
        if (count < fewest) {
          fewest = count;
          chosen = &condition;
          chosen_index = index;
        }
      }
    } else if (is_numeric_range(condition)) {
      PathIndex* index = find(condition.fields, IndexKind::kOrdered);
      // With a non-number at the path, the scan could stop with an error where the index skips.
      if (index != nullptr && index->others() == 0) {
        // Changes are merged in when a query needs them, not as they come: a large insert
        // should not wait for a sort.
        index->trim();
        // The bounds of the ordering conditions that follow on the same path narrow it further.
        NumberRange range;
        for (std::size_t j = i; j < conditions.size() && is_numeric_range(conditions[j]) &&
                                conditions[j].fields == condition.fields;
             ++j) {
          narrow(range, conditions[j]);
        }
        std::size_t count = index->ordered().count(range);
        if (count < fewest) {
          fewest = count;
          chosen = &condition;
          chosen_index = index;
          chosen_range = range;
        }
      }
    }
    if (may_fail(condition, &condition.fields)) break;
  }
  if (chosen == nullptr) return std::nullopt;
  chosen_index->last_used = ++clock_;
  std::vector<std::uint32_t> positions;
  positions.reserve(fewest);
  if (!is_lookup(*chosen)) {
    chosen_index->ordered().collect(chosen_range, positions);
  } else {
    std::span<const Value> values = looked_up(*chosen);
    for (const Value& value : values) chosen_index->hash().collect(value_hash(value), positions);
    // One value's positions come ascending, as they are.
    if (values.size() == 1) return positions;
  }
  std::sort(positions.begin(), positions.end());
  // Equal elements of an $in list, or elements whose hashes agree, gave the same positions.
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

Status CollectionIndexes::note_scan(const QueryEngine<QueryOperator>& engine,
                                    std::span<const PackedValue> documents,
                                    Interrupt& interrupt) noexcept {
  ++clock_;
  try {
    for (const Condition<QueryOperator>& condition : engine.conditions()) {
      bool done = true;
      if (is_lookup(condition)) {
        done = note(condition.fields, IndexKind::kHash, documents, interrupt);
      } else if (is_numeric_range(condition)) {
        done = note(condition.fields, IndexKind::kOrdered, documents, interrupt);
      }
      if (!done) return Status::interrupted();
    }
  } catch (const std::bad_alloc&) {
    // An index that could not be built is simply not there.
  }
  return Status();
}

Result<const OrderedIndex*> CollectionIndexes::sort_index(const FieldPath& path,
                                                          std::span<const PackedValue> documents,
                                                          Interrupt& interrupt) noexcept {
  ++clock_;
  const OrderedIndex* none = nullptr;
  try {
    PathIndex* index = find(path, IndexKind::kOrdered);
    if (index == nullptr) {
      if (!note(path, IndexKind::kOrdered, documents, interrupt)) return Status::interrupted();
      index = find(path, IndexKind::kOrdered);
    }
    // A document without a number there sorts before or after the numbers, a string among other
    // kinds: only the common case is served.
    if (index == nullptr || index->numbers() != documents.size()) return none;
    index->last_used = clock_;
    index->ordered().settle();
    return &index->ordered();
  } catch (const std::bad_alloc&) {
    return none;  // settle() changed nothing, and a failed build left nothing behind
  }
}

bool CollectionIndexes::note(const FieldPath& path, IndexKind kind,
                             std::span<const PackedValue> documents, Interrupt& interrupt) {
  if (PathIndex* index = find(path, kind)) {
    index->last_used = clock_;
    return true;
  }
  auto use = std::find_if(uses_.begin(), uses_.end(),
                          [&](const Use& u) { return u.kind == kind && u.path == path; });
  if (use == uses_.end()) {
    if (uses_.size() == kMaxUses) {
      uses_.erase(std::min_element(uses_.begin(), uses_.end(),
                                   [](const Use& a, const Use& b) { return a.last < b.last; }));
    }
    uses_.push_back(Use{path, kind});
    use = uses_.end() - 1;
  }
  // Several conditions of one query on one path are one use.
  if (use->last == clock_) return true;
  use->last = clock_;
  if (++use->count >= kUsesBeforeBuilding && documents.size() >= min_documents_) {
    return build(path, kind, documents, interrupt);
  }
  return true;
}

bool CollectionIndexes::build(const FieldPath& path, IndexKind kind,
                              std::span<const PackedValue> documents, Interrupt& interrupt) {
  PathIndex index(path, kind);
  if (!index.build(documents, interrupt)) return false;
  index.last_used = clock_;
  if (indexes_.size() == kMaxIndexes) {
    indexes_.erase(std::min_element(
        indexes_.begin(), indexes_.end(),
        [](const PathIndex& a, const PathIndex& b) { return a.last_used < b.last_used; }));
  }
  indexes_.push_back(std::move(index));
  return true;
}

void CollectionIndexes::appended(std::span<const PackedValue> documents,
                                 std::size_t first) noexcept {
  try {
    for (PathIndex& index : indexes_) index.add_from(documents, first);
  } catch (const std::bad_alloc&) {
    clear();
  }
}

void CollectionIndexes::removing(std::span<const std::uint32_t> positions,
                                 std::span<const PackedValue> documents) noexcept {
  if (indexes_.empty() || positions.empty()) return;
  try {
    std::vector<std::uint32_t> new_position(documents.size());
    std::size_t removed = 0;
    for (std::size_t i = 0; i < documents.size(); ++i) {
      if (removed < positions.size() && positions[removed] == i) {
        new_position[i] = HashIndex::kNone;
        ++removed;
      } else {
        new_position[i] = static_cast<std::uint32_t>(i - removed);
      }
    }
    for (PathIndex& index : indexes_) {
      for (std::uint32_t i : positions) index.uncount(documents[i]);
      index.remap(new_position, documents.size() - positions.size());
    }
  } catch (const std::bad_alloc&) {
    clear();
  }
}

void CollectionIndexes::changing(std::span<const FieldPath* const> paths,
                                 std::span<const std::uint32_t> positions,
                                 std::span<const PackedValue> documents) noexcept {
  auto touched = [&](const PathIndex& index) {
    return std::any_of(paths.begin(), paths.end(),
                       [&](const FieldPath* path) { return overlaps(*path, index.path()); });
  };
  if (positions.size() > std::max(kMostRefiled, documents.size() / 16)) {
    std::erase_if(indexes_, touched);
    unfiled_.clear();
    return;
  }
  try {
    unfiled_.assign(indexes_.size(), false);
    for (std::size_t k = 0; k < indexes_.size(); ++k) {
      if (!touched(indexes_[k])) continue;
      unfiled_[k] = true;
      for (std::uint32_t i : positions) indexes_[k].remove(i, documents[i]);
    }
  } catch (const std::bad_alloc&) {
    clear();
  }
}

void CollectionIndexes::changed(std::span<const std::uint32_t> positions,
                                std::span<const PackedValue> documents) noexcept {
  try {
    for (std::size_t k = 0; k < unfiled_.size(); ++k) {
      if (!unfiled_[k]) continue;
      for (std::uint32_t i : positions) indexes_[k].add(i, documents[i]);
    }
  } catch (const std::bad_alloc&) {
    clear();
  }
  unfiled_.clear();
}

void CollectionIndexes::clear() noexcept {
  indexes_.clear();
  unfiled_.clear();
}

std::vector<IndexSummary> CollectionIndexes::summary() const {
  std::vector<IndexSummary> out;
  for (const PathIndex& index : indexes_) {
    std::string path;
    for (std::size_t i = 0; i < index.path().size(); ++i) {
      if (i > 0) path += '.';
      path += index.path()[i];
    }
    out.push_back(IndexSummary{std::move(path), index.kind(), index.memory_bytes()});
  }
  return out;
}

}  // namespace zarvel
