// workspace.cpp: the calls that keep their storage in a caller's workspace.
#include "velmar/workspace.hpp"

#include <string>

#include "site/response_work.hpp"
#include "velmar/errors.hpp"
#include "velmar/record_filter.hpp"

namespace velmar {

using detail::transfer_into;

struct Workspace::Impl {
  RecordFilter filter;
  detail::ResponseWork response;
};

Workspace::Workspace() = default;
Workspace::Workspace(Workspace&&) noexcept = default;
Workspace& Workspace::operator=(Workspace&&) noexcept = default;
Workspace::~Workspace() = default;

Workspace::Impl& Workspace::impl() {
  if (!impl_) impl_ = std::make_unique<Impl>();
  return *impl_;
}

void propagate(const Record& record, const Profile& profile, const PropagateOptions& options, Workspace& workspace,
               std::span<double> out) {
  if (out.size() != record.accel.size()) {
    throw InvalidArgument("out holds " + std::to_string(out.size()) + " values where the record has " +
                          std::to_string(record.accel.size()) + " samples");
  }
  RecordFilter& f = workspace.impl().filter;
  f.assign(record);
  f.propagate(profile, options, out);
}

void transfer(const Profile& profile, std::span<const double> freqs, const WaveSetup& setup, double depth,
              Quantity quantity, std::optional<Component> component, Workspace& workspace, std::span<cdouble> out) {
  transfer_into(profile, freqs, setup, depth, quantity, component, workspace.impl().response, out);
}

}  // namespace velmar
