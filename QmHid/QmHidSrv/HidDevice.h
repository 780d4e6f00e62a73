// One opened HID device interface with a read thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Hid.h"
#include "platform/Sync.h"

namespace qm {

class CHidDevMgr;

inline constexpr uint32_t kReadThreadStopMs = 5000;
inline constexpr uint32_t kReadSilenceMs = 1000;
inline constexpr uint32_t kReadRetryMs = 1000;

struct ReadSession;

class CHidDevice {
public:
    // Opens the device and enters it into the manager's list, usable or not.
    CHidDevice(CHidDevMgr& manager, const char* path);
    virtual ~CHidDevice();
    CHidDevice(const CHidDevice&) = delete;
    CHidDevice& operator=(const CHidDevice&) = delete;

    virtual bool CanDelete() { return true; }
    // Receives every input report, on the read thread; the first byte is the report ID.
    virtual void OnReport(const uint8_t* report, uint32_t length) = 0;

    bool StartReading(bool attachToInputDesktop);
    bool StopReading();
    // Reacts to an event of the device's handle; always grants (returns 1).
    int64_t OnHandleNotification(uint32_t code);

    char16_t* GetManufacturerString(char16_t* buffer, uint32_t size);
    char16_t* GetProductString(char16_t* buffer, uint32_t size);
    char16_t* GetSerialNumberString(char16_t* buffer, uint32_t size);

    const std::string& DevicePath() const { return devicePath; }
    const HidCaps& Caps() const { return caps; }
    bool Usable() const { return usable; }
    bool Reading() const { return readThreadHandle.Running(); }
    bool FileOpen() const { return fileHandle != nullptr; }
    bool AttachFlag() const { return attachToInputDesktop; }
    CHidDevMgr& Manager() { return manager; }

    // The backend's handle of the open file, for event registration.
    intptr_t FileNativeHandle() const {
        return fileHandle != nullptr ? fileHandle->NativeHandle() : 0;
    }

    // The manager's list link, the device's notification registration, and the token that
    // names it on the control pipe (handed out by the manager: never 0, never reused).
    CHidDevice* next = nullptr;
    intptr_t handleNotification = 0;
    uint64_t token = 0;

    // The device's bus and identifiers, from its open file; false when it has none to give.
    bool GetAttributes(HidAttributes& out);
    // A string of the device's, for outputs that name it: false (buffer untouched) when it
    // cannot be had. Unlike the Get*String operations it records no error.
    bool PeekString(HidStringKind kind, char16_t* buffer, uint32_t bytes);

protected:
    const IHidReportParser* Parser() const { return preparsedData.get(); }

private:
    static void ReadThread(void* session);
    char16_t* GetString(HidStringKind kind, char16_t* buffer, uint32_t size);
    void RecordLastError();

    bool attachToInputDesktop = false;
    std::string devicePath;
    HidCaps caps{};
    std::unique_ptr<IHidReportParser> preparsedData;
    // Shared with the read thread, which keeps the file open for as long as it runs. Changed
    // on the window thread; the file lock guards it against the pipe thread's string reads.
    std::shared_ptr<IHidFile> fileHandle;
    Mutex fileLock_;
    Thread readThreadHandle;
    std::shared_ptr<ReadSession> session_;  // the running read thread's, or null
    CHidDevMgr& manager;
    std::shared_ptr<Event> stopEvent;
    bool usable = false;
    bool resumeAfterQueryRemove = false;
};

// Brief opens of a path, with read access and read sharing only; they record no error.
bool QueryDeviceCaps(IHidBackend& backend, const char* path, HidCaps& caps);
char16_t* QueryManufacturerString(IHidBackend& backend, const char* path, char16_t* buffer,
                                  uint32_t size);
char16_t* QueryProductString(IHidBackend& backend, const char* path, char16_t* buffer,
                             uint32_t size);
char16_t* QuerySerialNumberString(IHidBackend& backend, const char* path, char16_t* buffer,
                                  uint32_t size);

}  // namespace qm
