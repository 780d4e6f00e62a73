#include "hid/HidDescriptor.h"

#include <algorithm>
#include <cstdio>

#include "hid/HidItems.h"
#include "hid/HidUsages.h"

namespace qm {

namespace {

constexpr size_t kMaxCollections = 64;
constexpr size_t kMaxCaps = 4096;
constexpr size_t kMaxGlobalStack = 16;
constexpr size_t kMaxLocalUsages = 1024;
constexpr uint32_t kMaxReportBits = 8u * 4096u;

struct Globals {
    uint16_t usagePage = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint32_t unitExponent = 0;
    uint32_t unit = 0;
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

// A usage or usage range of the local state, with its page resolved.
struct LocalUsage {
    uint16_t page;
    uint16_t min;
    uint16_t max;
    bool isRange;
};

struct ReportBits {
    uint8_t id;
    uint32_t inputBits;
    uint32_t outputBits;
    uint32_t featureBits;
};

class Parser {
public:
    Parser(const uint8_t* data, size_t length) : data_(data), length_(length) {}

    HidDescriptorParse Run() {
        HidDescriptorParse out;
        hid::ItemReader reader(data_, length_);
        hid::Item item;
        for (hid::ItemRead r; error_.empty() && (r = reader.Next(item)) != hid::ItemRead::End;) {
            if (r == hid::ItemRead::CutShort)
                Fail(item.offset, item.isLong ? "long item is cut short" : "item is cut short");
            else
                Dispatch(item);
        }
        if (error_.empty() && depth_ != 0)
            Fail(length_, "a collection is not closed");
        if (error_.empty() && collections_.empty())
            Fail(length_, "no top-level collection");
        if (!error_.empty()) {
            out.error = error_;
            return out;
        }
        for (size_t i = 0; i < collections_.size(); ++i)
            Finish(collections_[i], reports_[i]);
        out.ok = true;
        out.collections = std::move(collections_);
        return out;
    }

private:
    void Fail(size_t at, const char* what) {
        if (!error_.empty())
            return;
        char text[160];
        std::snprintf(text, sizeof text, "report descriptor byte %zu: %s", at, what);
        error_ = text;
    }

    void Dispatch(const hid::Item& item) {
        if (item.isLong)
            return;  // long items carry nothing this parser reads
        switch (item.type) {
            case hid::ItemType::Main:
                return Main(item.offset, static_cast<hid::MainTag>(item.tag), item.data);
            case hid::ItemType::Global:
                return Global(item.offset, static_cast<hid::GlobalTag>(item.tag), item.data,
                              item.Signed());
            case hid::ItemType::Local:
                return Local(item.offset, static_cast<hid::LocalTag>(item.tag), item.data,
                             item.size);
            default:
                return;  // reserved items are skipped
        }
    }

    void Global(size_t at, hid::GlobalTag tag, uint32_t u, int32_t s) {
        using enum hid::GlobalTag;
        switch (tag) {
            case UsagePage:
                g_.usagePage = static_cast<uint16_t>(u);
                break;
            case LogicalMinimum:
                g_.logicalMin = s;
                break;
            case LogicalMaximum:
                g_.logicalMax = s;
                break;
            case PhysicalMinimum:
                g_.physicalMin = s;
                break;
            case PhysicalMaximum:
                g_.physicalMax = s;
                break;
            case UnitExponent:
                g_.unitExponent = u;
                break;
            case Unit:
                g_.unit = u;
                break;
            case ReportSize:
                g_.reportSize = u;
                break;
            case ReportId:
                if (u == 0 || u > 255)
                    return Fail(at, "report ID must be 1 to 255");
                g_.reportId = static_cast<uint8_t>(u);
                usesReportIds_ = true;
                break;
            case ReportCount:
                g_.reportCount = u;
                break;
            case Push:
                if (stack_.size() >= kMaxGlobalStack)
                    return Fail(at, "push nests too deep");
                stack_.push_back(g_);
                break;
            case Pop:
                if (stack_.empty())
                    return Fail(at, "pop without push");
                g_ = stack_.back();
                stack_.pop_back();
                break;
            default:
                break;
        }
    }

