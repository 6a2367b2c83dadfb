#include "binding/methods.h"

#include <new>
#include <optional>
#include <string>

#include "base/compat_texts.h"
#include "binding/arguments.h"
#include "binding/errors.h"
#include "binding/find_arguments.h"
#include "binding/signal_interrupt.h"
#include "binding/zarvel_object.h"
#include "convert/from_python.h"
#include "convert/to_python.h"
#include "lib/collection_path.h"
#include "lib/file_system.h"
#include "python/py_ref.h"

namespace zarvel {

namespace {

ZarvelObject* as_zarvel(PyObject* self) { return reinterpret_cast<ZarvelObject*>(self); }

// Runs a method body with the store borrowed. C++ exceptions never cross into the interpreter.
template <typename Body>
PyObject* with_store(PyObject* self, StoreUse use, Body&& body) {
  StoreBorrow borrow(as_zarvel(self), use);
  if (!borrow.ok()) return nullptr;
  try {
    return body(as_zarvel(self)->store);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    return raise_panic(e.what(), std::source_location::current());
  }
}

PyObject* none_or_raise(const Status& status) {
  if (!status.ok()) return raise_status(status);
  Py_RETURN_NONE;
}

// Raises what a failed conversion calls for: an internal failure carrying the conversion error's
// debug form, or only its text for a malformed query (PanicException), or the exception of a
// signal handler that raised meanwhile. Returns false, for the caller to return.
bool raise_conversion_error(const ConversionError& error, std::source_location where) {
  if (error.kind() == ConversionError::Kind::kInterrupted) {
    PyErr_SetRaisedException(Py_NewRef(error.exception()));
    return false;
  }
  if (error.kind() == ConversionError::Kind::kMalformedQuery) {
    // Refused like a query the engine cannot parse: by its message alone.
    raise_panic(error.text(), where);
    return false;
  }
  if (error.exception() != nullptr &&
      PyObject_TypeCheck(error.exception(),
                         reinterpret_cast<PyTypeObject*>(panic_exception_type()))) {
    // User code raised PanicException itself: show where, then carry its message on.
    PyErr_DisplayException(error.exception());
    raise_panic(error.display(), where);
    return false;
  }
  raise_panic(std::string(kUnwrapErrPrefix) + error.debug_form(), where);
  return false;
}

// Converts a query or update dict; false with an exception set (raise_conversion_error).
bool convert_or_panic(PyObject* object, const ConversionOptions& options, Value& out,
                      std::source_location where = std::source_location::current()) {
  Result<Value, ConversionError> converted = value_from_python(object, options);
  if (!converted.ok()) return raise_conversion_error(converted.error(), where);
  out = std::move(converted).value();
  return true;
}

constexpr std::size_t kTypicalDocumentBytes = 256;

// Converts documents to store straight into their packed form, failing as convert_or_panic.
bool pack_or_panic(PyObject* object, const ConversionOptions& options, PackedBuffer& out,
                   std::source_location where = std::source_location::current()) {
  Result<std::size_t, ConversionError> packed = pack_from_python(object, options, out);
  if (!packed.ok()) return raise_conversion_error(packed.error(), where);
  return true;
}

// The trace goes to file descriptor 1 itself, past any redirection of sys.stdout.
void write_to_standard_output(std::string_view lines) { (void)write_all(1, lines); }
void write_nowhere(std::string_view) {}

bool valid_name_or_raise(const std::string& name) {
  Status valid = validate_collection_name(name);
  if (valid.ok()) return true;
  raise_status(valid);
  return false;
}

#define ZARVEL_PARAMETERS(var, function, required, ...)       \
  static constexpr const char* var##_names[] = {__VA_ARGS__}; \
  static constexpr Parameters var = {function, var##_names, required}

// The same, the last `keyword_only` names being keyword-only.
#define ZARVEL_KEYWORD_PARAMETERS(var, function, required, keyword_only, ...) \
  static constexpr const char* var##_names[] = {__VA_ARGS__};                 \
  static constexpr Parameters var = {function, var##_names, required, keyword_only}

// The maybe_query argument: None or omitted for no query, else a dict, checked with the other
// arguments and converted after them.
class OptionalQuery {
 public:
  // False with the argument error set for anything but None or a dict.
  bool check(PyObject* argument) {
    argument_ = argument == Py_None ? nullptr : argument;
    return argument_ == nullptr || check_dict(argument_, "maybe_query");
  }
  // False with PanicException set.
  bool convert(std::source_location where = std::source_location::current()) {
    return argument_ == nullptr || convert_or_panic(argument_, kQueryConversion, value_, where);
  }
  // The converted query, or null for none.
  const Object* get() const { return argument_ == nullptr ? nullptr : &value_.as_object(); }

 private:
  PyObject* argument_ = nullptr;
  Value value_;
};

PyObject* found_to_python(const Store::Found& found) {
  if (found.projected) return documents_to_python(*found.projected);
  std::span<const PackedValue> documents = found.collection->documents.all();
  if (found.answer == nullptr) return documents_to_python(documents);
  return documents_to_python(documents, found.answer->positions);
}

PyObject* size_to_python(const Result<std::size_t>& size) {
  if (!size.ok()) return raise_status(size.status());
  return PyLong_FromSize_t(size.value());
}

PyObject* load_from_document(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.load_from_document()", 1, "document_path");
  PyObject* bound[1];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string path;
    if (!extract_path(bound[0], "document_path", path)) return nullptr;
    return none_or_raise(store.load_from_document(path));
  });
}

PyObject* create_collection(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.create_collection()", 1, "collection_name");
  PyObject* bound[1];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    return none_or_raise(store.create_collection(name));
  });
}

