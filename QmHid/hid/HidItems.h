// The items of a HID report descriptor (HID 1.11, 6.2.2): their types, tags and main-item
// flag bits as names, and the one reader that walks a descriptor item by item. Standard C++
// only: this sits below the service core and the platform layer alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::hid {

enum class ItemType : uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

enum class MainTag : uint8_t {
    Input = 0x8,
    Output = 0x9,
    Collection = 0xA,
    Feature = 0xB,
    EndCollection = 0xC,
};

enum class GlobalTag : uint8_t {
    UsagePage = 0x0,
    LogicalMinimum = 0x1,
    LogicalMaximum = 0x2,
    PhysicalMinimum = 0x3,
    PhysicalMaximum = 0x4,
    UnitExponent = 0x5,
    Unit = 0x6,
    ReportSize = 0x7,
    ReportId = 0x8,
    ReportCount = 0x9,
    Push = 0xA,
    Pop = 0xB,
};
// The global tags that are state (usage page to report count); push and pop act on it.
inline constexpr size_t kGlobalStateTags = 10;

enum class LocalTag : uint8_t {
    Usage = 0x0,
    UsageMinimum = 0x1,
    UsageMaximum = 0x2,
    DesignatorIndex = 0x3,
    DesignatorMinimum = 0x4,
    DesignatorMaximum = 0x5,
    StringIndex = 0x7,
    StringMinimum = 0x8,
    StringMaximum = 0x9,
    Delimiter = 0xA,
};

// The data bits of an Input, Output or Feature item.
enum MainFlag : uint32_t {
    kFlagConstant = 1u << 0,  // else data
    kFlagVariable = 1u << 1,  // else array
    kFlagRelative = 1u << 2,  // else absolute
    kFlagWrap = 1u << 3,
    kFlagNonLinear = 1u << 4,
    kFlagNoPreferred = 1u << 5,
    kFlagNullState = 1u << 6,
    kFlagVolatile = 1u << 7,
    kFlagBufferedBytes = 1u << 8,
};

// The prefix byte of a long item: a data size byte and a tag byte follow.
inline constexpr uint8_t kLongItemPrefix = 0xFE;

// One item as the reader found it.
struct Item {
    size_t offset = 0;    // of its prefix byte
    size_t length = 0;    // the whole item, prefix included
    bool isLong = false;  // a long item: no type or tag of the short kinds, skipped by readers
    ItemType type = ItemType::Main;
    uint8_t tag = 0;
    uint8_t size = 0;   // data bytes of a short item: 0, 1, 2 or 4
    uint32_t data = 0;  // the data, unsigned, little-endian

    // The data as a signed number of its own size.
    int32_t Signed() const {
        if (size == 1)
            return static_cast<int8_t>(data);
        if (size == 2)
            return static_cast<int16_t>(data);
        return static_cast<int32_t>(data);
    }
    bool Is(MainTag t) const { return !isLong && type == ItemType::Main && tag == uint8_t(t); }
    bool Is(GlobalTag t) const { return !isLong && type == ItemType::Global && tag == uint8_t(t); }
    bool Is(LocalTag t) const { return !isLong && type == ItemType::Local && tag == uint8_t(t); }
};

enum class ItemRead { Ok, End, CutShort };

// Walks a descriptor item by item. After CutShort, the item names where the cut-short item
// begins and whether it is a long one; the reader then stays at the end.
class ItemReader {
public:
    ItemReader(const uint8_t* data, size_t length) : data_(data), length_(length) {}

    ItemRead Next(Item& item) {
        if (pos_ >= length_)
            return ItemRead::End;
        item = Item{};
        item.offset = pos_;
        const uint8_t prefix = data_[pos_];
        const size_t left = length_ - pos_ - 1;
        if (prefix == kLongItemPrefix) {
            item.isLong = true;
            if (left < 2 || left - 2 < data_[pos_ + 1])
                return CutShort();
            item.length = 3u + data_[pos_ + 1];
            item.tag = data_[pos_ + 2];
        } else {
            static constexpr uint8_t kSizes[4] = {0, 1, 2, 4};
            item.size = kSizes[prefix & 3];
            if (left < item.size)
                return CutShort();
            item.length = 1u + item.size;
            item.type = static_cast<ItemType>((prefix >> 2) & 3);
            item.tag = static_cast<uint8_t>(prefix >> 4);
            for (size_t i = 0; i < item.size; ++i)
                item.data |= static_cast<uint32_t>(data_[pos_ + 1 + i]) << (8 * i);
        }
        pos_ += item.length;
        return ItemRead::Ok;
    }

private:
    ItemRead CutShort() {
        pos_ = length_;
        return ItemRead::CutShort;
    }

    const uint8_t* data_;
    size_t length_;
    size_t pos_ = 0;
};

}  // namespace qm::hid
