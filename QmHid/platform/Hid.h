// What the core needs of a HID device: its capabilities, the three report queries the decoder
// asks, its strings, and a file with a cancellable read. Types keep the layout-free meaning of
// the Windows HID structures; no operating-system type appears here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Sync.h"

namespace qm {

// Status values of the report queries, with the values the Windows HID parser uses.
enum class HidStatus : uint32_t {
    Success = 0x00110000,
    InvalidReportType = 0xC0110002,
    InvalidReportLength = 0xC0110003,
    UsageNotFound = 0xC0110004,
    InsufficientResources = 0xC0110006,
    BufferTooSmall = 0xC0110007,
    IncompatibleReportId = 0xC011000A,
    ReportDoesNotExist = 0xC0110010,
};

// Windows error codes that the backends store as the thread's last error.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr uint32_t kErrorBadDevice = 1200;
inline constexpr uint32_t kErrorInvalidUserBuffer = 1784;

// The top-level collection's summary (HIDP_CAPS). Lengths count the report ID byte.
struct HidCaps {
    uint16_t usage = 0;
    uint16_t usagePage = 0;
    uint16_t inputReportByteLength = 0;
    uint16_t outputReportByteLength = 0;
    uint16_t featureReportByteLength = 0;
    uint16_t numberInputButtonCaps = 0;
    uint16_t numberInputValueCaps = 0;
};

// One input value capability (the fields of HIDP_VALUE_CAPS that are used).
struct HidValueCaps {
    uint16_t usagePage = 0;
    uint8_t reportId = 0;
    bool isRange = false;
    uint16_t usageMin = 0;
    uint16_t usageMax = 0;
    uint16_t bitSize = 0;
    uint16_t reportCount = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
};

struct UsageAndPage {
    uint16_t usage = 0;
    uint16_t usagePage = 0;
};

// The report-descriptor queries of one top-level collection, for input reports and any link
// collection. A report starts with its report ID byte (0 without report IDs) and must be
// inputReportByteLength long. None of these allocate.
class IHidReportParser {
public:
    virtual ~IHidReportParser() = default;
    virtual HidStatus GetCaps(HidCaps& caps) const = 0;
    // Fills up to `count` records of the input values of (page, usage); count becomes the
    // number filled.
    virtual HidStatus GetSpecificValueCaps(uint16_t usagePage, uint16_t usage, HidValueCaps* caps,
                                           uint16_t& count) const = 0;
    // The raw bits of one value usage, unsigned, without sign extension.
    virtual HidStatus GetUsageValue(uint16_t usagePage, uint16_t usage, uint32_t& value,
                                    const uint8_t* report, uint32_t length) const = 0;
    // The active buttons of all pages; fails with BufferTooSmall when more are active than
    // `count` (count then says how many there are).
    virtual HidStatus GetUsagesEx(UsageAndPage* list, uint32_t& count, const uint8_t* report,
                                  uint32_t length) const = 0;
};

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
    // The backend's handle of the open file (a HANDLE on Windows), for device-event
    // registration; 0 where events are keyed by path.
    virtual intptr_t NativeHandle() const { return 0; }
};

enum class HidOpenMode {
    Reading,  // read access, read and write sharing, overlapped
    Query,    // read access, read sharing only, not overlapped
};

// Opens device interface paths. Implemented by the Windows backend, the virtual devices and,
// later, hidraw.
class IHidBackend {
public:
    virtual ~IHidBackend() = default;
    // Null with the thread's last error set when the path cannot be opened.
    virtual std::unique_ptr<IHidFile> Open(const char* path, HidOpenMode mode) = 0;
};

}  // namespace qm
