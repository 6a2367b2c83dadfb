#include "binding/store_access.h"

#include <algorithm>
#include <chrono>

namespace zarvel {

namespace {

// How often a waiting thread takes the interpreter lock back to run signal handlers, so that a
// store held for long by another thread does not make Ctrl-C wait with it.
constexpr std::chrono::milliseconds kSignalCheckInterval{100};

}  // namespace

bool StoreAccess::used_by(unsigned long thread) const {
  if (uses_ < 0) return exclusive_thread_ == thread;
  return std::find(shared_threads_.begin(), shared_threads_.end(), thread) != shared_threads_.end();
}

bool StoreAccess::acquire(StoreUse use) {
  unsigned long me = PyThread_get_thread_ident();
  for (;;) {
    if (use == StoreUse::kExclusive && uses_ == 0) {
      uses_ = -1;
      exclusive_thread_ = me;
      return true;
    }
    if (use == StoreUse::kShared && uses_ >= 0) {
      shared_threads_.push_back(me);
      ++uses_;
      return true;
    }
    if (used_by(me)) {
      PyErr_SetString(PyExc_RuntimeError, use == StoreUse::kExclusive ? "Already borrowed"
                                                                      : "Already mutably borrowed");
      return false;
    }
    if (!wait_for_release()) return false;
  }
}

void StoreAccess::release(StoreUse use) {
  if (use == StoreUse::kExclusive) {
    uses_ = 0;
    exclusive_thread_ = 0;
  } else {
    --uses_;
    auto mine =
        std::find(shared_threads_.begin(), shared_threads_.end(), PyThread_get_thread_ident());
    if (mine != shared_threads_.end()) shared_threads_.erase(mine);
  }
  if (waiting_ == 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++releases_;
  }
  released_.notify_all();
}

bool StoreAccess::wait_for_release() {
  std::uint64_t seen;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    seen = releases_;
  }
  ++waiting_;
  Py_BEGIN_ALLOW_THREADS
  {
    // Released before the interpreter lock is taken back: the releasing thread holds that lock
    // when it takes this one.
    std::unique_lock<std::mutex> lock(mutex_);
    released_.wait_for(lock, kSignalCheckInterval, [&] { return releases_ != seen; });
  }
  Py_END_ALLOW_THREADS
  --waiting_;
  return PyErr_CheckSignals() == 0;
}

}  // namespace zarvel