    void Local(size_t at, hid::LocalTag tag, uint32_t u, size_t size) {
        using enum hid::LocalTag;
        // A four-byte usage carries its own page in the upper half.
        const uint16_t page = size == 4 ? static_cast<uint16_t>(u >> 16) : g_.usagePage;
        const auto id = static_cast<uint16_t>(u);
        switch (tag) {
            case Usage:
                if (usages_.size() >= kMaxLocalUsages)
                    return Fail(at, "too many usages");
                usages_.push_back({page, id, id, false});
                break;
            case UsageMinimum:
                rangeMin_ = id;
                rangePage_ = page;
                haveMin_ = true;
                break;
            case UsageMaximum:
                if (!haveMin_)
                    return Fail(at, "usage maximum without minimum");
                if (id < rangeMin_)
                    return Fail(at, "usage maximum below minimum");
                if (usages_.size() >= kMaxLocalUsages)
                    return Fail(at, "too many usages");
                usages_.push_back({rangePage_, rangeMin_, id, true});
                haveMin_ = false;
                break;
            default:
                break;  // designators, strings, delimiters: not used here
        }
    }

    void Main(size_t at, hid::MainTag tag, uint32_t u) {
        using enum hid::MainTag;
        switch (tag) {
            case Collection:
                if (depth_ == 0) {
                    if (collections_.size() >= kMaxCollections)
                        return Fail(at, "too many top-level collections");
                    collections_.emplace_back();
                    reports_.emplace_back();
                    HidCollection& c = collections_.back();
                    if (!usages_.empty()) {
                        c.caps.usagePage = usages_.front().page;
                        c.caps.usage = usages_.front().min;
                    }
                }
                if (depth_ >= 64)
                    return Fail(at, "collections nest too deep");
                ++depth_;
                break;
            case EndCollection:
                if (depth_ == 0)
                    return Fail(at, "end collection without collection");
                --depth_;
                break;
            case Input:
            case Output:
            case Feature:
                if (depth_ == 0)
                    return Fail(at, "main item outside a collection");
                Field(at, tag, u);
                break;
            default:
                return Fail(at, "unknown main item");
        }
        usages_.clear();
        haveMin_ = false;
    }

    ReportBits& BitsOf(uint8_t id) {
        std::vector<ReportBits>& list = reports_.back();
        for (ReportBits& r : list)
            if (r.id == id)
                return r;
        list.push_back({id, 0, 0, 0});
        return list.back();
    }

    void Field(size_t at, hid::MainTag tag, uint32_t flags) {
        const uint64_t bits = uint64_t{g_.reportSize} * g_.reportCount;
        if (bits > kMaxReportBits)
            return Fail(at, "report too long");
        for (size_t i = 0; i + 1 < collections_.size(); ++i)
            for (const ReportBits& r : reports_[i])
                if (r.id == g_.reportId && usesReportIds_ && g_.reportId != 0)
                    return Fail(at, "report ID used by two top-level collections");
        ReportBits& report = BitsOf(g_.reportId);
        uint32_t& used = tag == hid::MainTag::Input    ? report.inputBits
                         : tag == hid::MainTag::Output ? report.outputBits
                                                       : report.featureBits;
        const uint32_t offset = 8 + used;  // after the report ID byte
        if (used + bits > kMaxReportBits)
            return Fail(at, "report too long");
        used += static_cast<uint32_t>(bits);
        // Constants and unnamed padding give no capability; a value wider than 32 bits (a
        // 64-bit transducer serial number) does, as Windows counts it, but no array does.
        if (tag != hid::MainTag::Input || (flags & hid::kFlagConstant) != 0 || usages_.empty() ||
            bits == 0)
            return;
        HidCollection& c = collections_.back();
        const bool variable = (flags & hid::kFlagVariable) != 0;
        if (g_.reportSize > 32 && (!variable || g_.reportSize > 0xFFFF))
            return;
        const auto size = static_cast<uint16_t>(g_.reportSize);
        if (!variable) {
            // An array: its fields index the listed usages, from the logical minimum.
            const auto first = static_cast<uint32_t>(c.arrayUsages.size());
            uint32_t count = 0;
            for (const LocalUsage& lu : usages_)
                for (uint32_t usage = lu.min; usage <= lu.max && count < 65536; ++usage, ++count)
                    c.arrayUsages.push_back({static_cast<uint16_t>(usage), lu.page});
            for (const LocalUsage& lu : usages_) {
                if (c.inputCaps.size() >= kMaxCaps)
                    return Fail(at, "too many capabilities");
                HidInputCap cap;
                Common(cap, lu, offset, size, static_cast<uint16_t>(g_.reportCount));
                cap.isButton = true;
                cap.isArray = true;
                cap.arrayFirst = first;
                cap.arrayCount = count;
                c.inputCaps.push_back(cap);
            }
            return;
        }
        // Variable fields take the listed usages in order; the last one covers what remains.
        uint32_t field = 0;
        for (size_t i = 0; i < usages_.size() && field < g_.reportCount; ++i) {
            const LocalUsage& lu = usages_[i];
            uint32_t n = lu.isRange ? uint32_t{lu.max} - lu.min + 1u : 1u;
            const bool last = i + 1 == usages_.size();
            if (last || field + n > g_.reportCount)
                n = g_.reportCount - field;
            if (c.inputCaps.size() >= kMaxCaps)
                return Fail(at, "too many capabilities");
            HidInputCap cap;
            Common(cap, lu, offset + field * size, size, static_cast<uint16_t>(n));
            // A range cut short by the report count names only the fields there are.
            if (lu.isRange && n < uint32_t{lu.max} - lu.min + 1u)
                cap.usageMax = static_cast<uint16_t>(lu.min + n - 1u);
            cap.isButton = size == 1;
            c.inputCaps.push_back(cap);
            field += n;
        }
    }

