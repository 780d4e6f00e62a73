#include "QmHidSrv/CalibrationFit.h"

#include <cmath>

namespace qm {

namespace {

constexpr double kMax = kAbsoluteMax;

// The normalised axes (before rotation) that give this screen point, as MapSample rotates.
void Unrotate(ScreenPoint s, uint32_t rotation, double& nx, double& ny) {
    switch (rotation) {
        case 1:  // dx = max - ny, dy = nx
            nx = s.y;
            ny = kMax - s.x;
            break;
        case 2:  // dx = max - nx, dy = max - ny
            nx = kMax - s.x;
            ny = kMax - s.y;
            break;
        case 3:  // dx = ny, dy = max - nx
            nx = kMax - s.y;
            ny = s.x;
            break;
        default:
            nx = s.x;
            ny = s.y;
            break;
    }
}

// n = (raw - origin) * max / extent through two points; false when they do not span the axis
// or run against it. The mapping cannot mirror an axis (a negative extent only measures the
// origin from the other end), so a fitted extent is always positive.
bool FitAxis(double n1, double raw1, double n2, double raw2, int32_t& origin, int32_t& extent) {
    if (std::fabs(n2 - n1) < 1 || std::fabs(raw2 - raw1) < 1)
        return false;
    const double e = (raw2 - raw1) * kMax / (n2 - n1);
    if (e <= 0)
        return false;
    const double o = raw1 - n1 * e / kMax;
    if (!std::isfinite(e) || !std::isfinite(o) || std::fabs(e) > 2e9 || std::fabs(o) > 2e9)
        return false;
    extent = static_cast<int32_t>(std::lround(e));
    origin = static_cast<int32_t>(std::lround(o));
    return extent != 0;
}

}  // namespace

std::optional<Calibration> FitCalibration(ScreenPoint target1, RawPoint raw1, ScreenPoint target2,
                                          RawPoint raw2, uint32_t rotation) {
    double nx1 = 0, ny1 = 0, nx2 = 0, ny2 = 0;
    Unrotate(target1, rotation, nx1, ny1);
    Unrotate(target2, rotation, nx2, ny2);
    Calibration c;
    if (!FitAxis(nx1, raw1.x, nx2, raw2.x, c.xOrigin, c.xExtent) ||
        !FitAxis(ny1, raw1.y, ny2, raw2.y, c.yOrigin, c.yExtent))
        return std::nullopt;
    return c;
}

ScreenPoint PredictScreen(const Calibration& c, uint32_t rotation, RawPoint raw) {
    const double nx = c.xExtent != 0 ? (raw.x - c.xOrigin) * kMax / c.xExtent : 0;
    const double ny = c.yExtent != 0 ? (raw.y - c.yOrigin) * kMax / c.yExtent : 0;
    switch (rotation) {
        case 1:
            return {kMax - ny, nx};
        case 2:
            return {kMax - nx, kMax - ny};
        case 3:
            return {ny, kMax - nx};
        default:
            return {nx, ny};
    }
}

}  // namespace qm
