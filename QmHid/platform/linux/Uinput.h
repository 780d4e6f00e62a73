// Pointer output through uinput. With the pen output, every tablet gets a virtual tablet of its
// own, made when the tablet is and removed with it: named after the tablet ("QUILLMARK Pen
// (QmHid)"), with the HID device's bus and identifiers, its pressure range, tilt and switches,
// and INPUT_PROP_DIRECT, so that libinput, udev's hwdb and a compositor take it as that pen on
// its own screen. Its events follow the pen states: BTN_TOOL_PEN or BTN_TOOL_RUBBER while in
// range, BTN_TOUCH for the tip or the pressed eraser, BTN_STYLUS and BTN_STYLUS2 for the
// barrel buttons, ABS_TILT_X/Y and MSC_SERIAL. The mouse output is one absolute pointer
// "QmHid pointer" with BTN_LEFT and BTN_RIGHT, as a virtual machine's tablet, which is what
// the mapping's mouse events say on Windows.
#pragma once

#include <memory>
#include <string>

#include <linux/input.h>

#include "platform/PointerOutput.h"

namespace qm {

// X and Y units per millimetre when a pen gives no physical size: 65536 units over a 254 mm
// (10 inch) wide area.
inline constexpr int32_t kNominalResolution = 258;

// The pen's state as evdev shows it, after a sample: which tool is in range, and the keys.
struct EvdevPenState {
    enum class Tool : uint8_t { None, Pen, Rubber };
    Tool tool = Tool::None;
    bool touch = false;
    bool stylus = false;
    bool stylus2 = false;
    friend bool operator==(const EvdevPenState&, const EvdevPenState&) = default;
};

// The state a sample asks for, after the state the last one left. A pen without an In Range
// usage counts as in range while its tip (or its eraser) is down; the eraser end is the tool
// while Invert or Eraser is set. A pen without Invert cannot say which end hovers: the end
// that was in range stays until the pen leaves range or touches with its tip.
EvdevPenState WantedPenState(const PointerEvent& event, bool hasInvert = true,
                             EvdevPenState::Tool current = EvdevPenState::Tool::None);

// The evdev frames of one sample from the state the last one left, which it updates: at most
// two frames (an out-of-range frame when the pen flips ends in range) of kMaxPenEvents events.
inline constexpr int kMaxPenEvents = 24;
struct PenFrameOptions {
    bool tilt = false;
    bool serial = false;
    bool hasInvert = true;
};
int PenFrames(EvdevPenState& state, const PointerEvent& event, const PenFrameOptions& options,
              input_event (&events)[kMaxPenEvents]);

// One tablet's virtual pen. Inject runs on that tablet's read thread alone.
class UinputPen final : public IPointerOutput {
public:
    // Makes the device through a new handle of path; null with a one-line reason.
    static std::unique_ptr<UinputPen> Make(const char* path, const PenDescription& pen,
                                           std::string& error);
    ~UinputPen() override;
    uint32_t Inject(const PointerEvent& event) override;

private:
    UinputPen(int fd, const PenDescription& pen);
    int fd_;
    PenFrameOptions options_;
    EvdevPenState state_;  // the read thread's
};

class UinputPointerOutput final : public IPointerOutput {
public:
    enum class Kind { Pen, Mouse };
    explicit UinputPointerOutput(Kind kind) : kind_(kind) {}
    ~UinputPointerOutput() override;

    // Checks that /dev/uinput (or path) can be opened, and makes the mouse device; false with
    // a one-line reason.
    bool Open(std::string& error, const char* path = "/dev/uinput");
    // The pen output makes a device per tablet; one that cannot be made is logged with its
    // reason, and its tablet injects here, where nothing is drawn.
    std::unique_ptr<IPointerOutput> MakePenOutput(const PenDescription& pen) override;
    uint32_t Inject(const PointerEvent& event) override;

private:
    Kind kind_;
    std::string path_;  // set by Open, read only afterwards
    int fd_ = -1;       // the mouse device's
};

}  // namespace qm
