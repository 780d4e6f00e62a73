#include "hid/HidDescriptor.h"

#include <gtest/gtest.h>

#include <fstream>

#include "hid/HidItems.h"
#include "hid/HidRecording.h"
#include "support/Descriptors.h"

namespace qm {
namespace {

using test::Bytes;

HidCollection ParseOne(const Bytes& d) {
    HidDescriptorParse p = ParseReportDescriptor(d.data(), d.size());
    EXPECT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.collections.size(), 1u);
    return p.ok ? p.collections.at(0) : HidCollection{};
}

TEST(HidDescriptor, PenWithoutReportIdsSummary) {
    const HidCollection c = ParseOne(test::kPenNoIds);
    EXPECT_EQ(c.caps.usagePage, hid::kPageDigitizer);
    EXPECT_EQ(c.caps.usage, 0x02);
    EXPECT_EQ(c.caps.inputReportByteLength, 8);  // the zero report ID byte counts
    EXPECT_EQ(c.caps.numberInputButtonCaps, 3);
    EXPECT_EQ(c.caps.numberInputValueCaps, 3);
    EXPECT_FALSE(c.usesReportIds);
}

TEST(HidDescriptor, ValuesAreRawUnsignedBits) {
    const HidCollection c = ParseOne(test::kPenNoIds);
    const uint8_t report[8] = {0, 0x05, 0xFF, 0xFF, 0x34, 0x12, 0xFF, 0x03};
    uint32_t v = 0;
    ASSERT_EQ(c.GetUsageValue(1, 0x30, v, report, 8), HidStatus::Success);
    EXPECT_EQ(v, 0xFFFFu);  // above the logical maximum, and not sign-extended
    ASSERT_EQ(c.GetUsageValue(1, 0x31, v, report, 8), HidStatus::Success);
    EXPECT_EQ(v, 0x1234u);
    ASSERT_EQ(c.GetUsageValue(hid::kPageDigitizer, hid::kUsageTipPressure, v, report, 8),
              HidStatus::Success);
    EXPECT_EQ(v, 0x3FFu);
    EXPECT_EQ(c.GetUsageValue(1, 0x32, v, report, 8), HidStatus::UsageNotFound);
    EXPECT_EQ(c.GetUsageValue(1, 0x30, v, report, 7), HidStatus::InvalidReportLength);
}

TEST(HidDescriptor, ValueCapsGiveTheLogicalMaximum) {
    const HidCollection c = ParseOne(test::kPenNoIds);
    HidValueCaps caps[3];
    uint16_t count = 3;
    ASSERT_EQ(c.GetSpecificValueCaps(hid::kPageDigitizer, hid::kUsageTipPressure, caps, count),
              HidStatus::Success);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(caps[0].logicalMax, 1023);
    EXPECT_EQ(caps[0].bitSize, 16);
    count = 3;
    EXPECT_EQ(c.GetSpecificValueCaps(hid::kPageDigitizer, hid::kUsageY, caps, count),
              HidStatus::UsageNotFound);
    EXPECT_EQ(count, 0);
}

TEST(HidDescriptor, VariableButtonsAcrossPages) {
    const HidCollection c = ParseOne(test::kPenNoIds);
    const uint8_t report[8] = {0, 0x05, 0, 0, 0, 0, 0, 0};  // tip and in range
    UsageAndPage list[3];
    uint32_t count = 3;
    ASSERT_EQ(c.GetUsagesEx(list, count, report, 8), HidStatus::Success);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(list[0].usage, hid::kUsageTipSwitch);
    EXPECT_EQ(list[0].usagePage, hid::kPageDigitizer);
    EXPECT_EQ(list[1].usage, 0x32);
}

TEST(HidDescriptor, TooSmallButtonListFails) {
    const HidCollection c = ParseOne(test::kPenButtonRange);
    EXPECT_EQ(c.caps.numberInputButtonCaps, 1);   // one range: one capability, eight buttons
    const uint8_t report[4] = {0, 0x81, 10, 20};  // buttons 1 and 8
    UsageAndPage list[2];
    uint32_t count = 1;
    EXPECT_EQ(c.GetUsagesEx(list, count, report, 4), HidStatus::BufferTooSmall);
    EXPECT_EQ(count, 2u);
    count = 2;
    ASSERT_EQ(c.GetUsagesEx(list, count, report, 4), HidStatus::Success);
    EXPECT_EQ(list[0].usage, 1);
    EXPECT_EQ(list[1].usage, 8);
    EXPECT_EQ(list[1].usagePage, 9);
}

TEST(HidDescriptor, ArrayButtonsIndexTheirUsages) {
    const HidCollection c = ParseOne(test::kArrayKeys);
    EXPECT_EQ(c.caps.inputReportByteLength, 3);
    const uint8_t report[3] = {0, 3, 0};  // index 3 = usage 7; index 0 = usage 4
    UsageAndPage list[4];
    uint32_t count = 4;
    ASSERT_EQ(c.GetUsagesEx(list, count, report, 3), HidStatus::Success);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(list[0].usage, 7);
    EXPECT_EQ(list[1].usage, 4);
    EXPECT_EQ(list[0].usagePage, 7);
    const uint8_t outOfRange[3] = {0, 9, 200};
    count = 4;
    ASSERT_EQ(c.GetUsagesEx(list, count, outOfRange, 3), HidStatus::Success);
    EXPECT_EQ(count, 0u);
}

TEST(HidDescriptor, ReportIdsAndCollectionsAreSeparateDevices) {
    HidDescriptorParse p =
        ParseReportDescriptor(test::kPenTouchMouse.data(), test::kPenTouchMouse.size());
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.collections.size(), 3u);
    const HidCollection& pen = p.collections[0];
    const HidCollection& touch = p.collections[1];
    const HidCollection& mouse = p.collections[2];
    EXPECT_EQ(pen.caps.usage, 0x02);
    EXPECT_EQ(touch.caps.usage, 0x04);
    EXPECT_EQ(mouse.caps.usagePage, 0x01);
    EXPECT_EQ(mouse.caps.usage, 0x02);
    EXPECT_EQ(pen.caps.inputReportByteLength, 6);
    EXPECT_EQ(mouse.caps.inputReportByteLength, 4);
    EXPECT_EQ(mouse.caps.numberInputButtonCaps, 1);
    EXPECT_EQ(mouse.caps.numberInputValueCaps, 2);

