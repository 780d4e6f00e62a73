// The hidden top-level window "HidTabWnd" that receives WM_DEVICECHANGE (interface and handle
// events) and broadcasts such as WM_DISPLAYCHANGE; SetupAPI for the interfaces present.
#pragma once

#include <atomic>

#include "platform/DeviceWatcher.h"

namespace qm {

class Win32DeviceWatcher final : public IDeviceWatcher {
public:
    // instance: the module handle (HINSTANCE) that the window belongs to.
    explicit Win32DeviceWatcher(intptr_t instance);
    ~Win32DeviceWatcher() override;

    bool Prepare() override;
    void Open(IDeviceEventSink& sink) override;
    void EnumeratePresent(IDeviceEventSink& sink) override;
    void WatchInterfaces() override;
    void Run() override;
    void Close() override;
    void RequestQuit() override;
    intptr_t RegisterHandle(const std::string& path, intptr_t nativeHandle) override;
    void UnregisterHandle(intptr_t registration) override;

    bool HasWindow() const { return window_ != 0; }

    // The window procedure's work, for the procedure itself.
    intptr_t Dispatch(intptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam);

private:
    intptr_t instance_;
    IDeviceEventSink* sink_ = nullptr;
    intptr_t window_ = 0;
    intptr_t interfaceNotification_ = 0;
    std::atomic<unsigned long> threadId_{0};
};

}  // namespace qm
