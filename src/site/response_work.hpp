// response_work.hpp: one transfer function into the caller's storage, with
// scratch kept from call to call (the workspace calls and the record filter
// use it).
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "site/psv_response.hpp"
#include "site/sh_response.hpp"
#include "velmar/response.hpp"

namespace velmar::detail {

// Scratch of transfer_into, sized on first use: an SH call on the sizes of
// an earlier one allocates nothing.
struct ResponseWork {
  ShMedium medium;
  ShResponseWork sh;
  std::vector<cdouble> other;  // SH: the displacement when strain or stress is asked for; P-SV: the other component
  PsvMedium psv_medium;
  PsvResponseWork psv;
  std::vector<double> abs_freqs;
};

// Refuses a wave set-up no response can be computed for (an angle of
// incidence not strictly between -90 and 90 degrees).
void check_setup(const WaveSetup& setup);

// The P-SV response (horizontal U, vertical W; depth-major, freqs.size() x
// depths.size() values each) as response() gives it, with the caller's
// scratch: a call on the sizes of an earlier one allocates nothing.
void psv_response_into(const Profile& profile, std::span<const double> freqs, std::span<const double> depths,
                       const WaveSetup& setup, ResponseWork& work, std::span<cdouble> U, std::span<cdouble> W);

// velmar::transfer written into `out` (freqs.size() values; another size is
// refused with InvalidArgument). For SH only the series asked for is
// computed.
void transfer_into(const Profile& profile, std::span<const double> freqs, const WaveSetup& setup, double depth,
                   Quantity quantity, std::optional<Component> component, ResponseWork& work,
                   std::span<cdouble> out);

}  // namespace velmar::detail