    uint32_t v = 0;
    const uint8_t penReport[6] = {1, 0x01, 0x34, 0x02, 0x00, 0x01};
    ASSERT_EQ(pen.GetUsageValue(1, 0x30, v, penReport, 6), HidStatus::Success);
    EXPECT_EQ(v, 0x234u);
    // A report whose ID carries no such usage fails.
    const uint8_t touchReport[6] = {2, 0x01, 0x34, 0x02, 0x00, 0x01};
    EXPECT_EQ(touch.GetUsageValue(1, 0x30, v, penReport, 6), HidStatus::IncompatibleReportId);
    EXPECT_EQ(touch.GetUsageValue(1, 0x30, v, touchReport, 6), HidStatus::Success);
    UsageAndPage list[4];
    uint32_t count = 4;
    EXPECT_EQ(pen.GetUsagesEx(list, count, touchReport, 6), HidStatus::ReportDoesNotExist);
}

struct Malformed {
    const char* name;
    Bytes bytes;
    const char* error;
};

const Malformed kMalformed[] = {
    {"empty", {}, "empty"},
    {"item_cut_short", {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0x26, 0xFF}, "cut short"},
    {"long_item_cut_short", {0xFE, 0x05, 0x10, 0x01}, "cut short"},
    {"end_without_collection", {0x05, 0x0D, 0xC0}, "end collection without"},
    {"unclosed_collection", {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01}, "not closed"},
    {"pop_without_push", {0xB4}, "pop without push"},
    {"input_outside_collection", {0x75, 0x01, 0x95, 0x01, 0x81, 0x02}, "outside a collection"},
    {"no_collection", {0x05, 0x0D, 0x09, 0x02}, "no top-level collection"},
    {"report_id_zero", {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x00, 0xC0}, "report ID"},
    {"usage_max_below_min", {0x19, 0x05, 0x29, 0x01}, "below minimum"},
    {"report_too_long",
     {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x20, 0x97, 0xFF, 0xFF, 0x00, 0x00, 0x81, 0x03,
      0xC0},
     "too long"},
};

