#include "convert/to_python.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "convert/key_table.h"
#include "lib/query_scan.h"
#include "python/py_ref.h"
#include "value/limits.h"
#include "value/small_copy.h"

namespace zarvel {

namespace {

bool is_ascii(const char* bytes, std::size_t size) {
  std::uint64_t seen = 0;
  if (size <= 16) {
    // Most strings: two overlapping words, or a copy of the few bytes, instead of a byte loop.
    char head[16] = {};
    copy_small(head, bytes, size);
    std::uint64_t low;
    std::uint64_t high;
    std::memcpy(&low, head, 8);
    std::memcpy(&high, head + 8, 8);
    seen = low | high;
  } else {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      seen |= word;
    }
    std::uint64_t last;
    std::memcpy(&last, bytes + size - 8, 8);
    seen |= last;
  }
  return (seen & 0x8080808080808080ULL) == 0;
}

// A new str from UTF-8 `text`. ASCII, the usual case, is copied straight into a one-byte-per-
// character str, which is much cheaper than running the decoder.
PyObject* new_str(std::string_view text) {
  if (is_ascii(text.data(), text.size())) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (str != nullptr && !text.empty()) {
      copy_bytes(static_cast<char*>(PyUnicode_DATA(str)), text.data(), text.size());
    }
    return str;
  }
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// Serves both forms of a document, a Value or a PackedValue, with one body: their read accessors
// are the same.
class ToPython {
 public:
  // `levels_left` is how many more arrays and objects may open below this point. No stored value
  // goes deeper than the limit, but one that did must not take the stack with it.
  template <typename Doc>
  PyObject* convert(const Doc& value, int levels_left);

 private:
  PyObject* convert_number(Number number);
  // A new reference to a str holding `key`; null with an exception set on failure.
  PyObject* str_for_key(std::string_view key);
  template <typename ArrayView>
  PyObject* convert_array(const ArrayView& array, int levels_left);
  template <typename ObjectView>
  PyObject* convert_object(const ObjectView& object, int levels_left);
  static PyObject* too_deep() {
    PyErr_SetString(PyExc_Exception, "Document nested too deeply");
    return nullptr;
  }

  // Small at first: a find of one document should not clear a table made for thousands of keys.
  KeyTable keys_{32, 512};
};

template <typename Doc>
PyObject* ToPython::convert(const Doc& value, int levels_left) {
  switch (value.kind()) {
    case Kind::kNull:
      return Py_NewRef(Py_None);
    case Kind::kBool:
      return Py_NewRef(value.as_bool() ? Py_True : Py_False);
    case Kind::kNumber:
      return convert_number(value.as_number());
    case Kind::kString:
      return new_str(value.as_string());
    case Kind::kArray:
      return levels_left == 0 ? too_deep() : convert_array(value.as_array(), levels_left - 1);
    case Kind::kObject:
      return levels_left == 0 ? too_deep() : convert_object(value.as_object(), levels_left - 1);
  }
  PyErr_SetString(PyExc_SystemError, "document value of unknown kind");
  return nullptr;
}

PyObject* ToPython::str_for_key(std::string_view key) {
  if (PyObject* known = keys_.str_of(key)) return Py_NewRef(known);
  PyObject* str = new_str(key);
  if (str != nullptr) keys_.remember_str(key, str);
  return str;
}

PyObject* ToPython::convert_number(Number number) {
  switch (number.form()) {
    case Number::Form::kUnsigned:
      return PyLong_FromUnsignedLongLong(number.as_unsigned());
    case Number::Form::kNegative:
      return PyLong_FromLongLong(number.as_negative());
    case Number::Form::kFloat:
      break;
  }
  return PyFloat_FromDouble(number.as_float());
}

template <typename ArrayView>
PyObject* ToPython::convert_array(const ArrayView& array, int levels_left) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(array.size())));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (auto&& element : array) {
    PyObject* item = convert(element, levels_left);
    if (item == nullptr) return nullptr;  // the list's empty slots are null, which it tolerates
    PyList_SET_ITEM(list.get(), i++, item);
  }
  return list.release();
}

