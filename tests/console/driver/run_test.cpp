#include "console/driver/run.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "console/driver/run_stop.hpp"
#include "console/driver/deck.hpp"

namespace velmar::console {
namespace {

TEST(TransformLengthLimit, SixtyThousandPassesAndAboveStops) {
  EXPECT_NO_THROW(check_transform_length(60000));
  try {
    check_transform_length(60001);
    FAIL() << "no stop";
  } catch (const RunStop& e) {
    EXPECT_EQ(e.status(), EXIT_LIMIT);
    EXPECT_EQ(e.out_text(), " DIMENSIONAMENTO INSUFFICIENTE\n");
    EXPECT_EQ(e.err_text(), "limit: a transform length of at most 60000 (NFFT = 60001)\n");
  }
  // Every accepted sample count gives a transform within the limit.
  int worst = 0;
  for (int npt = 1; npt <= MAX_SAMPLES; ++npt) worst = std::max(worst, transform_length(npt));
  EXPECT_EQ(worst, MAXPT);
  EXPECT_EQ(transform_length(1000), 2000);
  EXPECT_EQ(transform_length(1025), 2160);
}

TEST(TransformLengthLimit, AFactorAboveFiveStopsWithBothLines) {
  // No deck reaches such a length (the deck's lengths are 2-3-5 numbers);
  // the stop is checked on the run state directly.
  auto s = std::make_unique<RunState>();
  s->ISIG = 1;
  s->ITYPE = 0;
  s->LOUT = 1;
  s->table.RHO[0] = 2.0f;
  s->table.VSC[0] = cfloat(500.0f, 0.0f);
  s->NFFT = 14;
  s->NF = 7;
  s->DT = 0.01f;
  s->DF = 1.0f / (14 * 0.01f);
  set_grid(*s);
  try {
    compute(*s);
    FAIL() << "no stop";
  } catch (const RunStop& e) {
    EXPECT_EQ(e.status(), EXIT_LIMIT);
    EXPECT_EQ(e.out_text(), " FACTORIZATION FAILED IN FACTOR\n");
    EXPECT_EQ(e.err_text(), "limit: a transform length whose prime factors are 2, 3 and 5 only (NFFT = 14)\n");
  }
}

// The driver's reading of the transform's failures: the exit status and the
// exact lines of each (the radix stop cannot be reached from a deck, whose
// lengths the set-up factors into served radices).
TEST(TransformLengthLimit, TransformFailuresBecomeTheirStops) {
  const RunStop radix = transform_stop(FftError(FftError::Kind::RADIX, "radix one encountered"), 2000);
  EXPECT_EQ(radix.status(), EXIT_RADIX);
  EXPECT_EQ(radix.out_text(), " radix one encountered\n999\n");
  EXPECT_EQ(radix.err_text(), "");
  const RunStop length = transform_stop(FftError(FftError::Kind::LENGTH, "FACTORIZATION FAILED IN FACTOR"), 14);
  EXPECT_EQ(length.status(), EXIT_LIMIT);
  EXPECT_EQ(length.out_text(), " FACTORIZATION FAILED IN FACTOR\n");
  EXPECT_EQ(length.err_text(), "limit: a transform length whose prime factors are 2, 3 and 5 only (NFFT = 14)\n");
}

TEST(FrequencyGrid, SignalRunGridMatchesTheTransform) {
  auto s = std::make_unique<RunState>();
  s->NPT = 1000;
  s->DT = 0.01f;
  s->IHALF = 2;
  for (int i = 0; i < s->NPT; ++i) s->SIG[static_cast<std::size_t>(i)] = 4.0f;
  s->SIG[1500] = 99.0f;  // beyond NPT: must be cleared by the zero extension
  set_signal_grid(*s);
  prepare_signal(*s);
  EXPECT_EQ(s->NFFT, 2000);
  EXPECT_EQ(s->NF, 1000);
  EXPECT_FLOAT_EQ(s->DF, 0.05f);
  EXPECT_FLOAT_EQ(s->FMAX, 50.0f);
  EXPECT_EQ(s->SIG[0], 0.0f);      // tapered end
  EXPECT_EQ(s->SIG[500], 2.0f);    // halved after tapering
  EXPECT_EQ(s->SIG[1500], 0.0f);
  set_grid(*s);
  EXPECT_EQ(s->FREQ[0], 0.0f);
  EXPECT_FLOAT_EQ(s->FREQ[999], 999 * 0.05f);
}

}  // namespace
}  // namespace velmar::console
