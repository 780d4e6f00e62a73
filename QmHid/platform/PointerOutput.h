// Absolute pointer output: what the mapping hands to the platform, one event per sample.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qm {

// Mouse event flags, with the values Windows gives them.
inline constexpr uint32_t kMouseMove = 0x0001;
inline constexpr uint32_t kMouseLeftDown = 0x0002;
inline constexpr uint32_t kMouseLeftUp = 0x0004;
inline constexpr uint32_t kMouseRightDown = 0x0008;
inline constexpr uint32_t kMouseRightUp = 0x0010;
inline constexpr uint32_t kMouseVirtualDesk = 0x4000;
inline constexpr uint32_t kMouseAbsolute = 0x8000;

// Pen buttons, in a pen sample and in a pointer event: the two that the mapping and the raw
// pipe report carry.
inline constexpr uint32_t kPenTip = 0x1;
inline constexpr uint32_t kPenBarrel = 0x2;
// The pen's other switches, which ride along for outputs that draw a pen: the second barrel
// button, and the eraser end near (Invert) or pressed (Eraser).
inline constexpr uint32_t kPenBarrel2 = 0x1;
inline constexpr uint32_t kPenInvert = 0x2;
inline constexpr uint32_t kPenEraser = 0x4;

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
    uint8_t switches = 0;     // kPenBarrel2, kPenInvert, kPenEraser
    int32_t tiltX = 0;        // in the pen's own units (PenDescription)
    int32_t tiltY = 0;
    uint32_t serial = 0;  // the transducer's serial number, 0 without one
    // Two events are the same mouse event when position and flags agree.
    friend bool operator==(const PointerEvent& a, const PointerEvent& b) {
        return a.dx == b.dx && a.dy == b.dy && a.flags == b.flags;
    }
};

// One of a pen's axes as its descriptor gives it.
struct PenAxis {
    bool present = false;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t resolution = 0;  // units per radian for tilt; 0 unknown
};

// What an output may want to know of a pen when its tablet is made.
struct PenDescription {
    int32_t pressureMax = 0;
    int32_t xResolution = 0;  // units of the 0..65535 range per millimetre; 0 unknown
    int32_t yResolution = 0;
    PenAxis tiltX;
    PenAxis tiltY;
    uint32_t switches = 0;  // the kPenBarrel2, kPenInvert, kPenEraser switches it has
    bool hasSerial = false;
    // The device's identity, for an output that makes a device of the tablet's own.
    std::string name;  // UTF-8, the product string
    uint16_t bus = 0;
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t version = 0;
};

class IPointerOutput {
public:
    virtual ~IPointerOutput() = default;
    // Injects one event; returns the number of events injected (0 or 1). Must not allocate.
    virtual uint32_t Inject(const PointerEvent& event) = 0;
    // A pen's tablet was made (on the manager's thread); most outputs need nothing of it.
    virtual void DescribePen(const PenDescription&) {}
    // An output of the tablet's own, for outputs that make one device per tablet (Linux's
    // uinput pen); made on the manager's thread when the tablet is, destroyed with it. Null:
    // the tablet injects into this output.
    virtual std::unique_ptr<IPointerOutput> MakePenOutput(const PenDescription&) { return nullptr; }
};

}  // namespace qm
