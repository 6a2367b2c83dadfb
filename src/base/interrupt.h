// How a long operation of the core learns that its caller wants it stopped (Ctrl-C, for a Python
// caller) without knowing who asks or how.
#pragma once

#include <cstdint>

namespace zarvel {

class Interrupt {
 public:
  virtual ~Interrupt() = default;
  // True when the operation must stop now. The asker may hold the reason itself (a pending Python
  // exception): the operation then returns Status::interrupted() at once, having changed nothing.
  virtual bool requested() = 0;
};

// Never asks for a stop: the hook of callers that cannot be interrupted. It holds no state.
Interrupt& never_interrupted();

// Asks an Interrupt once every `period` units of work (documents, blocks of a file), so that a
// loop pays a counter per unit and a call only now and then.
class InterruptPoll {
 public:
  // A few milliseconds of work at most, even for the slowest queries.
  static constexpr std::uint32_t kDocumentsPerCheck = 4096;

  explicit InterruptPoll(Interrupt& interrupt, std::uint32_t period = kDocumentsPerCheck) noexcept
      : interrupt_(interrupt), period_(period), left_(period) {}

  // Counts one unit; true when this is a unit that asks and the answer is to stop.
  bool stop() {
    if (--left_ != 0) [[likely]]
      return false;
    left_ = period_;
    return interrupt_.requested();
  }

 private:
  Interrupt& interrupt_;
  std::uint32_t period_;
  std::uint32_t left_;
};

}  // namespace zarvel
