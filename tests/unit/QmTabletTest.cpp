// The product tablet: settings loaded and persisted, handed to the read thread at the next
// report, raw mode, and the pen moving the pointer.
#include "QmHidSrv/QmTablet.h"

#include <gtest/gtest.h>

#include "shared/PipeMessages.h"
#include "support/Descriptors.h"
#include "support/TestHost.h"
#include "support/VirtualTablet.h"

namespace qm {
namespace {

constexpr const char* kPath = "virtual/pen";

std::vector<uint8_t> SlotBytes(uint8_t valid, Calibration c) {
    uint8_t b[kCalibrationSlotSize];
    EncodeSlot({valid, c}, b);
    return std::vector<uint8_t>(b, b + sizeof b);
}

class QmTabletTest : public testing::Test {
protected:
    void SetUp() override { dev_ = test::AddVirtual(backend_, kPath, test::kPenNoIds).at(0); }

    // Feeds one report and waits until the tablet has turned it into an event or a push.
    void Sample(uint16_t x, uint16_t y, uint8_t buttons) {
        const size_t before = host_.output.Count() + host_.Pushes().size();
        const auto report = test::PenReport(x, y, buttons);
        ASSERT_TRUE(dev_->Feed(report.data(), report.size()));
        const uint64_t end = MonotonicMs() + 5000;
        while (host_.output.Count() + host_.Pushes().size() == before && MonotonicMs() < end)
            SleepMs(1);
        ASSERT_GT(host_.output.Count() + host_.Pushes().size(), before);
    }
    PointerEvent LastEvent() { return host_.output.Events().back(); }