    void Common(HidInputCap& cap, const LocalUsage& lu, uint32_t offset, uint16_t size,
                uint16_t count) const {
        cap.reportId = g_.reportId;
        cap.usagePage = lu.page;
        cap.usageMin = lu.min;
        cap.usageMax = lu.max;
        cap.isRange = lu.isRange;
        cap.bitOffset = offset;
        cap.bitSize = size;
        cap.reportCount = count;
        cap.logicalMin = g_.logicalMin;
        cap.logicalMax = g_.logicalMax;
        cap.physicalMin = g_.physicalMin;
        cap.physicalMax = g_.physicalMax;
        cap.unitExponent = g_.unitExponent;
        cap.unit = g_.unit;
    }

    void Finish(HidCollection& c, const std::vector<ReportBits>& reports) const {
        c.usesReportIds = usesReportIds_;
        uint32_t in = 0, out = 0, feature = 0;
        for (const ReportBits& r : reports) {
            in = std::max(in, r.inputBits);
            out = std::max(out, r.outputBits);
            feature = std::max(feature, r.featureBits);
            if (r.inputBits > 0)
                c.inputReportIds.push_back(r.id);
        }
        auto bytes = [](uint32_t bits) {
            return static_cast<uint16_t>(bits == 0 ? 0 : 1 + (bits + 7) / 8);
        };
        c.caps.inputReportByteLength = bytes(in);
        c.caps.outputReportByteLength = bytes(out);
        c.caps.featureReportByteLength = bytes(feature);
        for (const HidInputCap& cap : c.inputCaps)
            ++(cap.isButton ? c.caps.numberInputButtonCaps : c.caps.numberInputValueCaps);
    }

    const uint8_t* data_;
    size_t length_;
    std::string error_;
    Globals g_;
    std::vector<Globals> stack_;
    std::vector<LocalUsage> usages_;
    uint16_t rangeMin_ = 0;
    uint16_t rangePage_ = 0;
    bool haveMin_ = false;
    int depth_ = 0;
    bool usesReportIds_ = false;
    std::vector<HidCollection> collections_;
    std::vector<std::vector<ReportBits>> reports_;
};

// Reads `size` bits (1..32) from bit `offset` of the report, little-endian, unsigned.
uint32_t ExtractBits(const uint8_t* report, uint32_t offset, uint32_t size) {
    uint64_t v = 0;
    const uint32_t firstByte = offset / 8;
    const uint32_t lastByte = (offset + size - 1) / 8;
    for (uint32_t b = lastByte + 1; b-- > firstByte;)
        v = (v << 8) | report[b];
    v >>= offset % 8;
    return static_cast<uint32_t>(size == 32 ? v : v & ((uint64_t{1} << size) - 1));
}

bool Covers(const HidInputCap& cap, uint16_t page, uint16_t usage) {
    return cap.usagePage == page && usage >= cap.usageMin && usage <= cap.usageMax;
}

}  // namespace

HidDescriptorParse ParseReportDescriptor(const uint8_t* data, size_t length) {
    if (data == nullptr || length == 0) {
        HidDescriptorParse out;
        out.error = "report descriptor is empty";
        return out;
    }
    return Parser(data, length).Run();
}

size_t ChoosePenCollection(const std::vector<HidCollection>& all) {
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].caps.usagePage == hid::kPageDigitizer && all[i].caps.usage == hid::kUsagePen)
            return i;
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].caps.usagePage == hid::kPageDigitizer)
            return i;
    return 0;
}

bool HidCollection::HasInputReport(uint8_t reportId) const {
    return std::find(inputReportIds.begin(), inputReportIds.end(), reportId) !=
           inputReportIds.end();
}

bool HidCollection::HasInputButton(uint16_t usagePage, uint16_t usage) const {
    // An array's caps each cover one of its listed usages or ranges, as a variable's do.
    for (const HidInputCap& cap : inputCaps)
        if (cap.isButton && Covers(cap, usagePage, usage))
            return true;
    return false;
}