PyObject* insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.insert()", 2, "collection_name", "document");
  PyObject* bound[2];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    if (!check_dict(bound[1], "document")) return nullptr;
    if (!valid_name_or_raise(name)) return nullptr;
    PackedBuffer document;
    if (!pack_or_panic(bound[1], kDocumentConversion, document)) return nullptr;
    return none_or_raise(store.insert_in_collection(name, std::move(document)));
  });
}

PyObject* insert_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.insert_many()", 2, "collection_name", "documents");
  PyObject* bound[2];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    if (!check_list(bound[1], "documents")) return nullptr;
    if (!valid_name_or_raise(name)) return nullptr;
    PackedBuffer documents;
    // Room for documents of a typical size up front, rather than growing by copies; what is left
    // over is given back when the collection takes the buffer.
    documents.reserve(static_cast<std::size_t>(PyList_GET_SIZE(bound[1])) * kTypicalDocumentBytes);
    if (!pack_or_panic(bound[1], kDocumentListConversion, documents)) return nullptr;
    return none_or_raise(store.insert_in_collection(name, std::move(documents)));
  });
}

PyObject* insert_many_from_document(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.insert_many_from_document()", 2, "collection_name",
                    "document_name");
  PyObject* bound[2];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name, path;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    if (!extract_path(bound[1], "document_name", path)) return nullptr;
    return none_or_raise(store.insert_many_from_document(name, path));
  });
}

PyObject* find(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ZARVEL_KEYWORD_PARAMETERS(params, "Zarvel.find()", 1, 4, "collection_name", "maybe_query", "sort",
                            "skip", "limit", "fields");
  PyObject* bound[6];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    OptionalQuery query;
    if (!query.check(bound[1])) return nullptr;
    FindOptions options;
    if (!extract_find_options(bound[2], bound[3], bound[4], bound[5], options)) return nullptr;
    if (!query.convert()) return nullptr;
    Result<Store::Found> found = store.find(name, query.get(), options);
    if (!found.ok()) return raise_status(found.status());
    return found_to_python(found.value());
  });
}

