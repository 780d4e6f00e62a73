// A HID report-descriptor parser that answers the decoder's queries as the Windows HID parser
// does: each top-level collection is a device of its own, with its own capabilities and reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hid/HidReportParser.h"

namespace qm {

// One input capability: a run of `reportCount` fields of `bitSize` bits starting at bit
// `bitOffset` of the report (the report ID byte is bits 0..7). A variable capability names one
// usage per field (usageMin + i, or one usage for every field); an array capability's fields
// hold indices into `arrayUsages`.
struct HidInputCap {
    uint8_t reportId = 0;
    uint16_t usagePage = 0;
    uint16_t usageMin = 0;
    uint16_t usageMax = 0;
    bool isRange = false;
    bool isButton = false;
    bool isArray = false;
    uint32_t bitOffset = 0;
    uint16_t bitSize = 0;
    uint16_t reportCount = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint32_t unitExponent = 0;
    uint32_t unit = 0;
    uint32_t arrayFirst = 0;  // for arrays: first entry in the collection's arrayUsages
    uint32_t arrayCount = 0;
};

// One top-level collection, ready for queries.
class HidCollection final : public IHidReportParser {
public:
    HidStatus GetCaps(HidCaps& caps) const override;
    HidStatus GetSpecificValueCaps(uint16_t usagePage, uint16_t usage, HidValueCaps* caps,
                                   uint16_t& count) const override;
    HidStatus GetUsageValue(uint16_t usagePage, uint16_t usage, uint32_t& value,
                            const uint8_t* report, uint32_t length) const override;
    HidStatus GetUsagesEx(UsageAndPage* list, uint32_t& count, const uint8_t* report,
                          uint32_t length) const override;
    bool HasInputButton(uint16_t usagePage, uint16_t usage) const override;

    // Whether an input report with this ID belongs to the collection.
    bool HasInputReport(uint8_t reportId) const;

    HidCaps caps;
    bool usesReportIds = false;
    std::vector<HidInputCap> inputCaps;     // buttons and values, in descriptor order
    std::vector<UsageAndPage> arrayUsages;  // the usages that array fields index
    std::vector<uint8_t> inputReportIds;    // the IDs of its input reports
};

struct HidDescriptorParse {
    bool ok = false;
    std::string error;  // what is wrong and at which byte, when !ok
    std::vector<HidCollection> collections;
};

HidDescriptorParse ParseReportDescriptor(const uint8_t* data, size_t length);

// The collection a pen decoder should take: the first Pen (page 0x0D, usage 0x02), else the
// first of the Digitizer page, else the first.
size_t ChoosePenCollection(const std::vector<HidCollection>& collections);

}  // namespace qm

namespace qm {

// The descriptor of each top-level collection alone, as Windows presents one HID device per
// top-level collection: the global items in effect where the collection begins, then the
// collection's own items from the first local item before it to its End Collection. Empty
// when an item is cut short or a collection is not closed.
std::vector<std::vector<uint8_t>> SplitTopLevelCollections(const uint8_t* data, size_t length);

}  // namespace qm
