// interrupt_check.hpp: the Python module's interrupt check for long library
// calls that run with the GIL released: it takes the GIL, lets Python run
// its signal handlers (Ctrl-C raises KeyboardInterrupt there), and carries
// the Python exception out through the library call.
#pragma once

#include <pybind11/pybind11.h>

#include "velmar/interrupt.hpp"

namespace velmar_python {

inline velmar::InterruptCheck python_interrupt_check() {
  return [] {
    pybind11::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
    return false;
  };
}

}  // namespace velmar_python
