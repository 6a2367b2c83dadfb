#include "convert/from_python.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert/from_python_outputs.h"

namespace zarvel {

namespace {

// Containers converted between two runs of the pending signal handlers: a few milliseconds of
// work, so Ctrl-C stops a long insert_many at once.
constexpr int kContainersPerSignalCheck = 4096;

// A length reported by Python code (__len__) is only a hint for reserving: a lying one must not
// make us allocate gigabytes before the first item fails.
constexpr Py_ssize_t kMaxReserveFromHint = 1 << 16;

// collections.abc.Sequence and Mapping: imported at first need and kept for the life of the
// process.
struct AbstractClasses {
  PyObject* sequence = nullptr;
  PyObject* mapping = nullptr;
};

// Null with the import's exception pending when collections.abc cannot be had; a later call
// retries.
const AbstractClasses* abstract_classes() {
  static AbstractClasses classes;
  if (classes.mapping != nullptr) return &classes;
  PyRef name = PyRef::steal(PyUnicode_FromString("collections.abc"));
  if (!name) return nullptr;
  PyRef module = PyRef::steal(PyImport_Import(name.get()));
  if (!module) return nullptr;
  PyRef sequence = PyRef::steal(PyObject_GetAttrString(module.get(), "Sequence"));
  if (!sequence) return nullptr;
  PyRef mapping = PyRef::steal(PyObject_GetAttrString(module.get(), "Mapping"));
  if (!mapping) return nullptr;
  classes.sequence = sequence.release();
  classes.mapping = mapping.release();
  return &classes;
}

// Values of these exact types convert without running any Python code, so nothing can change
// the container they sit in while they are converted.
inline bool is_plain_scalar(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
         type == &PyBool_Type || object == Py_None;
}

// Strong references to the entries of exact dicts whose walk may run Python code (see
// Converter::convert_exact_dict). Each walk pushes its entries on top of the converter's stack and
// pops them, on every path, when it ends, so nested walks stack up in order.
class PinnedScope {
 public:
  explicit PinnedScope(std::vector<PyObject*>& stack) : stack_(stack), base_(stack.size()) {}
  PinnedScope(const PinnedScope&) = delete;
  PinnedScope& operator=(const PinnedScope&) = delete;
  ~PinnedScope() {
    while (stack_.size() > base_) {
      PyObject* object = stack_.back();
      stack_.pop_back();
      Py_DECREF(object);
    }
  }
  std::size_t base() const noexcept { return base_; }
  void push(PyObject* object) {
    stack_.push_back(object);
    Py_INCREF(object);
  }

 private:
  std::vector<PyObject*>& stack_;
  std::size_t base_;
};

// Whether the int `integer` lies in [-2^127, 2^128), the integers 128 bits hold (unsigned when
// positive, two's complement when negative). -1 with an exception set when it cannot be told.
int within_128_bits(PyObject* integer) {
  // An exact int: comparing it runs no operator of a subclass.
  PyRef exact = PyRef::steal(PyNumber_Index(integer));
  PyRef lowest = PyRef::steal(PyLong_FromString("-0x80000000000000000000000000000000", nullptr, 0));
  PyRef limit = PyRef::steal(PyLong_FromString("0x100000000000000000000000000000000", nullptr, 0));
  if (!exact || !lowest || !limit) return -1;
  int above = PyObject_RichCompareBool(exact.get(), lowest.get(), Py_GE);
  if (above != 1) return above;
  return PyObject_RichCompareBool(exact.get(), limit.get(), Py_LT);
}

template <typename Output>
class Converter {
 public:
  using Slot = typename Output::Slot;

  Converter(const ConversionOptions& options, Output& output)
      : options_(options), output_(output) {}
  // `depth` counts the containers that enclose `object`.
  bool convert(PyObject* object, Slot out, int depth);
  // The error that made convert() return false.
  ConversionError take_error() { return std::move(*error_); }

 private:
  bool fail(ConversionError e) {
    error_.emplace(std::move(e));
    return false;
  }
  bool fail_with_pending() { return fail(ConversionError::fetch()); }
  // A container at `depth` opens level depth + 1.
  bool enter_container(int depth) {
    if (depth < options_.max_depth) return true;
    return fail(ConversionError::message("Document nested too deeply"));
  }

