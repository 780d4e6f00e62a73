// The report-descriptor queries of one top-level collection, with the meaning of the Windows
// HID parser's structures and status values. Answered by the project's own parser (hid/) and,
// on Windows, by HidP_* on preparsed data. Standard C++ only: this sits below the service core
// and the platform layer alike.
#pragma once

#include <cstdint>

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
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint32_t unitExponent = 0;  // the item's value: a 4-bit signed exponent
    uint32_t unit = 0;          // the HID unit code (0x11 centimetre, 0x13 inch)
};

// The physical length of a value's logical range in millimetres, from its physical extents,
// unit and exponent; 0 when the descriptor gives no length unit.
inline double PhysicalLengthMm(const HidValueCaps& caps) {
    // Length units: SI linear (centimetre) or English linear (inch), length to the first power.
    double mmPerUnit = 0;
    if (caps.unit == 0x11)
        mmPerUnit = 10.0;
    if (caps.unit == 0x13)
        mmPerUnit = 25.4;
    const int64_t extent = int64_t{caps.physicalMax} - caps.physicalMin;
    if (mmPerUnit == 0 || extent <= 0)
        return 0;
    int exponent = static_cast<int>(caps.unitExponent & 0xF);
    if (exponent >= 8)
        exponent -= 16;
    double scale = 1;
    for (int i = 0; i < (exponent < 0 ? -exponent : exponent); ++i)
        scale *= 10;
    const double length = static_cast<double>(extent) * mmPerUnit;
    return exponent < 0 ? length / scale : length * scale;
}

// The resolution of an angle's logical range in units per radian, from its physical extents,
// unit (degrees or radians) and exponent, rounded to the nearest; 0 when the descriptor gives
// no angle unit or the numbers overflow. The same figure as the kernel gives a tilt axis.
inline int32_t AngleResolutionPerRadian(const HidValueCaps& caps) {
    int64_t logical = int64_t{caps.logicalMax} - caps.logicalMin;
    int64_t physical = int64_t{caps.physicalMax} - caps.physicalMin;
    if (logical <= 0 || physical <= 0)
        return 0;
    int exponent = static_cast<int>(caps.unitExponent & 0xF);
    if (exponent >= 8)
        exponent -= 16;
    if (caps.unit == 0x14) {
        // Degrees: 57.3 per radian, the tenth carried by the exponent.
        logical *= 573;
        exponent += 1;
    } else if (caps.unit != 0x12) {
        return 0;  // not radians either
    }
    constexpr int64_t kLimit = int64_t{1} << 31;
    for (; exponent < 0; ++exponent)
        logical *= 10;
    for (; exponent > 0; --exponent)
        physical *= 10;
    if (logical >= kLimit || physical >= kLimit)
        return 0;
    return static_cast<int32_t>((logical + physical / 2) / physical);
}

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
    // Whether an input report of the collection has a button of (page, usage). Asked when a
    // tablet is made, never on the report path.
    virtual bool HasInputButton(uint16_t usagePage, uint16_t usage) const = 0;
};

}  // namespace qm