HidStatus HidCollection::GetCaps(HidCaps& out) const {
    out = caps;
    return HidStatus::Success;
}

HidStatus HidCollection::GetSpecificValueCaps(uint16_t usagePage, uint16_t usage, HidValueCaps* out,
                                              uint16_t& count) const {
    uint16_t filled = 0;
    bool found = false;
    for (const HidInputCap& cap : inputCaps) {
        if (cap.isButton || !Covers(cap, usagePage, usage))
            continue;
        found = true;
        if (filled >= count)
            break;
        HidValueCaps& v = out[filled++];
        v.usagePage = cap.usagePage;
        v.reportId = cap.reportId;
        v.isRange = cap.isRange;
        v.usageMin = cap.usageMin;
        v.usageMax = cap.usageMax;
        v.bitSize = cap.bitSize;
        v.reportCount = cap.reportCount;
        v.logicalMin = cap.logicalMin;
        v.logicalMax = cap.logicalMax;
        v.physicalMin = cap.physicalMin;
        v.physicalMax = cap.physicalMax;
        v.unitExponent = cap.unitExponent;
        v.unit = cap.unit;
    }
    count = filled;
    if (!found)
        return HidStatus::UsageNotFound;
    return filled > 0 ? HidStatus::Success : HidStatus::BufferTooSmall;
}

HidStatus HidCollection::GetUsageValue(uint16_t usagePage, uint16_t usage, uint32_t& value,
                                       const uint8_t* report, uint32_t length) const {
    if (report == nullptr || length != caps.inputReportByteLength || length == 0)
        return HidStatus::InvalidReportLength;
    bool otherReport = false;
    for (const HidInputCap& cap : inputCaps) {
        if (cap.isButton || !Covers(cap, usagePage, usage))
            continue;
        if (cap.reportId != report[0]) {
            otherReport = true;
            continue;
        }
        const uint32_t index = cap.isRange ? uint32_t{usage} - cap.usageMin : 0u;
        const uint64_t end = cap.bitOffset + uint64_t{index + 1u} * cap.bitSize;
        if (index >= cap.reportCount || end > uint64_t{length} * 8u)
            return HidStatus::InvalidReportLength;
        // A value wider than 32 bits gives its low 32 bits.
        value = ExtractBits(report, cap.bitOffset + index * cap.bitSize,
                            std::min<uint32_t>(cap.bitSize, 32));
        return HidStatus::Success;
    }
    return otherReport ? HidStatus::IncompatibleReportId : HidStatus::UsageNotFound;
}

HidStatus HidCollection::GetUsagesEx(UsageAndPage* list, uint32_t& count, const uint8_t* report,
                                     uint32_t length) const {
    if (report == nullptr || length != caps.inputReportByteLength || length == 0)
        return HidStatus::InvalidReportLength;
    if (!HasInputReport(report[0]))
        return HidStatus::ReportDoesNotExist;
    const uint32_t room = count;
    uint32_t active = 0;
    auto add = [&](uint16_t usage, uint16_t page) {
        if (active < room)
            list[active] = {usage, page};
        ++active;
    };
    for (size_t i = 0; i < inputCaps.size(); ++i) {
        const HidInputCap& cap = inputCaps[i];
        if (!cap.isButton || cap.reportId != report[0])
            continue;
        if (cap.isArray) {
            // Array caps of one main item share their fields: read them once, at the first.
            if (i > 0 && inputCaps[i - 1].isArray && inputCaps[i - 1].bitOffset == cap.bitOffset &&
                inputCaps[i - 1].reportId == cap.reportId)
                continue;
            for (uint32_t f = 0; f < cap.reportCount; ++f) {
                const uint32_t raw =
                    ExtractBits(report, cap.bitOffset + f * cap.bitSize, cap.bitSize);
                const int64_t index = int64_t{raw} - cap.logicalMin;
                if (static_cast<int64_t>(raw) < cap.logicalMin ||
                    static_cast<int64_t>(raw) > cap.logicalMax || index < 0 ||
                    index >= cap.arrayCount)
                    continue;
                const UsageAndPage& u = arrayUsages[cap.arrayFirst + static_cast<uint32_t>(index)];
                if (u.usage != 0)
                    add(u.usage, u.usagePage);
            }
            continue;
        }
        for (uint32_t f = 0; f < cap.reportCount; ++f) {
            if (ExtractBits(report, cap.bitOffset + f, 1) == 0)
                continue;
            add(static_cast<uint16_t>(cap.isRange ? cap.usageMin + f : cap.usageMin),
                cap.usagePage);
        }
    }
    count = active;
    return active > room ? HidStatus::BufferTooSmall : HidStatus::Success;
}

}  // namespace qm
