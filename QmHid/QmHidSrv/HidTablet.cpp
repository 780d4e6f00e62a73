#include "QmHidSrv/HidTablet.h"

#include <new>

#include "QmHidSrv/HidDevMgr.h"
#include "hid/HidUsages.h"

namespace qm {

bool PenDecoder::Init(const IHidReportParser& parser, const HidCaps& caps) {
    xMax = yMax = 0;
    widthMm = heightMm = 0;
    buttonList.reset();
    const uint16_t room = caps.numberInputValueCaps;
    std::unique_ptr<HidValueCaps[]> scratch(new (std::nothrow)
                                                HidValueCaps[room == 0 ? 1 : room]());
    if (scratch == nullptr) {
        SetLastErrorCode(kErrorNotEnoughMemory);
        return false;
    }
    double lengthMm = 0;
    auto maxOf = [&](uint16_t page, uint16_t usage, int32_t& out) {
        uint16_t count = room;
        for (uint16_t i = 0; i < room; ++i)
            scratch[i] = HidValueCaps{};
        if (parser.GetSpecificValueCaps(page, usage, scratch.get(), count) != HidStatus::Success ||
            count == 0)
            return false;
        out = scratch[0].logicalMax;
        lengthMm = PhysicalLengthMm(scratch[0]);
        return true;
    };
    int32_t x = 0, y = 0, pressure = 0;
    if (!maxOf(hid::kPageGenericDesktop, hid::kUsageX, x))
        return false;
    const double xLengthMm = lengthMm;
    if (!maxOf(hid::kPageGenericDesktop, hid::kUsageY, y))
        return false;
    const double yLengthMm = lengthMm;
    if (!maxOf(hid::kPageDigitizer, hid::kUsageTipPressure, pressure))
        pressure = 0;
    buttonListCapacity = caps.numberInputButtonCaps;
    buttonList.reset(new (std::nothrow)
                         UsageAndPage[buttonListCapacity == 0 ? 1 : buttonListCapacity]);
    if (buttonList == nullptr) {
        SetLastErrorCode(kErrorNotEnoughMemory);
        return false;
    }
    xMax = x;
    yMax = y;
    pressureMax = pressure;
    widthMm = xLengthMm;
    heightMm = yLengthMm;
    // What pens carry beside: none of it is required.
    auto signedValue = [&](uint16_t usage, PenValue& out) {
        out = PenValue{};
        uint16_t count = room;
        for (uint16_t i = 0; i < room; ++i)
            scratch[i] = HidValueCaps{};
        if (parser.GetSpecificValueCaps(hid::kPageDigitizer, usage, scratch.get(), count) !=
                HidStatus::Success ||
            count == 0 || scratch[0].bitSize == 0 || scratch[0].bitSize > 32)
            return;
        out.present = true;
        out.bitSize = scratch[0].bitSize;
        out.logicalMin = scratch[0].logicalMin;
        out.logicalMax = scratch[0].logicalMax;
        out.resolution = AngleResolutionPerRadian(scratch[0]);
    };
    signedValue(hid::kUsageXTilt, tiltX);
    signedValue(hid::kUsageYTilt, tiltY);
    PenValue serial;
    signedValue(hid::kUsageTransducerSerialNumber, serial);
    hasSerial = serial.present;
    switchesPresent = 0;
    if (parser.HasInputButton(hid::kPageDigitizer, hid::kUsageSecondaryBarrelSwitch))
        switchesPresent |= kPenBarrel2;
    if (parser.HasInputButton(hid::kPageDigitizer, hid::kUsageInvert))
        switchesPresent |= kPenInvert;
    if (parser.HasInputButton(hid::kPageDigitizer, hid::kUsageEraser))
        switchesPresent |= kPenEraser;
    return true;
}

namespace {

// A value of the report as a signed number when its logical range has negative values.
int32_t SignedValue(uint32_t raw, const PenValue& v) {
    if (v.logicalMin >= 0 || v.bitSize >= 32)
        return static_cast<int32_t>(raw);
    const uint32_t sign = 1u << (v.bitSize - 1);
    raw &= (sign << 1) - 1u;
    return static_cast<int32_t>(raw ^ sign) - static_cast<int32_t>(sign);
}

}  // namespace

bool PenDecoder::Decode(const IHidReportParser& parser, const uint8_t* report, uint32_t length,
                        PenSample& sample) const {
    if (xMax == 0 || yMax == 0)
        return false;
    length &= 0xFFFFu;
    uint32_t count = buttonListCapacity;
    sample = PenSample{};
    if (parser.GetUsageValue(hid::kPageGenericDesktop, hid::kUsageX, sample.x, report, length) !=
        HidStatus::Success)
        return false;
    if (parser.GetUsageValue(hid::kPageGenericDesktop, hid::kUsageY, sample.y, report, length) !=
        HidStatus::Success)
        return false;
    if (parser.GetUsagesEx(buttonList.get(), count, report, length) != HidStatus::Success)
        return false;
    if (pressureMax != 0 &&
        parser.GetUsageValue(hid::kPageDigitizer, hid::kUsageTipPressure, sample.pressure, report,
                             length) != HidStatus::Success)
        return false;
    // Tilt and the serial number ride along: one that cannot be read is 0, and the report
    // still counts.
    uint32_t raw = 0;
    if (tiltX.present && parser.GetUsageValue(hid::kPageDigitizer, hid::kUsageXTilt, raw, report,
                                              length) == HidStatus::Success)
        sample.tiltX = SignedValue(raw, tiltX);
    if (tiltY.present && parser.GetUsageValue(hid::kPageDigitizer, hid::kUsageYTilt, raw, report,
                                              length) == HidStatus::Success)
        sample.tiltY = SignedValue(raw, tiltY);
    if (hasSerial)
        parser.GetUsageValue(hid::kPageDigitizer, hid::kUsageTransducerSerialNumber, sample.serial,
                             report, length);
    // For the tip, the barrel and in range only the usage number counts, whatever its page;
    // the other switches are the Digitizer page's.
    for (uint32_t i = 0; i < count; ++i) {
        const bool digitizer = buttonList[i].usagePage == hid::kPageDigitizer;
        switch (buttonList[i].usage) {
            case hid::kUsageSecondaryBarrelSwitch:
                sample.switches |= digitizer ? kPenBarrel2 : 0;
                break;
            case hid::kUsageInvert:
                sample.switches |= digitizer ? kPenInvert : 0;
                break;
            case hid::kUsageEraser:
                sample.switches |= digitizer ? kPenEraser : 0;
                break;
            case hid::kUsageTipSwitch:
                sample.buttons |= kPenTip;
                break;
            case hid::kUsageBarrelSwitch:
                sample.buttons |= kPenBarrel;
                break;
            case hid::kUsageInRange:
                sample.inRange = 1;
                break;
            default:
                break;
        }
    }
    return true;
}

CHidTablet::CHidTablet(CHidDevMgr& mgr, const char* path) : CHidDevice(mgr, path) {
    if (!Usable())
        return;
    if (!decoder_.Init(*Parser(), Caps())) {
        Manager().lastError = GetLastErrorCode();
        decoder_.xMax = decoder_.yMax = 0;
    }
}

CHidTablet::~CHidTablet() {
    // The read thread must be gone before the button list is: the most-derived class stops
    // it first; stopping again here covers a derived class that did not.
    if (Usable())
        StopReading();
}

void CHidTablet::OnReport(const uint8_t* report, uint32_t length) {
    if (!decoder_.Decode(*Parser(), report, length, sample_))
        return;
    OnPenData(sample_.x, sample_.y, sample_.pressure, sample_.buttons, sample_.inRange);
}

}  // namespace qm