  bool convert_plain_scalar(PyObject* object, Slot out);
  bool convert_str(PyObject* object, Slot out);
  bool convert_int(PyObject* object, Slot out);
  // Out of line, so that the common path of convert_int stays short.
  [[gnu::noinline]] bool convert_wide_int(PyObject* object, Slot out);
  bool convert_float(PyObject* object, Slot out);
  bool convert_key(PyObject* key, typename Output::MemberKey& out);
  bool convert_exact_list(PyObject* list, Slot out, int depth);
  bool convert_exact_tuple(PyObject* tuple, Slot out, int depth);
  bool convert_sequence(PyObject* sequence, Slot out, int depth);
  bool convert_exact_dict(PyObject* dict, Slot out, int depth);
  bool convert_pinned_entries(PyObject* dict, Py_ssize_t position, PyObject* key, PyObject* value,
                              typename Output::ObjectWriter& members, int depth);
  bool convert_mapping(PyObject* mapping, Slot out, int depth);
  // The key and value of one item of a mapping's items(), borrowed from it.
  bool unpack_pair(PyObject* item, PyObject*& key, PyObject*& value);
  bool convert_set(PyObject* set, Slot out, int depth);
  bool convert_uncommon(PyObject* object, Slot out, int depth);
  // An instance check that raises is reported to the unraisable hook and counts as false.
  static bool is_instance(PyObject* object, PyObject* cls);

  ConversionOptions options_;
  int until_signal_check_ = kContainersPerSignalCheck;
  std::optional<ConversionError> error_;
  std::vector<PyObject*> pinned_entries_;
  Output& output_;
};

template <typename Output>
bool Converter<Output>::convert(PyObject* object, Slot out, int depth) {
  // The scalars of lists and dicts are converted without coming here: this counts little more
  // than the containers.
  if (--until_signal_check_ == 0) [[unlikely]] {
    until_signal_check_ = kContainersPerSignalCheck;
    if (PyErr_CheckSignals() != 0) return fail(ConversionError::interrupted());
  }
  // The common exact types by pointer comparison first; they decide as the flag tests would.
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyDict_Type) return convert_exact_dict(object, out, depth);
  if (type == &PyList_Type) return convert_exact_list(object, out, depth);
  if (is_plain_scalar(object)) return convert_plain_scalar(object, out);
  return convert_uncommon(object, out, depth);
}

template <typename Output>
bool Converter<Output>::convert_plain_scalar(PyObject* object, Slot out) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyUnicode_Type) return convert_str(object, out);
  if (type == &PyLong_Type) return convert_int(object, out);
  if (type == &PyFloat_Type) return convert_float(object, out);
  if (type == &PyBool_Type) {
    output_.put_bool(out, object == Py_True);
    return true;
  }
  output_.put_null(out);
  return true;
}

template <typename Output>
bool Converter<Output>::convert_str(PyObject* object, Slot out) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(object, &size);
  if (text == nullptr) return fail_with_pending();
  output_.put_string(out, std::string_view(text, static_cast<std::size_t>(size)));
  return true;
}

template <typename Output>
bool Converter<Output>::convert_int(PyObject* object, Slot out) {
  int overflow = 0;
  long long small = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (overflow != 0) return convert_wide_int(object, out);
  if (small == -1 && PyErr_Occurred()) return fail_with_pending();
  output_.put_number(out, Number::from_int64(small));
  return true;
}

// Integers beyond the signed 64-bit range: those below 2^64 are numbers, the others out of range,
// and those that 128 bits cannot hold too big to convert at all.
template <typename Output>
bool Converter<Output>::convert_wide_int(PyObject* object, Slot out) {
  unsigned long long value = PyLong_AsUnsignedLongLong(object);
  if (value != static_cast<unsigned long long>(-1) || !PyErr_Occurred()) {
    output_.put_number(out, Number::from_unsigned(value));
    return true;
  }
  PyErr_Clear();  // negative, or 2^64 and beyond
  int within = within_128_bits(object);
  if (within < 0) return fail_with_pending();
  if (within == 1) return fail(ConversionError::message("JSON number out of range"));
  PyErr_SetString(PyExc_OverflowError, "int too big to convert");
  return fail_with_pending();
}

template <typename Output>
bool Converter<Output>::convert_float(PyObject* object, Slot out) {
  double d = PyFloat_AsDouble(object);
  if (d == -1.0 && PyErr_Occurred()) return fail_with_pending();
  if (std::isfinite(d)) {
    output_.put_number(out, Number::from_float(d));
  } else if (options_.refuse_non_finite) {
    return fail(ConversionError::malformed_query("NaN or infinity found in query"));
  } else {
    output_.put_null(out);
  }
  return true;
}

