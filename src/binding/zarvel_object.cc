#include "binding/zarvel_object.h"

namespace zarvel {

StoreBorrow::StoreBorrow(ZarvelObject* self, StoreUse use) : use_(use) {
  if (self->access.acquire(use)) self_ = self;
}

StoreBorrow::~StoreBorrow() {
  if (self_ != nullptr) self_->access.release(use_);
}

}  // namespace zarvel
