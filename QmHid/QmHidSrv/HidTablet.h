// A HID device that is a pen digitizer: every input report becomes one pen sample or none.
#pragma once

#include <cstdint>
#include <memory>

#include "QmHidSrv/HidDevice.h"
#include "platform/PointerOutput.h"

namespace qm {

// One decoded sample. The first five fields are what OnPenData receives (buttons: kPenTip,
// kPenBarrel); the rest ride along to the outputs that draw a pen.
struct PenSample {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t pressure = 0;
    uint32_t buttons = 0;
    uint32_t inRange = 0;
    uint32_t switches = 0;  // kPenBarrel2, kPenInvert, kPenEraser
    int32_t tiltX = 0;      // signed, in the descriptor's units; 0 without tilt
    int32_t tiltY = 0;
    uint32_t serial = 0;  // Transducer Serial Number (its low 32 bits); 0 without one
};

// A signed value of the descriptor (tilt): where it is, how wide, and its range.
struct PenValue {
    bool present = false;
    uint16_t bitSize = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t resolution = 0;  // units per radian, as the kernel gives tilt; 0 unknown
};

// The decoder itself, on a device's report queries: the maxima learnt once, then one report at
// a time into a sample. Shared by the tablet class and the command-line decoder.
class PenDecoder {
public:
    // Learns the maxima and prepares the button list; false (maxima 0) when X or Y is missing
    // or memory runs out.
    bool Init(const IHidReportParser& parser, const HidCaps& caps);
    // Decodes one report; false when it is dropped. Allocates nothing.
    bool Decode(const IHidReportParser& parser, const uint8_t* report, uint32_t length,
                PenSample& sample) const;

    int32_t xMax = 0;
    int32_t yMax = 0;
    int32_t pressureMax = 0;
    // The physical size of X's and Y's logical ranges; 0 when the descriptor gives none.
    double widthMm = 0;
    double heightMm = 0;
    PenValue tiltX;
    PenValue tiltY;
    bool hasSerial = false;
    uint32_t switchesPresent = 0;  // the kPenBarrel2, kPenInvert, kPenEraser buttons it has
    uint16_t buttonListCapacity = 0;
    std::unique_ptr<UsageAndPage[]> buttonList;
};

class CHidTablet : public CHidDevice {
public:
    CHidTablet(CHidDevMgr& manager, const char* path);
    ~CHidTablet() override;

    void OnReport(const uint8_t* report, uint32_t length) override;
    virtual void OnPenData(uint32_t x, uint32_t y, uint32_t pressure, uint32_t buttons,
                           uint32_t inRange) = 0;

    int32_t XMax() const { return decoder_.xMax; }
    int32_t YMax() const { return decoder_.yMax; }
    int32_t PressureMax() const { return decoder_.pressureMax; }
    double WidthMm() const { return decoder_.widthMm; }
    double HeightMm() const { return decoder_.heightMm; }
    uint16_t ButtonListCapacity() const { return decoder_.buttonListCapacity; }
    const PenDecoder& Decoder() const { return decoder_; }

protected:
    // The whole of the sample that OnPenData is called with: the read thread's own.
    const PenSample& CurrentSample() const { return sample_; }

private:
    PenDecoder decoder_;
    PenSample sample_;
};

}  // namespace qm
