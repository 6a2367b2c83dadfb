// The automatic indexes of one collection: built once queries show a path worth it, kept current
// by every change, used only where they cannot change an answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/interrupt.h"
#include "base/status.h"
#include "index/path_index.h"
#include "query/query_engine.h"
#include "value/packed.h"

namespace zarvel {

struct IndexSummary {
  std::string path;  // the segments joined by "."
  IndexKind kind;
  std::size_t bytes;
};

// A path tested with an equality or $in, or with a range or a sort, is noted each time a scan
// answers such a query; the second time, on a collection of at least kMinDocuments, the index of
// that kind is built. At most kMaxIndexes are kept, the least recently used dropped first. Nothing
// here fails: where memory runs out, the indexes are dropped instead and scans answer.
class CollectionIndexes {
 public:
  static constexpr std::size_t kMaxIndexes = 6;
  static constexpr std::size_t kMinDocuments = 1000;
  static constexpr unsigned kUsesBeforeBuilding = 2;

  // `min_documents` other than kMinDocuments lets a test index a handful of documents.
  explicit CollectionIndexes(std::size_t min_documents = kMinDocuments) noexcept
      : min_documents_(min_documents) {}

  // The positions, ascending, of the only documents of `documents` that can match `engine`, read
  // from one index: every other document fails one of its conditions, and no condition before
  // that one could have stopped the scan with an error there. Empty when no index may be used or
  // narrows enough to beat a scan.
  std::optional<std::vector<std::uint32_t>> candidates(const QueryEngine<QueryOperator>& engine,
                                                       std::span<const PackedValue> documents);
  // Notes the paths that `engine`, just answered by a scan, tests; builds the indexes now due.
  // kInterrupted when `interrupt` stopped a build, which then leaves nothing behind.
  Status note_scan(const QueryEngine<QueryOperator>& engine, std::span<const PackedValue> documents,
                   Interrupt& interrupt) noexcept;
  // The ordered index to sort `documents` by `path`, when there is one and every document holds
  // a number there; settled, and valid until the next change. Otherwise null, the use noted, or
  // kInterrupted as note_scan.
  Result<const OrderedIndex*> sort_index(const FieldPath& path,
                                         std::span<const PackedValue> documents,
                                         Interrupt& interrupt) noexcept;

  // The changes of the collection, told as they happen.
  // Documents from `first` on were appended.
  void appended(std::span<const PackedValue> documents, std::size_t first) noexcept;
  // The documents at `positions` (ascending) are about to be removed.
  void removing(std::span<const std::uint32_t> positions,
                std::span<const PackedValue> documents) noexcept;
  // The documents at `positions` are about to change at `paths` (an update's field paths):
  // unfiled from the indexes that may no longer hold, to be refiled once they changed.
  void changing(std::span<const FieldPath* const> paths, std::span<const std::uint32_t> positions,
                std::span<const PackedValue> documents) noexcept;
  void changed(std::span<const std::uint32_t> positions,
               std::span<const PackedValue> documents) noexcept;

  void clear() noexcept;
  std::vector<IndexSummary> summary() const;

 private:
  struct Use {
    FieldPath path;
    IndexKind kind;
    unsigned count = 0;
    std::uint64_t last = 0;
  };
  // Noted uses of paths without an index; the least recently noted makes room.
  static constexpr std::size_t kMaxUses = 32;

  PathIndex* find(const FieldPath& path, IndexKind kind) noexcept;
  // Whether no document holds anything but a number at `path`, as an index there tells.
  bool numbers_only(const FieldPath& path) const noexcept;
  // Whether `condition`, reading the value at `at` (null: not a document path), could stop a
  // scan with an error.
  bool may_fail(const Condition<QueryOperator>& condition, const FieldPath* at) const noexcept;
  // Both false when `interrupt` stopped a build.
  bool note(const FieldPath& path, IndexKind kind, std::span<const PackedValue> documents,
            Interrupt& interrupt);
  bool build(const FieldPath& path, IndexKind kind, std::span<const PackedValue> documents,
             Interrupt& interrupt);

  std::size_t min_documents_;
  std::vector<PathIndex> indexes_;
  std::vector<Use> uses_;
  std::uint64_t clock_ = 0;
  // Set by changing(): the indexes to refile.
  std::vector<bool> unfiled_;
};

}  // namespace zarvel
