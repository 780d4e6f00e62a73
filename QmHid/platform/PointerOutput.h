// Absolute pointer output: what the mapping hands to the platform, one event per sample.
#pragma once

#include <cstdint>

namespace qm {

// Mouse event flags, with the values Windows gives them.
inline constexpr uint32_t kMouseMove = 0x0001;
inline constexpr uint32_t kMouseLeftDown = 0x0002;
inline constexpr uint32_t kMouseLeftUp = 0x0004;
inline constexpr uint32_t kMouseRightDown = 0x0008;
inline constexpr uint32_t kMouseRightUp = 0x0010;
inline constexpr uint32_t kMouseVirtualDesk = 0x4000;
inline constexpr uint32_t kMouseAbsolute = 0x8000;

// Pen buttons, in a pen sample and in a pointer event.
inline constexpr uint32_t kPenTip = 0x1;
inline constexpr uint32_t kPenBarrel = 0x2;

// One absolute pointer event: dx and dy in 0..65535 over the virtual desktop, and the flags of
// the mouse event. The pen's state rides along for outputs that draw a pen (Linux's uinput
// pen); the Windows output injects the mouse event alone.
struct PointerEvent {
    int32_t dx = 0;
    int32_t dy = 0;
    uint32_t flags = 0;
    uint8_t buttons = 0;      // kPenTip, kPenBarrel
    uint8_t inRange = 0;      // 0 or 1
    uint32_t pressure = 0;    // raw tip pressure
    int32_t pressureMax = 0;  // the pen's logical maximum, 0 without pressure
    // Two events are the same mouse event when position and flags agree.
    friend bool operator==(const PointerEvent& a, const PointerEvent& b) {
        return a.dx == b.dx && a.dy == b.dy && a.flags == b.flags;
    }
};

// What an output may want to know of a pen when its tablet is made.
struct PenDescription {
    int32_t pressureMax = 0;
    int32_t xResolution = 0;  // units of the 0..65535 range per millimetre; 0 unknown
    int32_t yResolution = 0;
};

class IPointerOutput {
public:
    virtual ~IPointerOutput() = default;
    // Injects one event; returns the number of events injected (0 or 1). Must not allocate.
    virtual uint32_t Inject(const PointerEvent& event) = 0;
    // A pen's tablet was made (on the manager's thread); most outputs need nothing of it.
    virtual void DescribePen(const PenDescription&) {}
};

}  // namespace qm