PyObject* update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.update()", 2, "collection_name", "update_query", "maybe_query",
                    "return_result");
  PyObject* bound[4];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    if (!check_dict(bound[1], "update_query")) return nullptr;
    OptionalQuery query;
    if (!query.check(bound[2])) return nullptr;
    bool return_result = false;
    if (bound[3] != nullptr && !extract_bool(bound[3], "return_result", return_result)) {
      return nullptr;
    }
    if (!valid_name_or_raise(name)) return nullptr;
    Value update_value;
    if (!convert_or_panic(bound[1], kUpdateConversion, update_value)) return nullptr;
    if (!query.convert()) return nullptr;
    Result<SharedCollection> updated =
        store.update(name, update_value.as_object(), query.get(),
                     as_zarvel(self)->trace ? write_to_standard_output : write_nowhere);
    if (!updated.ok()) return raise_status(updated.status());
    // The update is done: an interruption now would hide that it was.
    if (return_result)
      return documents_to_python(updated.value()->documents.all(), SignalChecks::kSkip);
    Py_RETURN_NONE;
  });
}

PyObject* collections(PyObject* self, PyObject*) {
  return with_store(self, StoreUse::kShared, [&](Store& store) -> PyObject* {
    Result<std::vector<std::string>> names = store.collections();
    if (!names.ok()) return raise_status(names.status());
    return texts_to_python(names.value());
  });
}

PyObject* drop_collection(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.drop_collection()", 1, "collection_name");
  PyObject* bound[1];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    return none_or_raise(store.drop_collection(name));
  });
}

PyObject* drop_all(PyObject* self, PyObject*) {
  return with_store(self, StoreUse::kExclusive,
                    [&](Store& store) -> PyObject* { return none_or_raise(store.drop_all()); });
}

PyObject* write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.write()", 1, "collection_name");
  PyObject* bound[1];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kShared, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    return none_or_raise(store.write(name));
  });
}

PyObject* write_all(PyObject* self, PyObject*) {
  return with_store(self, StoreUse::kShared,
                    [&](Store& store) -> PyObject* { return none_or_raise(store.write_all()); });
}

PyObject* enter_block(PyObject* self, PyObject*) { return Py_NewRef(self); }

// Leaving a `with` block: without an exception, the changed collections are written.
PyObject* exit_block(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_Format(PyExc_TypeError,
                 "Zarvel.__exit__() takes 3 positional arguments but %zd were given", nargs);
    return nullptr;
  }
  if (args[0] != Py_None) Py_RETURN_FALSE;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    Status written = store.write_changed();
    if (!written.ok()) return raise_status(written);
    Py_RETURN_FALSE;
  });
}

PyObject* clear_cache(PyObject* self, PyObject*) {
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    store.clear_cache();
    Py_RETURN_NONE;
  });
}

PyObject* delete_documents(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.delete()", 2, "collection_name", "query");
  PyObject* bound[2];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    if (!check_dict(bound[1], "query")) return nullptr;
    Value query;
    if (!convert_or_panic(bound[1], kQueryConversion, query)) return nullptr;
    return size_to_python(store.delete_matching(name, query.as_object()));
  });
}

PyObject* count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ZARVEL_PARAMETERS(params, "Zarvel.count()", 1, "collection_name", "maybe_query");
  PyObject* bound[2];
  if (!bind_fast(params, args, nargs, kwnames, bound)) return nullptr;
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(bound[0], "collection_name", name)) return nullptr;
    OptionalQuery query;
    if (!query.check(bound[1]) || !query.convert()) return nullptr;
    return size_to_python(store.count(name, query.get()));
  });
}

template <auto Function>
PyCFunction fast() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

