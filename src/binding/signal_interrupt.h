// The store's Interrupt for Python callers: Ctrl-C, or any signal whose handler raises, stops a
// long call with the handler's exception.
#pragma once

#include "base/interrupt.h"

namespace zarvel {

// Runs the pending signal handlers (PyErr_CheckSignals); true when one raised, its exception then
// pending. Needs the interpreter lock, which every store call holds. Holds no state.
Interrupt& python_signals();

}  // namespace zarvel
