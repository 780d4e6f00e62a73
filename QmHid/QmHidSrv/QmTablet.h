// The product's tablet: calibration slots and rotation kept per device interface, handed from
// the control side to the read thread, and each pen sample mapped or pushed raw to the client.
#pragma once

#include <atomic>
#include <memory>
#include <cstdint>

#include "QmHidSrv/HidTablet.h"
#include "QmHidSrv/PointerMapping.h"
#include "QmHidSrv/StatusCodes.h"
#include "platform/PointerOutput.h"
#include "platform/SettingsStore.h"

namespace qm {

// What a tablet needs of the manager that owns it.
class ITabletHost {
public:
    virtual ~ITabletHost() = default;
    virtual void SetStatusCode(uint32_t code) = 0;
    // This device produced the latest sample. Called on read threads; must not block.
    virtual void SetActiveDevice(CHidDevice* device) = 0;
    // Writes the whole message to the control client; false when there is none or it failed.
    virtual bool PushToClient(const uint8_t* message, uint32_t length) = 0;
    virtual ISettingsStore& Settings() = 0;
    virtual IPointerOutput& Pointer() = 0;
};

// One calibration slot as stored: valid flag, three reserved bytes, four signed values.
struct CalibrationSlot {
    uint8_t valid = 0;
    Calibration calibration;
};
inline constexpr size_t kCalibrationSlotSize = 20;
void EncodeSlot(const CalibrationSlot& slot, uint8_t (&bytes)[kCalibrationSlotSize]);
CalibrationSlot DecodeSlot(const uint8_t (&bytes)[kCalibrationSlotSize]);

struct SettingsBlock {
    uint8_t rawMode = 0;
    uint8_t rotation = 0;
    Calibration calibration;
};

class CQmTablet : public CHidTablet {
public:
    CQmTablet(CHidDevMgr& manager, ITabletHost& host, const char* path);
    ~CQmTablet() override;

    bool Configured() const { return configured_; }
    uint32_t SetRotation(uint16_t angle);
    uint32_t SetCalibration(int32_t xOrigin, int32_t yOrigin, int32_t xExtent, int32_t yExtent);
    Calibration GetCalibration();
    uint32_t SetRawMode(uint8_t flag);
    // The rotation index and raw flag of the active block (what the next report uses).
    SettingsBlock ActiveSettings();

    void OnPenData(uint32_t x, uint32_t y, uint32_t pressure, uint32_t buttons,
                   uint32_t inRange) override;

    static const char* SlotValueName(uint32_t index);

private:
    ITabletHost& host_;
    bool configured_ = false;
    Mutex settingsLock_;  // guards slots_ and pending_, and the copy into active_
    CalibrationSlot slots_[4];
    SettingsBlock pending_;
    std::atomic<bool> pendingDirty_{false};  // set under the lock, tested without it
    SettingsBlock active_;                   // the read thread's; written under the lock
    PointerState pointer_;                   // the read thread's
    // The pointer output of this tablet's own, where the host's makes one per tablet: made
    // on the manager's thread before reading starts, gone after it stops; the read thread
    // injects into it, or into the host's when there is none.
    std::unique_ptr<IPointerOutput> ownPointer_;
    IPointerOutput* pointer() {
        return ownPointer_ != nullptr ? ownPointer_.get() : &host_.Pointer();
    }
};

// What an output needs of a tablet's pen: ranges, switches and identity.
PenDescription DescribeTabletPen(CHidTablet& tablet);

}  // namespace qm