// A dict sized for `size` entries, so filling it never resizes it. The call is private API (still
// declared in 3.13), kept because it pays: with PyDict_New, a find() of 100k documents of eight
// members costs 4 % more instructions. PyDict_New takes its place should it go.
PyObject* new_dict(std::size_t size) { return _PyDict_NewPresized(static_cast<Py_ssize_t>(size)); }

template <typename ObjectView>
PyObject* ToPython::convert_object(const ObjectView& object, int levels_left) {
  PyRef dict = PyRef::steal(new_dict(object.size()));
  if (!dict) return nullptr;
  // One pass over the members, front to back.
  for (auto&& member : object) {
    PyRef key = PyRef::steal(str_for_key(std::string_view(member.key)));
    if (!key) return nullptr;
    PyRef item = PyRef::steal(convert(member.value, levels_left));
    if (!item) return nullptr;
    if (PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) return nullptr;
  }
  return dict.release();
}

// Holds off the cyclic garbage collector while a list of documents is built. Building it runs no
// Python code and makes no cycles, so the collections its many allocations would trigger could
// only walk the new dicts and lists again and again; with many documents that is a quarter of the
// time. The collector runs as usual once the list is made.
class CollectorPause {
 public:
  CollectorPause() : was_enabled_(PyGC_Disable() == 1) {}
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;
  ~CollectorPause() {
    if (was_enabled_) PyGC_Enable();
  }

 private:
  bool was_enabled_;
};

// Documents converted between two runs of the pending signal handlers: a few milliseconds, so
// Ctrl-C stops a long find at once.
constexpr std::size_t kDocumentsPerSignalCheck = 4096;

// A new list of `size` converted documents, the i-th being document(i). Null with the exception
// of a signal handler that raised meanwhile.
template <typename DocumentAt>
PyObject* list_of_documents(std::size_t size, DocumentAt document,
                            SignalChecks signals = SignalChecks::kRun) {
  CollectorPause pause;
  auto converter = std::make_unique<ToPython>();
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(size)));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < size; ++i) {
    if (i % kDocumentsPerSignalCheck == kDocumentsPerSignalCheck - 1 &&
        signals == SignalChecks::kRun && PyErr_CheckSignals() != 0)
      return nullptr;
    PyObject* item = converter->convert(document(i), kMaxDocumentDepth);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

}  // namespace

PyObject* documents_to_python(std::span<const Value> documents, SignalChecks signals) {
  return list_of_documents(
      documents.size(), [&](std::size_t i) -> const Value& { return documents[i]; }, signals);
}

PyObject* documents_to_python(std::span<const Value> documents,
                              std::span<const std::uint32_t> positions) {
  return list_of_documents(positions.size(),
                           [&](std::size_t i) -> const Value& { return documents[positions[i]]; });
}

PyObject* documents_to_python(std::span<const PackedValue> documents, SignalChecks signals) {
  return list_of_documents(
      documents.size(), [&](std::size_t i) { return documents[i]; }, signals);
}

PyObject* documents_to_python(std::span<const PackedValue> documents,
                              std::span<const std::uint32_t> positions) {
  // Chosen documents lie scattered over the collection: each is asked for a few ahead, so that
  // reaching it overlaps the conversion of those before.
  constexpr std::size_t kAhead = 4;
  return list_of_documents(positions.size(), [&](std::size_t i) {
    if (i + kAhead < positions.size()) prefetch_document(documents[positions[i + kAhead]]);
    return documents[positions[i]];
  });
}

PyObject* texts_to_python(const std::vector<std::string>& texts) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(texts.size())));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const std::string& text : texts) {
    PyObject* item = new_str(text);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), i++, item);
  }
  return list.release();
}

}  // namespace zarvel