// Debugging and test aids, kept out of the stub: the indexes a collection holds now, as a list of
// (path, "hash" or "ordered", bytes), and the switch that turns automatic indexes off.
PyObject* list_indexes(PyObject* self, PyObject* collection_name) {
  return with_store(self, StoreUse::kShared, [&](Store& store) -> PyObject* {
    std::string name;
    if (!extract_string(collection_name, "collection_name", name)) return nullptr;
    PyRef list = PyRef::steal(PyList_New(0));
    if (!list) return nullptr;
    for (const IndexSummary& index : store.index_summary(name)) {
      PyRef path = PyRef::steal(PyUnicode_FromStringAndSize(
          index.path.data(), static_cast<Py_ssize_t>(index.path.size())));
      if (!path) return nullptr;
      PyRef item = PyRef::steal(Py_BuildValue("(Osn)", path.get(),
                                              index.kind == IndexKind::kHash ? "hash" : "ordered",
                                              static_cast<Py_ssize_t>(index.bytes)));
      if (!item || PyList_Append(list.get(), item.get()) != 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* set_automatic_indexes(PyObject* self, PyObject* on) {
  return with_store(self, StoreUse::kExclusive, [&](Store& store) -> PyObject* {
    bool enabled = true;
    if (!extract_bool(on, "on", enabled)) return nullptr;
    store.set_automatic_indexes(enabled);
    Py_RETURN_NONE;
  });
}

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef kZarvelMethods[] = {
    {"load_from_document", fast<load_from_document>(), kFast,
     "load_from_document($self, document_path)\n--\n\n"},
    {"create_collection", fast<create_collection>(), kFast,
     "create_collection($self, collection_name)\n--\n\n"},
    {"insert", fast<insert>(), kFast, "insert($self, collection_name, document)\n--\n\n"},
    {"insert_many", fast<insert_many>(), kFast,
     "insert_many($self, collection_name, documents)\n--\n\n"},
    {"insert_many_from_document", fast<insert_many_from_document>(), kFast,
     "insert_many_from_document($self, collection_name, document_name)\n--\n\n"},
    {"find", fast<find>(), kFast,
     "find($self, collection_name, maybe_query=None, *, sort=None, skip=0, limit=None, "
     "fields=None)\n--\n\n"},
    {"update", fast<update>(), kFast,
     "update($self, collection_name, update_query, maybe_query=None, return_result=False)\n--\n\n"},
    {"collections", collections, METH_NOARGS, "collections($self)\n--\n\n"},
    {"drop_collection", fast<drop_collection>(), kFast,
     "drop_collection($self, collection_name)\n--\n\n"},
    {"drop_all", drop_all, METH_NOARGS, "drop_all($self)\n--\n\n"},
    {"write", fast<write>(), kFast, "write($self, collection_name)\n--\n\n"},
    {"write_all", write_all, METH_NOARGS, "write_all($self)\n--\n\n"},
    {"clear_cache", clear_cache, METH_NOARGS, "clear_cache($self)\n--\n\n"},
    {"delete", fast<delete_documents>(), kFast, "delete($self, collection_name, query)\n--\n\n"},
    {"count", fast<count>(), kFast, "count($self, collection_name, maybe_query=None)\n--\n\n"},
    {"__enter__", enter_block, METH_NOARGS, "__enter__($self)\n--\n\n"},
    {"_indexes", list_indexes, METH_O, "_indexes($self, collection_name, /)\n--\n\n"},
    {"_automatic_indexes", set_automatic_indexes, METH_O,
     "_automatic_indexes($self, on, /)\n--\n\n"},
    {"__exit__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(exit_block)),
     METH_FASTCALL, "__exit__($self, exc_type, exc_value, traceback)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* zarvel_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  ZARVEL_KEYWORD_PARAMETERS(params, "Zarvel.__new__()", 1, 1, "name", "trace");
  PyObject* bound[2];
  if (!bind_tuple(params, args, kwargs, bound)) return nullptr;
  std::string name;
  if (!extract_path(bound[0], "name", name)) return nullptr;
  bool trace = true;
  if (bound[1] != nullptr && !extract_bool(bound[1], "trace", trace)) return nullptr;
  try {
    Result<Store> store = Store::open(std::move(name), python_signals());
    if (!store.ok()) return raise_status(store.status());
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&as_zarvel(self)->store) Store(std::move(store).value());
    new (&as_zarvel(self)->access) StoreAccess();
    as_zarvel(self)->trace = trace;
    return self;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    return raise_panic(e.what(), std::source_location::current());
  }
}

void zarvel_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  // Nothing is written here: documents not written by write() or write_all() are dropped.
  as_zarvel(self)->store.~Store();
  as_zarvel(self)->access.~StoreAccess();
  type->tp_free(self);
  Py_DECREF(type);
}

}  // namespace zarvel
