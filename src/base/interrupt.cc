#include "base/interrupt.h"

namespace zarvel {

namespace {

class NeverInterrupted final : public Interrupt {
 public:
  bool requested() override { return false; }
};

}  // namespace

Interrupt& never_interrupted() {
  static NeverInterrupted never;
  return never;
}

}  // namespace zarvel
