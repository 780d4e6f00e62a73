// Pointer output through uinput. The pen output is a virtual tablet "QmHid pen" that libinput
// and drawing programs take as a pen on the screen (INPUT_PROP_DIRECT): ABS_X and ABS_Y over
// 0..65535 where calibration and rotation put the pen, ABS_PRESSURE in the pen's own range,
// BTN_TOOL_PEN while in range, BTN_TOUCH for the tip and BTN_STYLUS for the barrel. The mouse
// output is an absolute pointer "QmHid pointer" with BTN_LEFT and BTN_RIGHT, as a virtual
// machine's tablet, which is what the mapping's mouse events say on Windows.
#pragma once

#include <atomic>
#include <string>

#include "platform/PointerOutput.h"
#include "platform/Sync.h"

namespace qm {

// X and Y units per millimetre when a pen gives no physical size: 65536 units over a 254 mm
// (10 inch) wide area.
inline constexpr int32_t kNominalResolution = 258;

class UinputPointerOutput final : public IPointerOutput {
public:
    enum class Kind { Pen, Mouse };
    explicit UinputPointerOutput(Kind kind) : kind_(kind) {}
    ~UinputPointerOutput() override;

    // Opens /dev/uinput (or path); false with a one-line reason.
    bool Open(std::string& error, const char* path = "/dev/uinput");
    // The pen device is made for the first pen described, with its pressure range (made
    // again for the first pen with pressure when the first had none); the mouse device at
    // Open. Other pens' pressure is scaled into that range.
    void DescribePen(const PenDescription& pen) override;
    uint32_t Inject(const PointerEvent& event) override;

private:
    bool Create(int32_t pressureMax, int32_t xResolution, int32_t yResolution);

    Kind kind_;
    int fd_ = -1;
    Mutex createLock_;  // DescribePen against DescribePen; Inject only reads ready_
    std::atomic<bool> ready_{false};
    // Written before ready_ is set; a device made again rewrites it while Inject may read it.
    std::atomic<int32_t> pressureMax_{0};
};

}  // namespace qm
