// The instance layout of Zarvel and the use of its store by one call at a time.
#pragma once

#include <Python.h>

#include "lib/store.h"

namespace zarvel {

struct ZarvelObject {
  PyObject_HEAD
  Store store;
  // 0 free, n > 0 shared uses in progress, -1 one exclusive use. The interpreter lock protects it;
  // it only refuses calls that re-enter the store from Python code run during another call.
  Py_ssize_t borrow;
};

enum class StoreUse { kShared, kExclusive };

// Takes the store for one call and gives it back on every path.
class StoreBorrow {
 public:
  // On refusal `ok()` is false and RuntimeError is set.
  StoreBorrow(ZarvelObject* self, StoreUse use);
  ~StoreBorrow();
  StoreBorrow(const StoreBorrow&) = delete;
  StoreBorrow& operator=(const StoreBorrow&) = delete;

  bool ok() const noexcept { return self_ != nullptr; }

 private:
  ZarvelObject* self_ = nullptr;
  StoreUse use_;
};

// The class object, created at first use. Borrowed reference, or null with an exception set.
PyTypeObject* zarvel_type();

}  // namespace zarvel
