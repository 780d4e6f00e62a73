// Working out a calibration from two taps: where two targets are on the screen (0..65535 of
// the mapping's output) and the mean raw position the pen gave at each, the origin and extent
// per axis that make the mapping put those raw positions on those targets, for a rotation.
// Shared by the calibration programs; the inverse of MapSample's normalise-then-rotate.
#pragma once

#include <cstdint>
#include <optional>

#include "QmHidSrv/PointerMapping.h"

namespace qm {

struct ScreenPoint {
    double x = 0;  // 0..65535 over the mapping's output
    double y = 0;
};
struct RawPoint {
    double x = 0;  // mean raw device units
    double y = 0;
};

// Nothing when the two taps do not span both axes (the same raw X or Y at both targets, or
// targets on one line) or run against an axis, which no calibration can express. The extents
// found are positive.
std::optional<Calibration> FitCalibration(ScreenPoint target1, RawPoint raw1, ScreenPoint target2,
                                          RawPoint raw2, uint32_t rotation);

// Where the mapping puts a raw point with this calibration and rotation (0..65535, unclamped).
ScreenPoint PredictScreen(const Calibration& calibration, uint32_t rotation, RawPoint raw);

}  // namespace qm
