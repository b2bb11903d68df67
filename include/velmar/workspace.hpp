// workspace.hpp: storage kept by the caller from one analysis to the next,
// so that repeated calls on records and profiles of the same sizes allocate
// nothing.
#pragma once

#include <memory>
#include <optional>
#include <span>

#include "velmar/motion.hpp"
#include "velmar/response.hpp"

namespace velmar {

// Holds the transform plans and twiddles of the last padded length, the
// record's spectrum and every scratch array of the calls below. Default
// construction allocates nothing; the first call sizes the storage, and a
// later call on a record of the same length (any values, any dt) and a
// profile with as many layers allocates nothing, for SH, P and SV waves.
// Results are the same as the value-returning calls'.
//
// A workspace is used by one thread at a time: give each thread its own.
// It may be moved, and reused with any sizes (it grows as needed).
class Workspace {
 public:
  Workspace();
  Workspace(Workspace&&) noexcept;
  Workspace& operator=(Workspace&&) noexcept;
  ~Workspace();

  struct Impl;  // defined by the library
  Impl& impl();

 private:
  std::unique_ptr<Impl> impl_;
};

// velmar::propagate (motion.hpp) written into `out`, which must hold
// record.accel.size() values (else InvalidArgument).
void propagate(const Record& record, const Profile& profile, const PropagateOptions& options,
               Workspace& workspace, std::span<double> out);

// velmar::transfer (response.hpp) written into `out`, which must hold
// freqs.size() values (else InvalidArgument).
void transfer(const Profile& profile, std::span<const double> freqs, const WaveSetup& setup, double depth,
              Quantity quantity, std::optional<Component> component, Workspace& workspace,
              std::span<cdouble> out);

}  // namespace velmar