template <typename Output>
bool Converter<Output>::convert_key(PyObject* key, typename Output::MemberKey& out) {
  if (output_.known_key(key, out)) return true;
  if (!PyUnicode_Check(key)) {
    return fail(ConversionError::unexpected_type(Py_TYPE(key), "PyString"));
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(key, &size);
  if (text == nullptr) return fail_with_pending();
  out = output_.make_key(key, std::string_view(text, static_cast<std::size_t>(size)));
  return true;
}

// Reads the length once, like the generic walk, and each item afresh: Python code run for one item
// may shrink the list, which then fails as PySequence_GetItem does.
template <typename Output>
bool Converter<Output>::convert_exact_list(PyObject* list, Slot out, int depth) {
  if (!enter_container(depth)) return false;
  Py_ssize_t size = PyList_GET_SIZE(list);
  typename Output::ArrayWriter items(output_, out, static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    Slot item_value = items.next();
    if (i < PyList_GET_SIZE(list)) {
      PyObject* item = PyList_GET_ITEM(list, i);
      if (is_plain_scalar(item)) {
        if (!convert_plain_scalar(item, item_value)) return false;
        continue;
      }
      // Code run while converting the item could drop it from the list.
      PyRef hold = PyRef::borrow(item);
      if (!convert(item, item_value, depth + 1)) return false;
    } else {
      PyRef item = PyRef::steal(PySequence_GetItem(list, i));
      if (!item) return fail_with_pending();
      if (!convert(item.get(), item_value, depth + 1)) return false;
    }
  }
  items.finish();
  return true;
}

// A tuple cannot change and holds its items as long as it lives, which its holder guarantees.
template <typename Output>
bool Converter<Output>::convert_exact_tuple(PyObject* tuple, Slot out, int depth) {
  if (!enter_container(depth)) return false;
  Py_ssize_t size = PyTuple_GET_SIZE(tuple);
  typename Output::ArrayWriter items(output_, out, static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    if (!convert(PyTuple_GET_ITEM(tuple, i), items.next(), depth + 1)) return false;
  }
  items.finish();
  return true;
}

template <typename Output>
bool Converter<Output>::convert_sequence(PyObject* sequence, Slot out, int depth) {
  if (!enter_container(depth)) return false;
  Py_ssize_t size = PyObject_Size(sequence);
  if (size < 0) return fail_with_pending();
  typename Output::ArrayWriter items(output_, out,
                                     static_cast<std::size_t>(std::min(size, kMaxReserveFromHint)));
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyRef item = PyRef::steal(PySequence_GetItem(sequence, i));
    if (!item) return fail_with_pending();
    if (!convert(item.get(), items.next(), depth + 1)) return false;
  }
  items.finish();
  return true;
}

// An exact dict is walked in place with PyDict_Next, without the key and value snapshots of the
// generic walk, for as long as its values are plain scalars: converting those runs no Python code,
// so the dict cannot change under the walk. At the first other value the entries not yet converted
// are pinned, as they are then and so as they were on entry, and converted from there, which keeps
// the snapshot semantics of the generic walk whatever the nested conversions do.
template <typename Output>
bool Converter<Output>::convert_exact_dict(PyObject* dict, Slot out, int depth) {
  if (!enter_container(depth)) return false;
  typename Output::ObjectWriter members(output_, out);
  Py_ssize_t position = 0;
  PyObject* key;
  PyObject* value;
  while (PyDict_Next(dict, &position, &key, &value)) {
    if (!is_plain_scalar(value)) {
      if (!convert_pinned_entries(dict, position, key, value, members, depth)) return false;
      break;
    }
    typename Output::MemberKey member_key;
    if (!convert_key(key, member_key)) return false;
    if (!convert_plain_scalar(value, members.begin_member(std::move(member_key)))) return false;
    members.end_member();
  }
  members.finish();
  return true;
}

// Converts (key, value) and the entries after `position`, pinned first.
template <typename Output>
bool Converter<Output>::convert_pinned_entries(PyObject* dict, Py_ssize_t position, PyObject* key,
                                               PyObject* value,
                                               typename Output::ObjectWriter& members, int depth) {
  PinnedScope scope(pinned_entries_);
  scope.push(key);
  scope.push(value);
  while (PyDict_Next(dict, &position, &key, &value)) {
    scope.push(key);
    scope.push(value);
  }
  std::size_t end = pinned_entries_.size();
  for (std::size_t i = scope.base(); i < end; i += 2) {
    // Indexes, not pointers: nested walks push onto the same vector and may move it.
    PyObject* entry_key = pinned_entries_[i];
    PyObject* entry_value = pinned_entries_[i + 1];
    typename Output::MemberKey member_key;
    if (!convert_key(entry_key, member_key)) return false;
    if (!convert(entry_value, members.begin_member(std::move(member_key)), depth + 1)) return false;
    members.end_member();
  }
  return true;
}

