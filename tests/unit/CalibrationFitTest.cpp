// Working out a calibration from two taps, checked against the mapping itself: raw taps are put
// through MapSample with a true calibration, and the fit must give that calibration back.
#include "QmHidSrv/CalibrationFit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace qm {
namespace {

struct FitCase {
    const char* name;
    Calibration truth;
    uint32_t rotation;
};

const FitCase kCases[] = {
    {"WholeTabletNoRotation", {0, 0, 4095, 4095}, 0},
    {"AreaWithOffsets", {500, 400, 3000, 3200}, 0},
    {"Rotated90", {500, 400, 3000, 3200}, 1},
    {"Rotated180", {120, 80, 9000, 7000}, 2},
    {"Rotated270", {500, 400, 3000, 3200}, 3},
};

class Fit : public testing::TestWithParam<FitCase> {};

ScreenPoint Mapped(const Calibration& c, uint32_t rotation, int32_t x, int32_t y) {
    PointerState state;
    const PointerEvent e = MapSample(c, rotation, state, x, y, 0, true);
    return {static_cast<double>(e.dx), static_cast<double>(e.dy)};
}

TEST_P(Fit, GivesBackTheCalibrationThatPutTheTapsOnTheTargets) {
    const FitCase& k = GetParam();
    // Taps well inside the calibrated area, as at 10 % and 90 % targets.
    const RawPoint r1{k.truth.xOrigin + 0.1 * k.truth.xExtent,
                      k.truth.yOrigin + 0.1 * k.truth.yExtent};
    const RawPoint r2{k.truth.xOrigin + 0.9 * k.truth.xExtent,
                      k.truth.yOrigin + 0.9 * k.truth.yExtent};
    const ScreenPoint s1 =
        Mapped(k.truth, k.rotation, static_cast<int32_t>(r1.x), static_cast<int32_t>(r1.y));
    const ScreenPoint s2 =
        Mapped(k.truth, k.rotation, static_cast<int32_t>(r2.x), static_cast<int32_t>(r2.y));
    const auto fit = FitCalibration(s1, {std::floor(r1.x), std::floor(r1.y)}, s2,
                                    {std::floor(r2.x), std::floor(r2.y)}, k.rotation);
    ASSERT_TRUE(fit.has_value());
    // Within a raw unit per value: the mapping truncates to whole output units.
    EXPECT_LE(std::abs(fit->xOrigin - k.truth.xOrigin), 1) << fit->xOrigin;
    EXPECT_LE(std::abs(fit->yOrigin - k.truth.yOrigin), 1) << fit->yOrigin;
    EXPECT_LE(std::abs(fit->xExtent - k.truth.xExtent), 2) << fit->xExtent;
    EXPECT_LE(std::abs(fit->yExtent - k.truth.yExtent), 2) << fit->yExtent;
    // A third tap (a check target) lands where the true calibration puts it.
    const int32_t x3 = k.truth.xOrigin + k.truth.xExtent * 9 / 10;
    const int32_t y3 = k.truth.yOrigin + k.truth.yExtent / 10;
    const ScreenPoint want = Mapped(k.truth, k.rotation, x3, y3);
    const ScreenPoint got = PredictScreen(*fit, k.rotation, {double(x3), double(y3)});
    EXPECT_NEAR(got.x, want.x, 40);
    EXPECT_NEAR(got.y, want.y, 40);
}

INSTANTIATE_TEST_SUITE_P(Cases, Fit, testing::ValuesIn(kCases),
                         [](const auto& c) { return std::string(c.param.name); });

// A negative extent measures the origin from the other end: {o, -e} maps as {o - e, e}, and
// the fit gives that positive form.
TEST(FitCalibration, ANegativeExtentIsFittedInItsPositiveForm) {
    const Calibration negative{4000, 3900, -3500, -3600};
    const ScreenPoint s1 = Mapped(negative, 0, 850, 660);
    const ScreenPoint s2 = Mapped(negative, 0, 3650, 3540);
    const auto fit = FitCalibration(s1, {850, 660}, s2, {3650, 3540}, 0);
    ASSERT_TRUE(fit.has_value());
    EXPECT_NEAR(fit->xOrigin, 500, 1);
    EXPECT_NEAR(fit->yOrigin, 300, 1);
    EXPECT_NEAR(fit->xExtent, 3500, 2);
    EXPECT_NEAR(fit->yExtent, 3600, 2);
}

TEST(FitCalibration, TapsThatDoNotSpanBothAxesGiveNothing) {
    const ScreenPoint a{6553, 6553}, b{58981, 58981};
    EXPECT_FALSE(FitCalibration(a, {100, 100}, b, {100, 900}, 0));  // same raw X
    EXPECT_FALSE(FitCalibration(a, {100, 100}, b, {900, 100}, 0));  // same raw Y
    EXPECT_FALSE(FitCalibration(a, {100, 100}, a, {900, 900}, 0));  // one target twice
    EXPECT_FALSE(FitCalibration(a, {900, 100}, b, {100, 900}, 0));  // X runs against the axis
    EXPECT_TRUE(FitCalibration(a, {100, 100}, b, {900, 900}, 0));
}

}  // namespace
}  // namespace qm
