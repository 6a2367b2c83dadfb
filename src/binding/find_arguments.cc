#include "binding/find_arguments.h"

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "convert/conversion_error.h"
#include "lib/dotted_path.h"

namespace zarvel {

namespace {

bool fail(PyObject* type, const char* parameter, const std::string& text) {
  PyErr_Format(type, "argument '%s': %s", parameter, text.c_str());
  return false;
}

std::string type_name(PyObject* object) { return "'" + qualified_name(Py_TYPE(object)) + "'"; }

bool is_int(PyObject* object) { return PyLong_Check(object) && !PyBool_Check(object); }

// A path as UTF-8 text; `what` names it in the message ("a path", "the path of item 0").
bool extract_path(PyObject* object, const char* parameter, const std::string& what,
                  std::string& out) {
  if (!PyUnicode_Check(object)) {
    return fail(PyExc_TypeError, parameter, what + " must be a str, not " + type_name(object));
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(object, &size);
  if (text == nullptr) return false;
  out.assign(text, static_cast<std::size_t>(size));
  return true;
}

// A count of documents: an int >= 0; one beyond size_t counts as every document. `expected`
// says what the parameter takes.
bool extract_count(PyObject* object, const char* parameter, const char* expected,
                   std::size_t& out) {
  if (!is_int(object)) {
    return fail(PyExc_TypeError, parameter,
                std::string("must be ") + expected + ", not " + type_name(object));
  }
  int overflow = 0;
  long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow > 0) {
    out = std::numeric_limits<std::size_t>::max();
    return true;
  }
  if (overflow < 0 || value < 0) {
    PyErr_Format(PyExc_ValueError, "argument '%s': must be >= 0, not %R", parameter, object);
    return false;
  }
  out = static_cast<std::size_t>(value);
  return true;
}

bool extract_sort_key(PyObject* pair, Py_ssize_t index, std::vector<SortKey>& out) {
  std::string item = "item " + std::to_string(index);
  if (!(PyTuple_Check(pair) || PyList_Check(pair)) || PySequence_Fast_GET_SIZE(pair) != 2) {
    return fail(PyExc_TypeError, "sort",
                item + " must be a (path, direction) pair, not " + type_name(pair) +
                    (PyTuple_Check(pair) || PyList_Check(pair)
                         ? " of length " + std::to_string(PySequence_Fast_GET_SIZE(pair))
                         : ""));
  }
  std::string path;
  if (!extract_path(PySequence_Fast_GET_ITEM(pair, 0), "sort", "the path of " + item, path)) {
    return false;
  }
  PyObject* direction = PySequence_Fast_GET_ITEM(pair, 1);
  if (!is_int(direction)) {
    return fail(
        PyExc_TypeError, "sort",
        "the direction of " + item + " must be the int 1 or -1, not " + type_name(direction));
  }
  int overflow = 0;
  long value = PyLong_AsLongAndOverflow(direction, &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || (value != 1 && value != -1)) {
    PyErr_Format(PyExc_ValueError, "argument 'sort': the direction of %s must be 1 or -1, not %R",
                 item.c_str(), direction);
    return false;
  }
  out.push_back(SortKey{split_dotted_path(path), value == -1});
  return true;
}

bool extract_sort(PyObject* sort, std::vector<SortKey>& out) {
  if (sort == nullptr || sort == Py_None) return true;
  if (PyUnicode_Check(sort)) {
    std::string path;
    if (!extract_path(sort, "sort", "a path", path)) return false;
    out.push_back(SortKey{split_dotted_path(path), false});
    return true;
  }
  if (!PyList_Check(sort)) {
    return fail(
        PyExc_TypeError, "sort",
        "must be None, a path or a list of (path, direction) pairs, not " + type_name(sort));
  }
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sort); ++i) {
    if (!extract_sort_key(PyList_GET_ITEM(sort, i), i, out)) return false;
  }
  return true;
}

bool extract_fields(PyObject* fields, std::optional<Projection>& out) {
  if (fields == nullptr || fields == Py_None) return true;
  if (!PyList_Check(fields)) {
    return fail(PyExc_TypeError, "fields",
                "must be None or a list of paths, not " + type_name(fields));
  }
  std::vector<std::string> paths;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(fields); ++i) {
    std::string path;
    if (!extract_path(PyList_GET_ITEM(fields, i), "fields", "item " + std::to_string(i), path)) {
      return false;
    }
    paths.push_back(std::move(path));
  }
  out.emplace(paths);
  return true;
}

}  // namespace

bool extract_find_options(PyObject* sort, PyObject* skip, PyObject* limit, PyObject* fields,
                          FindOptions& out) {
  if (!extract_sort(sort, out.sort)) return false;
  if (skip != nullptr && !extract_count(skip, "skip", "an int", out.skip)) return false;
  if (limit != nullptr && limit != Py_None) {
    std::size_t count = 0;
    if (!extract_count(limit, "limit", "None or an int", count)) return false;
    out.limit = count;
  }
  return extract_fields(fields, out.fields);
}

}  // namespace zarvel
