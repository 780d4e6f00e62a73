#include "QmHidSrv/QmTablet.h"

#include "QmHidSrv/HidDevMgr.h"
#include "hid/HidUsages.h"
#include "shared/PipeMessages.h"

namespace qm {

namespace {
const char* const kSlotNames[4] = {"Calibrate0", "Calibrate1", "Calibrate2", "Calibrate3"};
constexpr const char* kRotationName = "Rotation";

// Angle in degrees to rotation index; -1 for an angle that is not a quarter turn.
int RotationIndex(uint16_t angle) {
    switch (angle) {
        case 0:
            return 0;
        case 90:
            return 1;
        case 180:
            return 2;
        case 270:
            return 3;
        default:
            return -1;
    }
}
}  // namespace

const char* CQmTablet::SlotValueName(uint32_t index) {
    return index < 4 ? kSlotNames[index] : "";
}

void EncodeSlot(const CalibrationSlot& slot, uint8_t (&b)[kCalibrationSlotSize]) {
    for (uint8_t& x : b)
        x = 0;
    b[0] = slot.valid;
    pipe::Put32(b + 4, static_cast<uint32_t>(slot.calibration.xOrigin));
    pipe::Put32(b + 8, static_cast<uint32_t>(slot.calibration.yOrigin));
    pipe::Put32(b + 12, static_cast<uint32_t>(slot.calibration.xExtent));
    pipe::Put32(b + 16, static_cast<uint32_t>(slot.calibration.yExtent));
}

CalibrationSlot DecodeSlot(const uint8_t (&b)[kCalibrationSlotSize]) {
    CalibrationSlot slot;
    slot.valid = b[0];  // reserved bytes 1..3 are ignored
    slot.calibration.xOrigin = static_cast<int32_t>(pipe::Get32(b + 4));
    slot.calibration.yOrigin = static_cast<int32_t>(pipe::Get32(b + 8));
    slot.calibration.xExtent = static_cast<int32_t>(pipe::Get32(b + 12));
    slot.calibration.yExtent = static_cast<int32_t>(pipe::Get32(b + 16));
    return slot;
}

CQmTablet::CQmTablet(CHidDevMgr& owner, ITabletHost& host, const char* path)
    : CHidTablet(owner, path), host_(host) {
    if (!Usable() || XMax() == 0 || YMax() == 0) {
        host_.SetStatusCode(kStatusDriverAccessError);
        owner.lastError = GetLastErrorCode();
        return;
    }
    ISettingsStore& store = host_.Settings();
    for (uint32_t n = 0; n < 4; ++n) {
        uint8_t bytes[kCalibrationSlotSize];
        if (store.Read(DevicePath(), kSlotNames[n], bytes, sizeof bytes)) {
            slots_[n] = DecodeSlot(bytes);
        } else {
            slots_[n].valid = 0;
            slots_[n].calibration = {0, 0, XMax(), YMax()};
        }
    }
    uint8_t rotation = 0;
    // A stored rotation outside 0..3 would name no slot: it counts as absent.
    if (!store.Read(DevicePath(), kRotationName, &rotation, 1) || rotation > 3)
        rotation = 0;
    active_.rawMode = 0;
    active_.rotation = rotation;
    active_.calibration = slots_[rotation].calibration;
    pending_ = active_;
    configured_ = true;
    const PenDescription pen = DescribeTabletPen(*this);
    ownPointer_ = host_.Pointer().MakePenOutput(pen);
    if (ownPointer_ == nullptr)
        host_.Pointer().DescribePen(pen);
    if (!StartReading(true)) {
        host_.SetStatusCode(kStatusTabletActivationFailure);
        owner.lastError = GetLastErrorCode();
    }
}

CQmTablet::~CQmTablet() {
    // The read thread calls into this object: it ends before any member goes.
    if (Usable())
        StopReading();
}

PenDescription DescribeTabletPen(CHidTablet& tablet) {
    PenDescription pen;
    // Units of the 0..65535 output range per millimetre, where the descriptor says its size.
    auto resolution = [](double mm) {
        return mm >= 1 ? static_cast<int32_t>(65535 / mm + 0.5) : 0;
    };
    pen.pressureMax = tablet.PressureMax();
    pen.xResolution = resolution(tablet.WidthMm());
    pen.yResolution = resolution(tablet.HeightMm());
    const PenDecoder& d = tablet.Decoder();
    auto axis = [](const PenValue& v) {
        return PenAxis{v.present, v.logicalMin, v.logicalMax, v.resolution};
    };
    pen.tiltX = axis(d.tiltX);
    pen.tiltY = axis(d.tiltY);
    pen.switches = d.switchesPresent;
    pen.hasSerial = d.hasSerial;
    HidAttributes attributes;
    if (tablet.GetAttributes(attributes)) {
        pen.bus = attributes.bus;
        pen.vendor = attributes.vendor;
        pen.product = attributes.product;
        pen.version = attributes.version;
    }
    // The product string as UTF-8.
    char16_t product[128] = {};
    if (!tablet.PeekString(HidStringKind::Product, product, sizeof product - sizeof product[0]))
        product[0] = 0;
    for (size_t i = 0; i < 127 && product[i] != 0; ++i) {
        uint32_t c = product[i];
        if (c >= 0xD800 && c < 0xDC00 && product[i + 1] >= 0xDC00 && product[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (product[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            pen.name += static_cast<char>(c);
        } else if (c < 0x800) {
            pen.name += static_cast<char>(0xC0 | (c >> 6));
            pen.name += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            pen.name += static_cast<char>(0xE0 | (c >> 12));
            pen.name += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            pen.name += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            pen.name += static_cast<char>(0xF0 | (c >> 18));
            pen.name += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            pen.name += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            pen.name += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    // As the kernel names the input node of each application of a device: the collection's
    // kind follows the name unless the name already says it.
    const char* suffix = nullptr;
    if (tablet.Caps().usagePage == hid::kPageDigitizer) {
        switch (tablet.Caps().usage) {
            case hid::kUsagePen:
            case hid::kUsageStylus:
                suffix = "Pen";
                break;
            case hid::kUsageTouchScreen:
                suffix = "Touchscreen";
                break;
            case hid::kUsageTouchPad:
                suffix = "Touchpad";
                break;
            default:
                break;
        }
    }
    if (suffix != nullptr && pen.name.find(suffix) == std::string::npos)
        pen.name += std::string(pen.name.empty() ? "" : " ") + suffix;
    return pen;
}

uint32_t CQmTablet::SetRotation(uint16_t angle) {
    const int index = RotationIndex(angle);
    if (index < 0 || !configured_)
        return 0;
    {
        LockGuard guard(settingsLock_);
        pending_.rotation = static_cast<uint8_t>(index);
        if (slots_[index].valid)
            pending_.calibration = slots_[index].calibration;
        pendingDirty_.store(true);
    }
    const uint8_t value = static_cast<uint8_t>(index);
    host_.Settings().Write(DevicePath(), kRotationName, &value, 1);
    return 0;
}

uint32_t CQmTablet::SetCalibration(int32_t xOrigin, int32_t yOrigin, int32_t xExtent,
                                   int32_t yExtent) {
    if (!configured_)
        return 0;
    uint32_t slot = 0;
    uint8_t bytes[kCalibrationSlotSize];
    {
        LockGuard guard(settingsLock_);
        // The slot of the rotation in use now, not of one that is still pending.
        slot = active_.rotation;
        slots_[slot].calibration = {xOrigin, yOrigin, xExtent, yExtent};
        slots_[slot].valid = 1;
        pending_.calibration = slots_[slot].calibration;
        pendingDirty_.store(true);
        EncodeSlot(slots_[slot], bytes);
    }
    host_.Settings().Write(DevicePath(), kSlotNames[slot], bytes, sizeof bytes);
    return 0;
}

Calibration CQmTablet::GetCalibration() {
    LockGuard guard(settingsLock_);
    return active_.calibration;
}

SettingsBlock CQmTablet::ActiveSettings() {
    LockGuard guard(settingsLock_);
    return active_;
}

uint32_t CQmTablet::SetRawMode(uint8_t flag) {
    if (!configured_)
        return 0;
    LockGuard guard(settingsLock_);
    pending_.rawMode = flag;
    pendingDirty_.store(true);
    return 0;
}

void CQmTablet::OnPenData(uint32_t x, uint32_t y, uint32_t pressure, uint32_t buttons,
                          uint32_t inRange) {
    host_.SetActiveDevice(this);
    bool force = false;
    if (pendingDirty_.load(std::memory_order_acquire)) {
        LockGuard guard(settingsLock_);
        pendingDirty_.store(false);
        active_ = pending_;
        force = true;
    }
    const auto buttonByte = static_cast<uint8_t>(buttons);
    if (active_.rawMode != 0) {
        uint8_t message[pipe::kRawPenReportSize];
        pipe::EncodeRawPenReport(message, token, x, y, buttonByte);
        const bool pushed = host_.PushToClient(message, sizeof message);
        // A failed push ends raw mode; the mapping takes over with the next sample. The read
        // thread owns the active block, but GetCalibration reads it under the lock.
        if (!pushed) {
            LockGuard guard(settingsLock_);
            active_.rawMode = 0;
        }
        return;
    }
    PointerEvent e = MapSample(active_.calibration, active_.rotation, pointer_,
                               static_cast<int32_t>(x), static_cast<int32_t>(y), buttonByte, force);
    e.buttons = static_cast<uint8_t>(buttonByte & 3);
    e.inRange = inRange != 0 ? 1 : 0;
    e.pressure = pressure;
    e.pressureMax = PressureMax();
    const PenSample& sample = CurrentSample();
    e.switches = static_cast<uint8_t>(sample.switches);
    e.tiltX = sample.tiltX;
    e.tiltY = sample.tiltY;
    e.serial = sample.serial;
    pointer()->Inject(e);
}

}  // namespace qm
