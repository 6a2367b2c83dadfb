// The instance layout of Zarvel and the use of its store by one call at a time.
#pragma once

#include <Python.h>

#include "binding/store_access.h"
#include "lib/store.h"

namespace zarvel {

struct ZarvelObject {
  PyObject_HEAD
  Store store;
  StoreAccess access;
  // Whether update writes its trace lines.
  bool trace;
};

// Takes the store for one call and gives it back on every path.
class StoreBorrow {
 public:
  // Waits while another thread uses the store. On refusal `ok()` is false and an exception is set.
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
