// The calibration program's rounds: taps at the raw positions a true calibration gives for
// each target are saved as that calibration; a missed check target starts the round again,
// three times at most.
#include "QmHidCal/CalibrationRounds.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qm {
namespace {

const Calibration kTruth{500, 400, 3000, 3200};

// The raw point the true calibration puts on a screen point (rotation 0).
RawPoint RawFor(ScreenPoint s) {
    return {kTruth.xOrigin + s.x * kTruth.xExtent / kAbsoluteMax,
            kTruth.yOrigin + s.y * kTruth.yExtent / kAbsoluteMax};
}

void Tap(CalibrationRounds& r, RawPoint p, int32_t jitter = 0) {
    r.OnSample(static_cast<int32_t>(p.x), static_cast<int32_t>(p.y), false);  // hover
    for (int32_t d : {-jitter, 0, jitter})
        r.OnSample(static_cast<int32_t>(std::lround(p.x)) + d,
                   static_cast<int32_t>(std::lround(p.y)) - d, true);
    r.OnSample(static_cast<int32_t>(p.x), static_cast<int32_t>(p.y), false);
}

TEST(CalibrationRounds, FourGoodTapsSaveTheTrueCalibration) {
    CalibrationRounds r(0);
    for (int t = 0; t < 4; ++t) {
        ASSERT_EQ(r.Target(), t);
        Tap(r, RawFor(CalibrationRounds::TargetPoint(t)), 3);
    }
    ASSERT_EQ(r.state(), CalibrationRounds::State::Saved);
    const Calibration c = *r.Result();
    EXPECT_LE(std::abs(c.xOrigin - kTruth.xOrigin), 1);
    EXPECT_LE(std::abs(c.yOrigin - kTruth.yOrigin), 1);
    EXPECT_LE(std::abs(c.xExtent - kTruth.xExtent), 1);
    EXPECT_LE(std::abs(c.yExtent - kTruth.yExtent), 1);
    EXPECT_LT(r.LastError(), 0.001);
}

TEST(CalibrationRounds, AMissedCheckTargetStartsAgainThreeTimesAtMost) {
    CalibrationRounds r(0);
    for (int round = 1; round <= kMaxRounds; ++round) {
        ASSERT_EQ(r.Round(), round);
        for (int t = 0; t < 4; ++t) {
            ScreenPoint s = CalibrationRounds::TargetPoint(t);
            if (t == 3)
                s.x += 0.05 * kAbsoluteMax;  // 5 % off: over the 2 % tolerance
            Tap(r, RawFor(s));
        }
        EXPECT_NEAR(r.LastError(), 0.05, 0.002);
    }
    EXPECT_EQ(r.state(), CalibrationRounds::State::Failed);
    EXPECT_FALSE(r.Result().has_value());
}

TEST(CalibrationRounds, HoverAloneIsNoTap) {
    CalibrationRounds r(0);
    for (int i = 0; i < 10; ++i)
        r.OnSample(100, 100, false);
    EXPECT_EQ(r.Target(), 0);
    EXPECT_EQ(r.state(), CalibrationRounds::State::Target);
}

}  // namespace
}  // namespace qm