class MalformedDescriptor : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedDescriptor, IsRefusedWithAReason) {
    const Malformed& m = GetParam();
    HidDescriptorParse p = ParseReportDescriptor(m.bytes.data(), m.bytes.size());
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find(m.error), std::string::npos) << p.error;
    EXPECT_TRUE(p.collections.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedDescriptor, testing::ValuesIn(kMalformed),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// X, Y and Z named by one usage range, but only two fields: Z is not in the report (the
// fuzzer found the read past the report that this once caused).
TEST(HidDescriptor, RangeCutShortByTheCountNamesOnlyItsFields) {
    const test::Bytes d = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x19, 0x30, 0x29, 0x32,
                           0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0};
    const HidCollection c = ParseOne(d);
    const uint8_t report[3] = {0, 7, 9};
    uint32_t v = 0;
    ASSERT_EQ(c.GetUsageValue(1, 0x31, v, report, 3), HidStatus::Success);
    EXPECT_EQ(v, 9u);
    EXPECT_EQ(c.GetUsageValue(1, 0x32, v, report, 3), HidStatus::UsageNotFound);
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

HidRecording LoadFixture(const std::string& name) {
    std::ifstream in(std::string(QMHID_FIXTURES_DIR) + "/" + name + ".hidrec");
    HidRecording rec;
    std::string error;
    EXPECT_TRUE(ParseHidRecording(in, rec, error)) << name << ": " << error;
    return rec;
}

// Each top-level collection split out alone parses to the device it is within the whole
// descriptor: the same capabilities, fields and reports.
class SplitCollection : public testing::TestWithParam<const char*> {};

TEST_P(SplitCollection, ParsesAsTheSameDeviceAlone) {
    const HidRecording rec = LoadFixture(GetParam());
    const HidDescriptorParse whole =
        ParseReportDescriptor(rec.descriptor.data(), rec.descriptor.size());
    ASSERT_TRUE(whole.ok) << whole.error;
    const auto pieces = SplitTopLevelCollections(rec.descriptor.data(), rec.descriptor.size());
    ASSERT_EQ(pieces.size(), whole.collections.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        const HidDescriptorParse alone = ParseReportDescriptor(pieces[i].data(), pieces[i].size());
        ASSERT_TRUE(alone.ok) << i << ": " << alone.error;
        ASSERT_EQ(alone.collections.size(), 1u) << i;
        const HidCollection& a = alone.collections[0];
        const HidCollection& w = whole.collections[i];
        EXPECT_EQ(a.caps.usagePage, w.caps.usagePage) << i;
        EXPECT_EQ(a.caps.usage, w.caps.usage) << i;
        EXPECT_EQ(a.caps.inputReportByteLength, w.caps.inputReportByteLength) << i;
        EXPECT_EQ(a.caps.featureReportByteLength, w.caps.featureReportByteLength) << i;
        EXPECT_EQ(a.caps.numberInputValueCaps, w.caps.numberInputValueCaps) << i;
        EXPECT_EQ(a.caps.numberInputButtonCaps, w.caps.numberInputButtonCaps) << i;
        EXPECT_EQ(a.inputReportIds, w.inputReportIds) << i;
        ASSERT_EQ(a.inputCaps.size(), w.inputCaps.size()) << i;
        for (size_t k = 0; k < a.inputCaps.size(); ++k) {
            EXPECT_EQ(a.inputCaps[k].bitOffset, w.inputCaps[k].bitOffset) << i << "/" << k;
            EXPECT_EQ(a.inputCaps[k].logicalMax, w.inputCaps[k].logicalMax) << i << "/" << k;
            EXPECT_EQ(a.inputCaps[k].usageMin, w.inputCaps[k].usageMin) << i << "/" << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SplitCollection,
                         testing::Values("egalax_0eef_7224", "nexio_1870_0100", "n_trig_1b96_0c03",
                                         "gxtp_27c6_0113", "elan_04f3_2a49", "goodix_27c6_0e00"));

TEST(SplitTopLevelCollections, CutShortOrUnclosedGivesNothing) {
    const uint8_t unclosed[] = {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01};
    EXPECT_TRUE(SplitTopLevelCollections(unclosed, sizeof unclosed).empty());
    const uint8_t cut[] = {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0x26, 0xFF};
    EXPECT_TRUE(SplitTopLevelCollections(cut, sizeof cut).empty());
}

// A 64-bit value (a transducer serial number) is a value capability, as Windows counts it;
// reading it gives its low 32 bits.
TEST(HidDescriptor, AValueWiderThan32BitsIsACapability) {
    const uint8_t d[] = {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x5B, 0x15, 0x00,
                         0x25, 0xFF, 0x75, 0x40, 0x95, 0x01, 0x81, 0x02, 0xC0};
    const HidDescriptorParse p = ParseReportDescriptor(d, sizeof d);
    ASSERT_TRUE(p.ok) << p.error;
    const HidCollection& c = p.collections[0];
    EXPECT_EQ(c.caps.numberInputValueCaps, 1u);
    EXPECT_EQ(c.caps.inputReportByteLength, 9u);
    const uint8_t report[9] = {0, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89};
    uint32_t value = 0;
    ASSERT_EQ(c.GetUsageValue(0x0D, 0x5B, value, report, sizeof report), HidStatus::Success);
    EXPECT_EQ(value, 0x12345678u);
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// The physical size of X and Y, for the output's resolution: from the extents, the unit and
// its exponent, or 0 where the unit is no length.
struct PhysicalCase {
    const char* fixture;
    double xMm, yMm;
};
const PhysicalCase kPhysical[] = {
    {"quillmark_pen", 256.0, 144.0},     // 2560 and 1440 at 10^-2 cm
    {"n_trig_1b96_0c03", 258.1, 146.0},  // 2581 and 1460 at 10^-2 cm
    {"egalax_0eef_7224", 0.0, 0.0},      // unit 0x33: not a length
};

class PhysicalSize : public testing::TestWithParam<PhysicalCase> {};

TEST_P(PhysicalSize, ComesFromTheExtentsUnitAndExponent) {
    const HidRecording rec = LoadFixture(GetParam().fixture);
    const HidDescriptorParse p =
        ParseReportDescriptor(rec.descriptor.data(), rec.descriptor.size());
    ASSERT_TRUE(p.ok);
    const HidCollection& c = p.collections[ChoosePenCollection(p.collections)];
    HidValueCaps v[8];
    uint16_t n = 8;
    ASSERT_EQ(c.GetSpecificValueCaps(hid::kPageGenericDesktop, hid::kUsageX, v, n),
              HidStatus::Success);
    EXPECT_NEAR(PhysicalLengthMm(v[0]), GetParam().xMm, 1e-9);
    n = 8;
    ASSERT_EQ(c.GetSpecificValueCaps(hid::kPageGenericDesktop, hid::kUsageY, v, n),
              HidStatus::Success);
    EXPECT_NEAR(PhysicalLengthMm(v[0]), GetParam().yMm, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PhysicalSize, testing::ValuesIn(kPhysical));

// The item reader on hand-decoded items (HID 1.11, 6.2.2.2 and 6.2.2.3).
struct ItemCase {
    const char* name;
    Bytes bytes;
    hid::ItemRead result;
    bool isLong;
    hid::ItemType type;
    uint8_t tag;
    size_t length;
    uint32_t data;
    int32_t signedData;
};
const ItemCase kItems[] = {
    {"usage_page_1_byte",
     {0x05, 0x0D},
     hid::ItemRead::Ok,
     false,
     hid::ItemType::Global,
     0x0,
     2,
     0x0D,
     13},
    {"logical_min_minus_1",
     {0x15, 0xFF},
     hid::ItemRead::Ok,
     false,
     hid::ItemType::Global,
     0x1,
     2,
     0xFF,
     -1},
    {"logical_max_2_bytes",
     {0x26, 0xFF, 0x0F},
     hid::ItemRead::Ok,
     false,
     hid::ItemType::Global,
     0x2,
     3,
     0x0FFF,
     4095},
    {"physical_min_minus_2_in_2_bytes",
     {0x36, 0xFE, 0xFF},
     hid::ItemRead::Ok,
     false,
     hid::ItemType::Global,
     0x3,
     3,
     0xFFFE,
     -2},
    {"usage_4_bytes",
     {0x0B, 0x30, 0x00, 0x01, 0x00},
     hid::ItemRead::Ok,
     false,
     hid::ItemType::Local,
     0x0,
     5,
     0x00010030,
     0x00010030},
    {"end_collection_no_data", {0xC0}, hid::ItemRead::Ok, false, hid::ItemType::Main, 0xC, 1, 0, 0},
    {"input_data_var_abs",
     {0x81, 0x02},
     hid::ItemRead::Ok,
     false,
     hid::ItemType::Main,
     0x8,
     2,
     2,
     2},
    {"long_item",
     {0xFE, 0x02, 0xF0, 0xAA, 0xBB},
     hid::ItemRead::Ok,
     true,
     hid::ItemType::Main,
     0xF0,
     5,
     0,
     0},
    {"short_cut", {0x26, 0xFF}, hid::ItemRead::CutShort, false, hid::ItemType::Main, 0, 0, 0, 0},
    {"long_cut_in_header",
     {0xFE, 0x02},
     hid::ItemRead::CutShort,
     true,
     hid::ItemType::Main,
     0,
     0,
     0,
     0},
    {"long_cut_in_data",
     {0xFE, 0x03, 0xF0, 0xAA},
     hid::ItemRead::CutShort,
     true,
     hid::ItemType::Main,
     0,
     0,
     0,
     0},
};

class ItemReaderCase : public testing::TestWithParam<ItemCase> {};

TEST_P(ItemReaderCase, ReadsOneItem) {
    const ItemCase& c = GetParam();
    hid::ItemReader reader(c.bytes.data(), c.bytes.size());
    hid::Item item;
    ASSERT_EQ(reader.Next(item), c.result);
    EXPECT_EQ(item.offset, 0u);
    EXPECT_EQ(item.isLong, c.isLong);
    if (c.result == hid::ItemRead::Ok) {
        EXPECT_EQ(item.length, c.length);
        EXPECT_EQ(item.tag, c.tag);
        if (!c.isLong) {
            EXPECT_EQ(item.type, c.type);
            EXPECT_EQ(item.data, c.data);
            EXPECT_EQ(item.Signed(), c.signedData);
        }
    }
    EXPECT_EQ(reader.Next(item), hid::ItemRead::End);
}

INSTANTIATE_TEST_SUITE_P(Items, ItemReaderCase, testing::ValuesIn(kItems),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ItemReader, WalksADescriptorInOrder) {
    const Bytes d = {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0xC0};
    hid::ItemReader reader(d.data(), d.size());
    hid::Item item;
    size_t offsets[4] = {};
    int n = 0;
    while (n < 4 && reader.Next(item) == hid::ItemRead::Ok)
        offsets[n++] = item.offset;
    ASSERT_EQ(n, 4);
    EXPECT_EQ(offsets[1], 2u);
    EXPECT_EQ(offsets[2], 4u);
    EXPECT_EQ(offsets[3], 6u);
    EXPECT_TRUE(item.Is(hid::MainTag::EndCollection));
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

struct AngleCase {
    const char* name;
    int32_t logicalMin, logicalMax, physicalMin, physicalMax;
    uint32_t unit, exponent;
    int32_t perRadian;  // worked out by hand
};

const AngleCase kAngles[] = {
    // 100 units a degree: 5729.6 a radian.
    {"centidegrees", -9000, 9000, -9000, 9000, 0x14, 0xE, 5730},
    // One unit a degree: 57.3 a radian.
    {"degrees", -60, 60, -60, 60, 0x14, 0x0, 57},
    // 2000 units over two radians.
    {"radians", -1000, 1000, -1, 1, 0x12, 0x0, 1000},
    {"no_unit", -60, 60, -60, 60, 0x00, 0x0, 0},
    {"a_length_is_no_angle", -60, 60, -60, 60, 0x11, 0x0, 0},
    {"no_physical_extent", -60, 60, 0, 0, 0x14, 0x0, 0},
};

class AngleResolution : public testing::TestWithParam<AngleCase> {};

TEST_P(AngleResolution, UnitsPerRadian) {
    const AngleCase& c = GetParam();
    HidValueCaps caps;
    caps.logicalMin = c.logicalMin;
    caps.logicalMax = c.logicalMax;
    caps.physicalMin = c.physicalMin;
    caps.physicalMax = c.physicalMax;
    caps.unit = c.unit;
    caps.unitExponent = c.exponent;
    EXPECT_EQ(AngleResolutionPerRadian(caps), c.perRadian);
}

INSTANTIATE_TEST_SUITE_P(Cases, AngleResolution, testing::ValuesIn(kAngles),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qm
