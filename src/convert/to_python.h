// Document value to Python object.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// A new list holding the Python form of each document, in order: None, bool, int, float, str, list,
// or dict filled in ascending key order. Null with a Python exception set when an object cannot be
// made, or Exception "Document nested too deeply" for a document nested beyond kMaxDocumentDepth
// levels. The list counts as a level around its documents. Key strings are shared between the
// documents of one call. Pending signal handlers run every few thousand documents (unless
// `signals` is kSkip); null with the exception of one that raised.
enum class SignalChecks { kRun, kSkip };
PyObject* documents_to_python(std::span<const Value> documents,
                              SignalChecks signals = SignalChecks::kRun);

// The same for the documents at `positions`, in that order; each position must be below
// documents.size().
PyObject* documents_to_python(std::span<const Value> documents,
                              std::span<const std::uint32_t> positions);

// The same two for packed documents, read in place; each must stay unchanged during the call.
PyObject* documents_to_python(std::span<const PackedValue> documents,
                              SignalChecks signals = SignalChecks::kRun);
PyObject* documents_to_python(std::span<const PackedValue> documents,
                              std::span<const std::uint32_t> positions);

// A new list of str, in order; null with an exception set on failure. Each text must be UTF-8.
PyObject* texts_to_python(const std::vector<std::string>& texts);

}  // namespace zarvel
