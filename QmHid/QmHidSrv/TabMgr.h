// The tablet managers: CHidTabMgr follows the display orientation; CQmTabMgr takes the
// product's tablets, rotates them with the display, and owns the control pipe server.
#pragma once

#include <atomic>
#include <cstdint>

#include "QmHidSrv/HidDevMgr.h"
#include "QmHidSrv/QmTablet.h"
#include "platform/DisplayOrientation.h"
#include "platform/MessagePipe.h"

// <windows.h> maps StartService to StartServiceA; here it names the manager's own operation.
#ifdef StartService
#undef StartService
#endif

namespace qm {

inline constexpr uint32_t kPipeThreadStopMs = 5000;
inline constexpr uint32_t kPushTimeoutMs = 2000;
// A reply gets the bound of a push; a pipe that cannot be created is tried again this often.
inline constexpr uint32_t kReplyTimeoutMs = kPushTimeoutMs;
inline constexpr uint32_t kPipeRetryMs = 1000;

class CHidTabMgr : public CHidDevMgr {
public:
    CHidTabMgr(IHidBackend& backend, IDeviceWatcher& watcher, IDisplayOrientation& display);

    // Caches the orientation, then starts the device manager for the Digitizer page.
    bool Start(const char16_t* manufacturer, const char16_t* product, const char16_t* serial);
    void RefreshOrientation();
    // WM_DISPLAYCHANGE: the orientation is read again. Never handled, so the default runs.
    bool OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam,
                         intptr_t& result) override;
    virtual void OnOrientationChanged(int32_t orientation);
    int32_t CachedOrientation() const { return orientation_.load(); }
    bool DisplayFollowed() const { return display_.Followed(); }

private:
    IDisplayOrientation& display_;
    std::atomic<int32_t> orientation_{-1};  // written on the window thread and by Start
};

// Where the service reports a failure while it runs (the event log on Windows).
class IServiceLog {
public:
    virtual ~IServiceLog() = default;
    // code is one of the status codes; what names the operation that failed.
    virtual void Error(uint32_t code, const char* what) = 0;
    // A device interface that is not driven, and why (the Windows service logs errors only).
    virtual void Skipped(const char* /*path*/, const char* /*why*/) {}
};

// What the service's manager needs of the platform.
struct ServicePlatform {
    IHidBackend& hid;
    IDeviceWatcher& watcher;
    IDisplayOrientation& display;
    ISettingsStore& settings;
    IPointerOutput& pointer;
    IPipeServer& pipe;
    IServiceLog* log = nullptr;
};

class CQmTabMgr final : public CHidTabMgr, public ITabletHost {
public:
    explicit CQmTabMgr(const ServicePlatform& platform);
    ~CQmTabMgr() override;

    void OnDeviceArrival(const char* path) override;
    void OnOrientationChanged(int32_t orientation) override;
    // Rotates one tablet, or every listed tablet when tablet is null.
    void ApplyRotation(int32_t orientation, CQmTablet* tablet);

    bool StartService();
    // Takes every digitizer, not only the product's (set before the start).
    void SetAcceptAnyDigitizer(bool any) { acceptAny_ = any; }
    void OnDeviceSkipped(const char* path, const char* why) override {
        if (platform_.log != nullptr)
            platform_.log->Skipped(path, why);
    }
    // False when a thread did not end within its bound: it was left running, and the manager
    // must then not be destroyed (the hosts end the process instead).
    bool StopService();

    // ITabletHost
    void SetStatusCode(uint32_t code) override { statusCode_ = code; }
    void SetActiveDevice(CHidDevice* device) override;
    bool PushToClient(const uint8_t* message, uint32_t length) override;
    ISettingsStore& Settings() override { return platform_.settings; }
    IPointerOutput& Pointer() override { return platform_.pointer; }

    uint32_t StatusCode() const { return statusCode_.load(); }
    // The token of the tablet that delivered the latest sample; 0 before any.
    uint64_t LastActiveToken() const { return lastActive_.load(); }
    CQmTablet* TabletAt(uint16_t index) { return static_cast<CQmTablet*>(DeviceAt(index)); }
    CQmTablet* TabletByToken(uint64_t token) {
        return static_cast<CQmTablet*>(FindDeviceByToken(token));
    }
    bool PipeThreadRunning() const { return pipeThread_.Running(); }
    // True once a stop has left a thread running past its bound.
    bool LeftThreadsBehind() const { return pipeThreadLeft_ || WindowThreadLeft(); }

private:
    static void PipeServerThread(void* manager);
    // Creates the pipe, trying again every kPipeRetryMs; false when the stop came first.
    bool CreatePipe();
    // Tells the pipe thread to stop and waits kPipeThreadStopMs; false when it was left.
    bool StopPipeThread();

    ServicePlatform platform_;
    // The last active device, by token: written by read threads, read by the pipe thread.
    std::atomic<uint64_t> lastActive_{0};
    Thread pipeThread_;
    Mutex pushLock_;  // serialises pushes, and keeps them off a pipe that is being closed
    Event stopEvent_{true};
    std::atomic<uint32_t> statusCode_{0};
    bool pipeOpen_ = false;        // guarded by pushLock_
    bool pipeThreadLeft_ = false;  // the service thread's
    bool acceptAny_ = false;       // set before the window thread starts
};

// Handles one received control message of n bytes in buffer (1024 bytes); returns the size of
// the reply written over it, or 0 for none. Runs on the pipe thread.
uint32_t DispatchRequest(CQmTabMgr& manager, uint8_t* buffer, uint32_t n);

}  // namespace qm