// Members are taken from items(), each key with its own value, and as many as it gives: keys()
// and values() of a subclass can disagree, and __len__ can misreport.
template <typename Output>
bool Converter<Output>::convert_mapping(PyObject* mapping, Slot out, int depth) {
  if (!enter_container(depth)) return false;
  PyRef items = PyRef::steal(PyMapping_Items(mapping));
  if (!items) return fail_with_pending();
  typename Output::ObjectWriter members(output_, out);
  // A list of our own: nothing converted below can reach it to change it.
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    if (!unpack_pair(PyList_GET_ITEM(items.get(), i), key, value)) return false;
    typename Output::MemberKey member_key;
    if (!convert_key(key, member_key)) return false;
    if (!convert(value, members.begin_member(std::move(member_key)), depth + 1)) return false;
    members.end_member();
  }
  members.finish();
  return true;
}

template <typename Output>
bool Converter<Output>::unpack_pair(PyObject* item, PyObject*& key, PyObject*& value) {
  if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
    return fail(ConversionError::message("items() of a mapping must give (key, value) pairs"));
  }
  key = PyTuple_GET_ITEM(item, 0);
  value = PyTuple_GET_ITEM(item, 1);
  return true;
}

template <typename Output>
bool Converter<Output>::convert_set(PyObject* set, Slot out, int depth) {
  if (!enter_container(depth)) return false;
  PyRef iterator = PyRef::steal(PyObject_GetIter(set));
  if (!iterator) return fail_with_pending();
  typename Output::ArrayWriter items(
      output_, out, static_cast<std::size_t>(std::min(PySet_GET_SIZE(set), kMaxReserveFromHint)));
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    if (!convert(item.get(), items.next(), depth + 1)) return false;
  }
  if (PyErr_Occurred()) return fail_with_pending();
  items.finish();
  return true;
}

template <typename Output>
bool Converter<Output>::is_instance(PyObject* object, PyObject* cls) {
  int result = PyObject_IsInstance(object, cls);
  if (result < 0) {
    PyErr_WriteUnraisable(object);
    return false;
  }
  return result == 1;
}

// The full order of tests, for everything but the common exact types.
template <typename Output>
bool Converter<Output>::convert_uncommon(PyObject* object, Slot out, int depth) {
  PyTypeObject* type = Py_TYPE(object);
  if (PyType_HasFeature(type, Py_TPFLAGS_LONG_SUBCLASS)) return convert_int(object, out);
  if (type == &PyTuple_Type) return convert_exact_tuple(object, out, depth);
  if (PyType_HasFeature(type, Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_TUPLE_SUBCLASS)) {
    return convert_sequence(object, out, depth);
  }
  if (PyType_HasFeature(type, Py_TPFLAGS_DICT_SUBCLASS)) return convert_mapping(object, out, depth);
  if (PyType_HasFeature(type, Py_TPFLAGS_UNICODE_SUBCLASS)) return convert_str(object, out);
  if (PyType_HasFeature(type, Py_TPFLAGS_BYTES_SUBCLASS)) {
    return fail(
        ConversionError::message("invalid type: byte array, expected any valid JSON value"));
  }
  if (PyByteArray_Check(object)) return fail(ConversionError::unexpected_type(type, "PyBytes"));
  if (PyFloat_Check(object)) return convert_float(object, out);
  if (PyAnySet_Check(object)) return convert_set(object, out, depth);
  const AbstractClasses* classes = abstract_classes();
  if (classes == nullptr) return fail_with_pending();
  if (is_instance(object, classes->sequence)) return convert_sequence(object, out, depth);
  if (is_instance(object, classes->mapping)) return convert_mapping(object, out, depth);
  return fail(ConversionError::unsupported_type(type));
}

// Puts a buffer back to the size it had, unless told to keep what was added: a failed conversion,
// or one that runs out of memory, leaves no partial value behind.
class TruncateUnlessKept {
 public:
  TruncateUnlessKept(PackedBuffer& buffer, std::size_t size) noexcept
      : buffer_(buffer), size_(size) {}
  TruncateUnlessKept(const TruncateUnlessKept&) = delete;
  TruncateUnlessKept& operator=(const TruncateUnlessKept&) = delete;
  ~TruncateUnlessKept() {
    if (!kept_) buffer_.truncate(size_);
  }
  void keep() noexcept { kept_ = true; }

 private:
  PackedBuffer& buffer_;
  std::size_t size_;
  bool kept_ = false;
};

}  // namespace

Result<Value, ConversionError> value_from_python(PyObject* object,
                                                 const ConversionOptions& options) {
  ValueOutput output;
  Converter converter(options, output);
  Value value;
  if (!converter.convert(object, value, 0)) return converter.take_error();
  return value;
}

Result<std::size_t, ConversionError> pack_from_python(PyObject* object,
                                                      const ConversionOptions& options,
                                                      PackedBuffer& out) {
  std::size_t start = out.size();
  TruncateUnlessKept guard(out, start);
  PackedOutput output(out);
  Converter converter(options, output);
  if (!converter.convert(object, PackedSlot{}, 0)) return converter.take_error();
  guard.keep();
  return start;
}

}  // namespace zarvel
