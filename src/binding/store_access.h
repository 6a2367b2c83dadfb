// Who may use a store: calls from several Python threads take turns, a call that re-enters the
// store from its own thread is refused.
#pragma once

#include <Python.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zarvel {

enum class StoreUse { kShared, kExclusive };

// The interpreter lock guards the state; the mutex only carries the wake-ups of threads that wait
// without it. A call runs Python code of the caller's objects (a mapping's items(), a finaliser),
// and the interpreter may then switch threads: another thread's call waits for the store instead
// of failing, while the same thread coming back in is refused, as waiting would never end.
class StoreAccess {
 public:
  StoreAccess() = default;
  StoreAccess(const StoreAccess&) = delete;
  StoreAccess& operator=(const StoreAccess&) = delete;

  // Waits, with the interpreter lock released, while another thread's use conflicts. False with
  // an exception set: RuntimeError "Already borrowed" / "Already mutably borrowed" for a conflict
  // with a use of this thread, or the exception of a signal handler that ran while waiting.
  bool acquire(StoreUse use);
  void release(StoreUse use);

 private:
  bool used_by(unsigned long thread) const;
  bool wait_for_release();

  // 0 free, n > 0 shared uses in progress, -1 one exclusive use.
  Py_ssize_t uses_ = 0;
  unsigned long exclusive_thread_ = 0;
  std::vector<unsigned long> shared_threads_;  // one entry per shared use in progress
  int waiting_ = 0;

  std::mutex mutex_;
  std::condition_variable released_;
  std::uint64_t releases_ = 0;  // guarded by mutex_
};

}  // namespace zarvel