    VirtualHidBackend backend_;
    test::TestDevMgr manager_{backend_};
    test::MemorySettingsStore store_;
    test::TestHost host_{store_};
    std::shared_ptr<VirtualHidDevice> dev_;
};

TEST_F(QmTabletTest, DefaultsSpanTheWholeDigitizerAndThePenMovesThePointer) {
    CQmTablet tablet(manager_, host_, kPath);
    ASSERT_TRUE(tablet.Configured());
    EXPECT_TRUE(tablet.Reading());
    EXPECT_TRUE(tablet.AttachFlag());
    EXPECT_EQ(tablet.GetCalibration(), (Calibration{0, 0, 32767, 32767}));
    EXPECT_EQ(tablet.ActiveSettings().rotation, 0);
    Sample(32767, 16384, 1);
    EXPECT_EQ(LastEvent(), (PointerEvent{65535, 32768, 0xC003}));
    EXPECT_EQ(host_.active.load(), &tablet);
    EXPECT_EQ(host_.status.load(), 0u);
}

TEST_F(QmTabletTest, StoredSettingsAreLoadedAndBadOnesAreAbsent) {
    store_.Put(kPath, "Calibrate1", SlotBytes(1, {10, 20, 1000, 2000}));
    store_.Put(kPath, "Calibrate2", std::vector<uint8_t>(16, 1));  // wrong size: absent
    store_.Put(kPath, "Rotation", {1});
    {
        CQmTablet tablet(manager_, host_, kPath);
        EXPECT_EQ(tablet.ActiveSettings().rotation, 1);
        EXPECT_EQ(tablet.GetCalibration(), (Calibration{10, 20, 1000, 2000}));
        tablet.SetRotation(180);
        Sample(0, 0, 0);
        EXPECT_EQ(tablet.ActiveSettings().rotation, 2);
        // Slot 2 was never valid: the calibration in use stays.
        EXPECT_EQ(tablet.GetCalibration(), (Calibration{10, 20, 1000, 2000}));
    }
    store_.Put(kPath, "Rotation", {7});  // names no slot: absent
    CQmTablet again(manager_, host_, kPath);
    EXPECT_EQ(again.ActiveSettings().rotation, 0);
    EXPECT_EQ(again.GetCalibration(), (Calibration{0, 0, 32767, 32767}));
}

TEST_F(QmTabletTest, RotationTakesEffectAtTheNextReportAndIsPersisted) {
    CQmTablet tablet(manager_, host_, kPath);
    Sample(100, 200, 0);
    tablet.SetRotation(45);  // not a quarter turn: nothing at all
    EXPECT_FALSE(store_.Has(kPath, "Rotation"));
    tablet.SetRotation(90);
    uint8_t stored = 9;
    EXPECT_TRUE(store_.Read(kPath, "Rotation", &stored, 1));
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(tablet.ActiveSettings().rotation, 0);  // not before the next report
    Sample(32767, 0, 0);
    EXPECT_EQ(tablet.ActiveSettings().rotation, 1);
    // Forced: move and explicit button states; rotated 90 degrees.
    EXPECT_EQ(LastEvent(), (PointerEvent{65535, 65535, 0xC015}));
    tablet.SetRotation(90);  // written again, even unchanged
    EXPECT_EQ(store_.writes, 2);
}

TEST_F(QmTabletTest, CalibrationGoesToTheActiveRotationsSlot) {
    CQmTablet tablet(manager_, host_, kPath);
    tablet.SetRotation(270);
    tablet.SetCalibration(1, 2, 3000, 4000);  // before any report: slot 0, the active rotation
    EXPECT_EQ(tablet.GetCalibration(), (Calibration{0, 0, 32767, 32767}));
    uint8_t bytes[kCalibrationSlotSize];
    ASSERT_TRUE(store_.Read(kPath, "Calibrate0", bytes, sizeof bytes));
    EXPECT_EQ(DecodeSlot(bytes).valid, 1);
    EXPECT_EQ(DecodeSlot(bytes).calibration, (Calibration{1, 2, 3000, 4000}));
    EXPECT_FALSE(store_.Has(kPath, "Calibrate3"));
    Sample(0, 0, 0);
    EXPECT_EQ(tablet.GetCalibration(), (Calibration{1, 2, 3000, 4000}));
    EXPECT_EQ(tablet.ActiveSettings().rotation, 3);
}

TEST_F(QmTabletTest, RawModeStreamsReportsUntilAPushFails) {
    CQmTablet tablet(manager_, host_, kPath);
    host_.SetPushSucceeds(true);
    tablet.SetRawMode(1);
    Sample(0x1234, 0x0567, 3);
    Sample(0x1235, 0x0568, 1);
    const auto pushes = host_.Pushes();
    ASSERT_EQ(pushes.size(), 2u);
    EXPECT_EQ(host_.output.Count(), 0u);
    const uint8_t* m = pushes[0].data();
    ASSERT_EQ(pushes[0].size(), 32u);
    EXPECT_EQ(m[0], 2);
    EXPECT_EQ(pipe::Get16(m + 2), 32);
    EXPECT_EQ(pipe::Get64(m + 8), tablet.token);
    EXPECT_NE(tablet.token, 0u);
    EXPECT_EQ(pipe::Get32(m + 16), 0x1234u);
    EXPECT_EQ(pipe::Get32(m + 20), 0x0567u);
    EXPECT_EQ(pipe::Get32(m + 24), 3u);
    // The client goes: the first failed push ends raw mode, the pen moves the pointer again.
    host_.SetPushSucceeds(false);
    Sample(1, 1, 0);
    EXPECT_EQ(host_.Pushes().size(), 3u);
    EXPECT_EQ(tablet.ActiveSettings().rawMode, 0);
    Sample(2, 2, 0);
    EXPECT_EQ(host_.Pushes().size(), 3u);
    EXPECT_EQ(host_.output.Count(), 1u);
}

TEST_F(QmTabletTest, UnusableDevicesSetTheDriverAccessStatus) {
    test::AddVirtual(backend_, "virtual/noy", test::kPenNoY);
    CQmTablet noY(manager_, host_, "virtual/noy");
    EXPECT_FALSE(noY.Configured());
    EXPECT_EQ(host_.status.load(), kStatusDriverAccessError);
    EXPECT_FALSE(noY.Reading());
    host_.status = 0;
    CQmTablet missing(manager_, host_, "virtual/missing");
    EXPECT_EQ(host_.status.load(), kStatusDriverAccessError);
    EXPECT_EQ(manager_.lastError.load(), kErrorFileNotFound);
    missing.SetRotation(90);  // no settings: nothing happens
    EXPECT_EQ(store_.writes, 0);
    EXPECT_TRUE(manager_.IsDeviceListed(&missing));
}

}  // namespace
}  // namespace qm
