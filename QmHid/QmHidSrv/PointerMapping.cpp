#include "QmHidSrv/PointerMapping.h"

#include <limits>

namespace qm {

namespace {

// Two's-complement arithmetic on 32 bits, written so that it is defined for every input.
int32_t WrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

int32_t WrapMul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

int32_t TruncDiv(int32_t a, int32_t b) {
    // The one quotient that does not fit wraps back to the dividend, as the product did.
    if (b == -1 && a == std::numeric_limits<int32_t>::min())
        return a;
    return a / b;
}

int32_t Clamp(int32_t v) {
    if (v < 0)
        return 0;
    if (v > kAbsoluteMax)
        return kAbsoluteMax;
    return v;
}

}  // namespace

int32_t NormaliseAxis(int32_t raw, int32_t origin, int32_t extent) {
    if (extent == 0)
        return 0;
    int32_t n = TruncDiv(WrapMul(WrapSub(raw, origin), kAbsoluteMax), extent);
    if (extent < 0)
        n = WrapSub(kAbsoluteMax, n);
    return n;
}

PointerEvent MapSample(const Calibration& calibration, uint32_t rotation, PointerState& state,
                       int32_t x, int32_t y, uint8_t buttons, bool force) {
    const int32_t nx = Clamp(NormaliseAxis(x, calibration.xOrigin, calibration.xExtent));
    const int32_t ny = Clamp(NormaliseAxis(y, calibration.yOrigin, calibration.yExtent));

    PointerEvent event;
    switch (rotation) {
        case 1:
            event.dx = kAbsoluteMax - ny;
            event.dy = nx;
            break;
        case 2:
            event.dx = kAbsoluteMax - nx;
            event.dy = kAbsoluteMax - ny;
            break;
        case 3:
            event.dx = ny;
            event.dy = kAbsoluteMax - nx;
            break;
        default:
            event.dx = nx;
            event.dy = ny;
            break;
    }

    uint32_t flags = kMouseAbsolute;
    if (force || event.dx != state.lastX || event.dy != state.lastY) {
        flags |= kMouseMove;
        state.lastX = event.dx;
        state.lastY = event.dy;
    }
    const uint8_t changed = buttons ^ state.lastButtons;
    if (force || (changed & 0x01) != 0)
        flags |= (buttons & 0x01) ? kMouseLeftDown : kMouseLeftUp;
    if (force || (changed & 0x02) != 0)
        flags |= (buttons & 0x02) ? kMouseRightDown : kMouseRightUp;
    flags |= kMouseVirtualDesk;
    state.lastButtons = buttons;
    event.flags = flags;
    return event;
}

uint32_t MapAndEmit(IPointerOutput& output, const Calibration& calibration, uint32_t rotation,
                    PointerState& state, int32_t x, int32_t y, uint8_t buttons, bool force) {
    return output.Inject(MapSample(calibration, rotation, state, x, y, buttons, force));
}

}  // namespace qm
