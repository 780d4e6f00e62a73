// What the core needs of a HID device: its capabilities, the three report queries the decoder
// asks, its strings, and a file with a cancellable read. Types keep the layout-free meaning of
// the Windows HID structures; no operating-system type appears here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hid/HidReportParser.h"
#include "platform/Sync.h"

namespace qm {

// Windows error codes that the backends store as the thread's last error.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr uint32_t kErrorBadDevice = 1200;
inline constexpr uint32_t kErrorInvalidUserBuffer = 1784;

// Device interface paths are 8-bit strings compared without regard to letter case.
inline bool PathsEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

enum class HidStringKind { Manufacturer, Product, SerialNumber };

enum class HidReadResult { Completed, Pending, Failed };
enum class HidWait { Stop, Completed, Failed, Timeout, WaitFailed };

// One open handle of a HID device interface.
// A device's bus and identifiers (the bus as Linux's BUS_* numbers them).
struct HidAttributes {
    uint16_t bus = 0;
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t version = 0;
};

class IHidFile {
public:
    virtual ~IHidFile() = default;
    // Starts a read of one input report into buffer: completed at once, pending, or failed
    // (the thread's last error says why). One read at a time.
    virtual HidReadResult Read(uint8_t* buffer, uint32_t length) = 0;
    // Waits for the stop event or the pending read's end, at most timeoutMs. Completed: the
    // buffer holds a report. Failed: the read ended without one (the device went away).
    virtual HidWait WaitForRead(Event& stop, uint32_t timeoutMs) = 0;
    // Cancels a pending read; on return nothing writes into its buffer any more.
    virtual void CancelRead() = 0;
    // Reads a UTF-16 string into buffer of `bytes` bytes; false with the last error set.
    virtual bool GetString(HidStringKind kind, char16_t* buffer, uint32_t bytes) = 0;
    // The parser of the device's top-level collection (its preparsed data); null with the
    // last error set when it cannot be had. Owned by the caller; outlives the file.
    virtual std::unique_ptr<IHidReportParser> GetPreparsedData() = 0;
    // The device's bus and identifiers; false where the backend has none to give.
    virtual bool GetAttributes(HidAttributes&) { return false; }
    // The backend's handle of the open file (a HANDLE on Windows), for device-event
    // registration; 0 where events are keyed by path.
    virtual intptr_t NativeHandle() const { return 0; }
};

enum class HidOpenMode {
    Reading,  // read access, read and write sharing, overlapped
    Query,    // read access, read sharing only, not overlapped
};

// Opens device interface paths. Implemented by the Windows backend, hidraw and the virtual
// devices.
class IHidBackend {
public:
    virtual ~IHidBackend() = default;
    // Null with the thread's last error set when the path cannot be opened.
    virtual std::unique_ptr<IHidFile> Open(const char* path, HidOpenMode mode) = 0;
};

}  // namespace qm
