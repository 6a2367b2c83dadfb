#include "binding/signal_interrupt.h"

#include <Python.h>

namespace zarvel {

namespace {

class PythonSignals final : public Interrupt {
 public:
  bool requested() override { return PyErr_CheckSignals() != 0; }
};

}  // namespace

Interrupt& python_signals() {
  static PythonSignals signals;
  return signals;
}

}  // namespace zarvel
