// interrupt.hpp: stopping a long call from outside (a user's Ctrl-C in an
// interactive session, a deadline of a service).
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace velmar {

// Thrown out of a long call (an equivalent-linear iteration, a batch,
// response spectra of many records) when the caller's interrupt check asked
// it to stop. A call that throws returns no partial result.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(const std::string& what = "interrupted") : std::runtime_error(what) {}
};

// A caller's check, polled by long calls between passes, realisations or
// blocks of work (a few milliseconds of work apart at most), always on the
// thread that made the call. It returns false to let the call go on and true
// to stop it (the call then throws Interrupted). It may instead throw an
// exception of its own, which leaves the call as it is. An empty check is
// never polled and costs nothing.
using InterruptCheck = std::function<bool()>;

// Polls `check` when it is set; throws Interrupted when it asks to stop.
inline void poll_interrupt(const InterruptCheck& check) {
  if (check && check()) throw Interrupted();
}

}  // namespace velmar
