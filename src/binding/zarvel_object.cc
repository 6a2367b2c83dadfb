#include "binding/zarvel_object.h"

namespace zarvel {

StoreBorrow::StoreBorrow(ZarvelObject* self, StoreUse use) : use_(use) {
  if (use == StoreUse::kExclusive) {
    if (self->borrow != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return;
    }
    self->borrow = -1;
  } else {
    if (self->borrow == -1) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return;
    }
    ++self->borrow;
  }
  self_ = self;
}

StoreBorrow::~StoreBorrow() {
  if (self_ == nullptr) return;
  if (use_ == StoreUse::kExclusive) {
    self_->borrow = 0;
  } else {
    --self_->borrow;
  }
}

}  // namespace zarvel
