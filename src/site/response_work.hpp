// response_work.hpp: one transfer function into the caller's storage, with
// scratch kept from call to call (the workspace calls and the record filter
// use it).
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "site/sh_response.hpp"
#include "velmar/response.hpp"

namespace velmar {

// Scratch of transfer_into, sized on first use: an SH call on the sizes of
// an earlier one allocates nothing.
struct ResponseWork {
  ShMedium medium;
  ShResponseWork sh;
  std::vector<cdouble> other;  // the displacement when strain or stress is asked for
};

// velmar::transfer written into `out` (freqs.size() values; another size is
// refused with InvalidArgument). For SH only the series asked for is
// computed; P and SV go through response() and allocate.
void transfer_into(const Profile& profile, std::span<const double> freqs, const WaveSetup& setup, double depth,
                   Quantity quantity, std::optional<Component> component, ResponseWork& work,
                   std::span<cdouble> out);

}  // namespace velmar
