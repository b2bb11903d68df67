#include "driver/run.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "common/run_stop.hpp"
#include "driver/deck.hpp"

namespace velmar {
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
}  // namespace velmar
