#include "site/psv_response.hpp"
#include "velmar/errors.hpp"
namespace velmar {
void psv_response(const PsvMedium&, bool, double, std::span<const double>, std::span<const double>,
                  std::span<cdouble>, std::span<cdouble>) {
  throw InvalidArgument("P-SV not yet available");
}
}  // namespace velmar
