// The pen decoder on real-shaped descriptors, through a tablet over a virtual device. Reports
// go straight to OnReport, on the test thread, as the read thread would hand them over.
#include "QmHidSrv/HidTablet.h"

#include <gtest/gtest.h>

#include "support/Descriptors.h"
#include "support/VirtualTablet.h"

namespace qm {
namespace {

using test::Bytes;

bool operator==(const PenSample& a, const PenSample& b) {
    return a.x == b.x && a.y == b.y && a.pressure == b.pressure && a.buttons == b.buttons &&
           a.inRange == b.inRange;
}

struct DecodeCase {
    const char* name;
    const Bytes* descriptor;
    Bytes report;  // as a Windows read gives it
    bool decoded;
    PenSample sample;
};

const DecodeCase kDecodeCases[] = {
    {"tip_and_in_range",
     &test::kPenNoIds,
     {0, 0x05, 0x00, 0x10, 0x00, 0x08, 0x00, 0x02},
     true,
     {0x1000, 0x0800, 0x200, 1, 1}},
    {"barrel_only_out_of_range",
     &test::kPenNoIds,
     {0, 0x02, 1, 0, 2, 0, 3, 0},
     true,
     {1, 2, 3, 2, 0}},
    {"no_button_still_a_sample", &test::kPenNoIds, {0, 0, 9, 0, 8, 0, 0, 0}, true, {9, 8, 0, 0, 0}},
    {"values_above_maximum_pass",
     &test::kPenNoIds,
     {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     true,
     {0xFFFF, 0xFFFF, 0xFFFF, 0, 0}},
    {"without_pressure",
     &test::kPenNoPressure,
     {0, 0x07, 0x10, 0, 0x20, 0},
     true,
     {0x10, 0x20, 0, 3, 1}},
    {"switches_on_the_button_page", &test::kPenButtonPage, {0, 0x07, 5, 6}, true, {5, 6, 0, 3, 1}},
    {"one_button_of_a_range", &test::kPenButtonRange, {0, 0x01, 5, 6}, true, {5, 6, 0, 0, 0}},
    {"more_buttons_than_the_list_holds", &test::kPenButtonRange, {0, 0x03, 5, 6}, false, {}},
    {"pressure_read_failing", &test::kPenPressureElsewhere, {1, 0x01, 1, 0, 2, 0}, false, {}},
    {"report_without_x", &test::kPenPressureElsewhere, {2, 0x10, 0, 0, 0, 0}, false, {}},
    {"wrong_length", &test::kPenNoIds, {0, 0x05, 0, 0x10}, false, {}},
};

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, OneReportOneSampleOrNone) {
    const DecodeCase& c = GetParam();
    VirtualHidBackend backend;
    test::AddVirtual(backend, "virtual/pen", *c.descriptor);
    test::TestDevMgr manager(backend);
    test::RecordingTablet tablet(manager, "virtual/pen");
    ASSERT_NE(tablet.XMax(), 0);
    tablet.OnReport(c.report.data(), static_cast<uint32_t>(c.report.size()));
    const auto samples = tablet.Samples();
    if (!c.decoded) {
        EXPECT_TRUE(samples.empty());
        return;
    }
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_TRUE(samples[0] == c.sample)
        << samples[0].x << " " << samples[0].y << " " << samples[0].pressure << " "
        << samples[0].buttons << " " << samples[0].inRange;
}

INSTANTIATE_TEST_SUITE_P(Cases, Decode, testing::ValuesIn(kDecodeCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct RideAlongCase {
    const char* name;
    Bytes report;  // of kPenFull, as a Windows read gives it
    uint32_t buttons;
    uint32_t inRange;
    uint32_t switches;
    int32_t tiltX;
    int32_t tiltY;
    uint32_t serial;
};

// Each report written out by hand from kPenFull's layout.
const RideAlongCase kRideAlong[] = {
    {"hover_erase",
     {0, 0x14, 0x10, 0, 0x20, 0, 0, 0, 0xE2, 0x2D, 0x04, 0x03, 0x02, 0x01},
     0,
     1,
     kPenInvert,
     -30,
     45,
     0x01020304},
    {"erase",
     {0, 0x1C, 1, 0, 2, 0, 0x00, 0x08, 0xC4, 0x3C, 1, 0, 0, 0},
     0,
     1,
     kPenInvert | kPenEraser,
     -60,
     60,
     1},
    {"contact_with_second_barrel",
     {0, 0x31, 1, 0, 2, 0, 0x10, 0, 0, 0, 0, 0, 0, 0},
     kPenTip,
     1,
     kPenBarrel2,
     0,
     0,
     0},
};

class RideAlong : public testing::TestWithParam<RideAlongCase> {};

TEST_P(RideAlong, OnPenDataKeepsItsFiveValuesAndTheRestRidesAlong) {
    const RideAlongCase& c = GetParam();
    VirtualHidBackend backend;
    test::AddVirtual(backend, "virtual/pen", test::kPenFull);
    test::TestDevMgr manager(backend);
    test::RecordingTablet tablet(manager, "virtual/pen");
    ASSERT_NE(tablet.XMax(), 0);
    tablet.OnReport(c.report.data(), static_cast<uint32_t>(c.report.size()));
    ASSERT_EQ(tablet.WholeSamples().size(), 1u);
    const PenSample s = tablet.WholeSamples()[0];
    EXPECT_EQ(s.buttons, c.buttons);
    EXPECT_EQ(s.inRange, c.inRange);
    EXPECT_EQ(s.switches, c.switches);
    EXPECT_EQ(s.tiltX, c.tiltX);
    EXPECT_EQ(s.tiltY, c.tiltY);
    EXPECT_EQ(s.serial, c.serial);
    // OnPenData sees the tip and barrel bits alone.
    EXPECT_EQ(tablet.Samples()[0].buttons, c.buttons);
}

INSTANTIATE_TEST_SUITE_P(Cases, RideAlong, testing::ValuesIn(kRideAlong),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PenDecoderInit, LearnsTiltSerialAndSwitches) {
    VirtualHidBackend backend;
    test::AddVirtual(backend, "virtual/pen", test::kPenFull);
    test::TestDevMgr manager(backend);
    test::RecordingTablet tablet(manager, "virtual/pen");
    const PenDecoder& d = tablet.Decoder();
    EXPECT_EQ(d.pressureMax, 4095);
    ASSERT_TRUE(d.tiltX.present);
    EXPECT_EQ(d.tiltX.logicalMin, -60);
    EXPECT_EQ(d.tiltX.logicalMax, 60);
    // 120 degrees over 120 units: one unit a degree, 57.3 a radian, as the kernel rounds it.
    EXPECT_EQ(d.tiltX.resolution, 57);
    EXPECT_TRUE(d.tiltY.present);
    EXPECT_TRUE(d.hasSerial);
    EXPECT_EQ(d.switchesPresent, kPenBarrel2 | kPenInvert | kPenEraser);
    // A pen of the usual five values has none of it.
    VirtualHidBackend plain;
    test::AddVirtual(plain, "virtual/plain", test::kPenNoIds);
    test::TestDevMgr plainManager(plain);
    test::RecordingTablet plainTablet(plainManager, "virtual/plain");
    EXPECT_FALSE(plainTablet.Decoder().tiltX.present);
    EXPECT_FALSE(plainTablet.Decoder().hasSerial);
    EXPECT_EQ(plainTablet.Decoder().switchesPresent, 0u);
}

TEST(HidTablet, LearnsTheMaxima) {
    VirtualHidBackend backend;
    test::AddVirtual(backend, "virtual/a", test::kPenNoIds);
    test::AddVirtual(backend, "virtual/b", test::kPenNoPressure);
    test::TestDevMgr manager(backend);
    test::RecordingTablet a(manager, "virtual/a");
    test::RecordingTablet b(manager, "virtual/b");
    EXPECT_EQ(a.XMax(), 32767);
    EXPECT_EQ(a.YMax(), 32767);
    EXPECT_EQ(a.PressureMax(), 1023);
    EXPECT_EQ(a.ButtonListCapacity(), 3);
    EXPECT_EQ(b.PressureMax(), 0);
    EXPECT_EQ(manager.lastError.load(), 0u);
}

TEST(HidTablet, WithoutYNothingIsDecodedAndTheErrorIsKept) {
    VirtualHidBackend backend;
    test::AddVirtual(backend, "virtual/noy", test::kPenNoY);
    test::TestDevMgr manager(backend);
    SetLastErrorCode(0x1234);  // the error current when construction fails is what is kept
    test::RecordingTablet tablet(manager, "virtual/noy");
    EXPECT_TRUE(tablet.Usable());
    EXPECT_EQ(tablet.XMax(), 0);
    EXPECT_EQ(tablet.YMax(), 0);
    EXPECT_EQ(manager.lastError.load(), 0x1234u);
    const uint8_t report[4] = {0, 1, 2, 0};
    tablet.OnReport(report, 4);
    EXPECT_TRUE(tablet.Samples().empty());
    EXPECT_TRUE(manager.IsDeviceListed(&tablet));
}

TEST(HidTablet, UnusableDeviceHasNoMaxima) {
    VirtualHidBackend backend;
    test::TestDevMgr manager(backend);
    test::RecordingTablet tablet(manager, "virtual/missing");
    EXPECT_FALSE(tablet.Usable());
    EXPECT_EQ(tablet.XMax(), 0);
    EXPECT_EQ(manager.lastError.load(), kErrorFileNotFound);
    EXPECT_TRUE(manager.IsDeviceListed(&tablet));
}

}  // namespace
}  // namespace qm
