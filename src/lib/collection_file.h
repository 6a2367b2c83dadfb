// Reading JSON files into values and writing collections to their files.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/interrupt.h"
#include "base/status.h"
#include "lib/temporary_file.h"
#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// "while loading <path>": the note of a failure to read the file at `path`.
std::string loading_note(const std::string& path);

// Reads one JSON value from the file at `path`. Fails with kFileOperation "Error opening document "
// + the short form of the system error, or kBadContent "Error deserializing JSON" for anything
// unreadable.
// Either failure carries the note "while loading <path>", for JSON that went wrong followed by
// ": line L, column C" of the first byte refused. `interrupt` is asked every megabyte read, and a
// stop is kInterrupted.
Result<Value> read_document(const std::string& path, Interrupt& interrupt = never_interrupted());

// Reads a collection file as read_document does, but never waits: a FIFO or device in its place
// reads as what it holds at once (a FIFO without a writer as empty), so it cannot hang the store.
Result<Value> read_collection_file(const std::string& path,
                                   Interrupt& interrupt = never_interrupted());

// Reads a collection file for the start-up load: nullopt when `path` is not a regular file once
// links are followed (a directory, FIFO, device, dangling link or link loop cannot be a collection
// file). Asked before the file is opened and again of the open file, so a swap in between cannot
// make it block either.
Result<std::optional<Value>> read_collection_file_if_regular(
    const std::string& path, Interrupt& interrupt = never_interrupted());

// The three readers above, each giving the value of the file in the packed form: a buffer
// holding that one packed value. The same files fail the same way.
Result<PackedBuffer> read_packed_document(const std::string& path,
                                          Interrupt& interrupt = never_interrupted());
Result<PackedBuffer> read_packed_collection_file(const std::string& path,
                                                 Interrupt& interrupt = never_interrupted());
Result<std::optional<PackedBuffer>> read_packed_collection_file_if_regular(
    const std::string& path, Interrupt& interrupt = never_interrupted());

// Writes `documents` as one compact JSON array to `path`, durably and atomically: the text goes to
// a temporary file of this write's own beside it (TemporaryFile), which is synced, renamed over
// `path`, and the directory synced. On every failure the temporary file is removed and `path`
// keeps its old content; the new file keeps the permission bits of the old one. `interrupt` is
// asked every megabyte written, and a stop is kInterrupted, before anything is renamed.
Status write_collection_file(const std::string& path, std::span<const Value> documents,
                             Interrupt& interrupt = never_interrupted());
// The same for packed documents, which must stay unchanged until it returns: the same text.
Status write_collection_file(const std::string& path, std::span<const PackedValue> documents,
                             Interrupt& interrupt = never_interrupted());

// The two steps of write_collection_file, for writing several files all or nothing: the first
// leaves the whole text synced in the temporary file (removed when it is destroyed unmoved), the
// second renames it over `path` and syncs the directory.
Result<TemporaryFile> stage_collection_file(const std::string& path,
                                            std::span<const Value> documents,
                                            Interrupt& interrupt = never_interrupted());
Result<TemporaryFile> stage_collection_file(const std::string& path,
                                            std::span<const PackedValue> documents,
                                            Interrupt& interrupt = never_interrupted());
Status install_collection_file(TemporaryFile& staged);

// Creates the file at `path` holding `content` the same way, durably and atomically, but never
// replaces anything: when something, even a dangling link, is at `path`, nothing changes and the
// result is EEXIST. Failures are the system's errors as they are.
Status create_collection_file(const std::string& path, std::string_view content);

}  // namespace zarvel
