// The tablet's normal mode: one raw pen sample becomes one absolute pointer event.
#pragma once

#include <cstdint>

#include "platform/PointerOutput.h"

namespace qm {

inline constexpr int32_t kAbsoluteMax = 65535;

// X origin, Y origin, X extent, Y extent, in raw device units. A negative extent measures the
// axis from the other end.
struct Calibration {
    int32_t xOrigin = 0;
    int32_t yOrigin = 0;
    int32_t xExtent = 0;
    int32_t yExtent = 0;
    friend bool operator==(const Calibration&, const Calibration&) = default;
};

// What the tablet last emitted; touched only by the mapping, on the tablet's read thread.
// A new tablet starts at the origin with no button down.
struct PointerState {
    int32_t lastX = 0;
    int32_t lastY = 0;
    uint8_t lastButtons = 0;
};

// Scales one raw coordinate to 0..65535 with signed 32-bit arithmetic: the product wraps at
// 32 bits and the quotient truncates toward zero. An extent of 0 leaves the axis at 0.
int32_t NormaliseAxis(int32_t raw, int32_t origin, int32_t extent);

// Normalises, rotates (index 1 = 90°, 2 = 180°, 3 = 270°, anything else = 0°) and works out the
// move and button flags against the state, which it updates. buttons: bit 0 tip, bit 1 barrel.
PointerEvent MapSample(const Calibration& calibration, uint32_t rotation, PointerState& state,
                       int32_t x, int32_t y, uint8_t buttons, bool force);

// MapSample, then the event goes to the output; returns what the output returns.
uint32_t MapAndEmit(IPointerOutput& output, const Calibration& calibration, uint32_t rotation,
                    PointerState& state, int32_t x, int32_t y, uint8_t buttons, bool force);

}  // namespace qm
