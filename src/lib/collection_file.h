// Reading JSON files into values and writing collections to their files.
#pragma once

#include <span>
#include <string>

#include "value/status.h"
#include "value/value.h"

namespace zarvel {

// Reads one JSON value from the file at `path`. Fails with OSError "Error opening document " + the
// short form of the system error, or ValueError "Error deserializing JSON" for anything unreadable.
Result<Value> read_document(const std::string& path);

// Writes `documents` as one compact JSON array to `path`, durably and atomically: the text goes to
// a temporary file of this write's own beside it (TemporaryFile), which is synced, renamed over
// `path`, and the directory synced. On every failure the temporary file is removed and `path`
// keeps its old content; the new file keeps the permission bits of the old one.
Status write_collection_file(const std::string& path, std::span<const Value> documents);

// "Os { code: 13, kind: PermissionDenied, message: \"Permission denied\" }".
std::string os_detailed_form(int errnum);

}  // namespace zarvel
