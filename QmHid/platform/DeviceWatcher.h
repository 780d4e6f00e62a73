// Device discovery and notifications, delivered one at a time on the manager's window thread:
// the HID interfaces present, interface arrival and removal, events of open device handles, and
// window messages such as display changes. Windows: a hidden window and WM_DEVICECHANGE;
// elsewhere: a queue that udev or virtual devices feed.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

inline constexpr uint32_t kWmDeviceChange = 0x0219;
inline constexpr uint32_t kWmDisplayChange = 0x007E;

// The wParam of a device-change message: what happened to the interface or handle.
inline constexpr uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr uint32_t kDbtDeviceQueryRemove = 0x8001;
inline constexpr uint32_t kDbtDeviceQueryRemoveFailed = 0x8002;
inline constexpr uint32_t kDbtDeviceRemovePending = 0x8003;
inline constexpr uint32_t kDbtDeviceRemoveComplete = 0x8004;

// What a WM_DEVICECHANGE record says, read out of it by the backend.
struct DeviceChange {
    enum class Type { Interface, Handle, Other };
    Type type = Type::Other;
    const char* path = nullptr;  // Interface: the interface path
    intptr_t registration = 0;   // Handle: the registration the event is for
};

// The manager's side: handed every message of the window thread.
class IDeviceEventSink {
public:
    virtual ~IDeviceEventSink() = default;
    // One interface path present at start.
    virtual void OnPresentInterface(const char* path) = 0;
    // One message; change is set for device-change messages with a record. Returns true with
    // result set when the message was handled; false lets the default handling run.
    virtual bool OnWindowProcedure(uint32_t message, uintptr_t wParam, intptr_t lParam,
                                   const DeviceChange* change, intptr_t& result) = 0;
};

// Runs on the window thread, in this order: Open, EnumeratePresent, WatchInterfaces, Run,
// Close. RequestQuit may come from any thread at any time after Open returned.
class IDeviceWatcher {
public:
    virtual ~IDeviceWatcher() = default;
    // Process-wide preparation before a window thread starts (the window class on Windows);
    // false with the thread's last error set.
    virtual bool Prepare() = 0;
    // Makes the window (or queue) that receives the events, bound to the sink. After it
    // returns, a quit request is never lost.
    virtual void Open(IDeviceEventSink& sink) = 0;
    virtual void EnumeratePresent(IDeviceEventSink& sink) = 0;
    virtual void WatchInterfaces() = 0;
    // Delivers messages to the sink until a quit request.
    virtual void Run() = 0;
    virtual void Close() = 0;
    virtual void RequestQuit() = 0;
    // Events of one open device handle; 0 when the registration failed.
    virtual intptr_t RegisterHandle(const std::string& path, intptr_t nativeHandle) = 0;
    virtual void UnregisterHandle(intptr_t registration) = 0;
};

}  // namespace qm
