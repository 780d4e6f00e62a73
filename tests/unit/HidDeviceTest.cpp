// A HID device's states and its read thread, over virtual devices.
#include "QmHidSrv/HidDevice.h"

#include <gtest/gtest.h>

#include <atomic>

#include "support/Descriptors.h"
#include "support/VirtualTablet.h"

namespace qm {
namespace {

using test::RecordingDevice;

class HidDeviceTest : public testing::Test {
protected:
    void SetUp() override {
        dev_ = test::AddVirtual(backend_, "virtual/pen", test::kPenNoIds).at(0);
    }
    std::vector<uint8_t> Report(uint8_t x) { return {0, 0x01, x, 0, 0, 0, 0, 0}; }
    void Feed(uint8_t x) {
        const auto r = Report(x);
        ASSERT_TRUE(dev_->Feed(r.data(), r.size()));
    }

    VirtualHidBackend backend_;
    test::TestDevMgr manager_{backend_};
    std::shared_ptr<VirtualHidDevice> dev_;
};

TEST_F(HidDeviceTest, ConstructionOpensAndLists) {
    RecordingDevice d(manager_, "VIRTUAL/PEN");  // paths compare case-insensitively
    EXPECT_TRUE(d.Usable());
    EXPECT_TRUE(d.FileOpen());
    EXPECT_EQ(d.Caps().inputReportByteLength, 8);
    EXPECT_TRUE(manager_.IsDeviceListed(&d));
    EXPECT_EQ(dev_->OpenFiles(), 1u);
}

TEST_F(HidDeviceTest, DestructionUnlistsAndCloses) {
    auto* d = new RecordingDevice(manager_, "virtual/pen");
    ASSERT_TRUE(d->StartReading(false));
    delete d;
    EXPECT_FALSE(manager_.IsDeviceListed(d));
    EXPECT_EQ(dev_->OpenFiles(), 0u);
}

TEST_F(HidDeviceTest, UnusableDeviceFailsWith1200) {
    RecordingDevice d(manager_, "virtual/absent");
    EXPECT_FALSE(d.Usable());
    EXPECT_EQ(manager_.lastError.load(), kErrorFileNotFound);
    EXPECT_TRUE(manager_.IsDeviceListed(&d));
    EXPECT_FALSE(d.StartReading(true));
    EXPECT_EQ(manager_.lastError.load(), kErrorBadDevice);
    manager_.lastError = 0;
    EXPECT_FALSE(d.StopReading());  // also when no thread runs
    EXPECT_EQ(manager_.lastError.load(), kErrorBadDevice);
    char16_t buffer[8] = {u'x'};
    EXPECT_EQ(d.GetProductString(buffer, sizeof buffer), buffer);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(HidDeviceTest, PreparsedDataFailingMakesItUnusable) {
    dev_->SetFailPreparsedData(true);
    RecordingDevice d(manager_, "virtual/pen");
    EXPECT_FALSE(d.Usable());
    EXPECT_EQ(manager_.lastError.load(), kErrorGenFailure);
    EXPECT_EQ(d.Caps().inputReportByteLength, 0);
}

TEST_F(HidDeviceTest, StartTwiceKeepsTheAttachFlagAndStopIdleIsTrue) {
    RecordingDevice d(manager_, "virtual/pen");
    EXPECT_TRUE(d.StopReading());
    ASSERT_TRUE(d.StartReading(true));
    ASSERT_TRUE(d.StartReading(false));
    EXPECT_TRUE(d.AttachFlag());
    EXPECT_TRUE(d.StopReading());
    EXPECT_FALSE(d.Reading());
}

TEST_F(HidDeviceTest, ReportsArriveInOrderWithTheInputReportLength) {
    RecordingDevice d(manager_, "virtual/pen");
    // A flood of buffered reports is read without waiting; later ones complete pending reads.
    for (uint8_t i = 1; i <= 20; ++i)
        Feed(i);
    ASSERT_TRUE(d.StartReading(false));
    ASSERT_TRUE(d.WaitForReports(20, 5000));
    for (uint8_t i = 21; i <= 25; ++i) {
        Feed(i);
        ASSERT_TRUE(d.WaitForReports(i, 5000));
    }
    const auto reports = d.Reports();
    ASSERT_EQ(reports.size(), 25u);
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].size(), 8u);
        EXPECT_EQ(reports[i][2], i + 1);
    }
    EXPECT_TRUE(d.StopReading());
}

TEST_F(HidDeviceTest, QueryRemoveThenFailedResumesWithTheSameAttachFlag) {
    RecordingDevice d(manager_, "virtual/pen");
    ASSERT_TRUE(d.StartReading(true));
    EXPECT_EQ(d.OnHandleNotification(kDbtDeviceQueryRemove), 1);
    EXPECT_FALSE(d.Reading());
    EXPECT_FALSE(d.FileOpen());
    EXPECT_EQ(dev_->OpenFiles(), 0u);
    EXPECT_EQ(d.OnHandleNotification(kDbtDeviceQueryRemoveFailed), 1);
    EXPECT_TRUE(d.FileOpen());
    EXPECT_TRUE(d.Reading());
    EXPECT_TRUE(d.AttachFlag());
    Feed(7);
    EXPECT_TRUE(d.WaitForReports(1, 5000));
}

TEST_F(HidDeviceTest, QueryRemoveWhileIdleThenFailedReopensWithoutReading) {
    RecordingDevice d(manager_, "virtual/pen");
    d.OnHandleNotification(kDbtDeviceQueryRemove);
    EXPECT_FALSE(d.FileOpen());
    d.OnHandleNotification(kDbtDeviceQueryRemoveFailed);
    EXPECT_TRUE(d.FileOpen());
    EXPECT_FALSE(d.Reading());
}

TEST_F(HidDeviceTest, RemoveCompleteStopsAndClosesOnce) {
    RecordingDevice d(manager_, "virtual/pen");
    ASSERT_TRUE(d.StartReading(false));
    d.OnHandleNotification(kDbtDeviceQueryRemove);
    d.OnHandleNotification(kDbtDeviceRemoveComplete);
    EXPECT_FALSE(d.Reading());
    EXPECT_FALSE(d.FileOpen());
    EXPECT_TRUE(d.Usable());
    // Arrival reopens but does not restart reading; other codes change nothing.
    d.OnHandleNotification(kDbtDeviceRemovePending);
    EXPECT_FALSE(d.FileOpen());
    d.OnHandleNotification(kDbtDeviceArrival);
    EXPECT_TRUE(d.FileOpen());
    EXPECT_FALSE(d.Reading());
}

TEST_F(HidDeviceTest, ReopenFailingAfterQueryRemoveFailedMakesItUnusable) {
    RecordingDevice d(manager_, "virtual/pen");
    ASSERT_TRUE(d.StartReading(false));
    d.OnHandleNotification(kDbtDeviceQueryRemove);
    dev_->Vanish();
    d.OnHandleNotification(kDbtDeviceQueryRemoveFailed);
    EXPECT_FALSE(d.Usable());
    EXPECT_FALSE(d.Reading());
}

TEST_F(HidDeviceTest, FailingReadsRetryAndStopEndsThemPromptly) {
    dev_->SetFailReads(true);
    RecordingDevice d(manager_, "virtual/pen");
    ASSERT_TRUE(d.StartReading(false));
    SleepMs(100);
    const size_t tries = dev_->ReadsStarted();
    EXPECT_GE(tries, 1u);
    EXPECT_LE(tries, 2u);  // one try per 1000 ms, not a busy loop
    const uint64_t start = MonotonicMs();
    EXPECT_TRUE(d.StopReading());
    EXPECT_LT(MonotonicMs() - start, 1500u);
    // The device recovers when reads work again.
    dev_->SetFailReads(false);
    ASSERT_TRUE(d.StartReading(false));
    Feed(3);
    EXPECT_TRUE(d.WaitForReports(1, 5000));
}

TEST_F(HidDeviceTest, VanishingWhileReadingDeliversNoStaleReport) {
    RecordingDevice d(manager_, "virtual/pen");
    ASSERT_TRUE(d.StartReading(false));
    Feed(1);
    ASSERT_TRUE(d.WaitForReports(1, 5000));
    SleepMs(50);  // the next read is pending now
    dev_->Vanish();
    SleepMs(200);
    EXPECT_EQ(d.Reports().size(), 1u);
    d.OnHandleNotification(kDbtDeviceRemoveComplete);
    EXPECT_FALSE(d.Reading());
}

TEST_F(HidDeviceTest, StringsAndFreeStandingQueries) {
    dev_->SetString(HidStringKind::SerialNumber, std::nullopt);
    RecordingDevice d(manager_, "virtual/pen");
    char16_t buffer[32];
    EXPECT_EQ(std::u16string(d.GetManufacturerString(buffer, sizeof buffer)), u"QUILLMARK");
    EXPECT_EQ(std::u16string(d.GetProductString(buffer, sizeof buffer)), u"Pen");
    EXPECT_EQ(manager_.lastError.load(), 0u);
    EXPECT_EQ(std::u16string(d.GetSerialNumberString(buffer, sizeof buffer)), u"");
    EXPECT_EQ(manager_.lastError.load(), kErrorGenFailure);
    // Only the low 16 bits of the size count.
    EXPECT_EQ(std::u16string(d.GetProductString(buffer, 0x10000u + sizeof buffer)), u"Pen");

    // The queries open alongside the device's own handle and record nothing.
    manager_.lastError = 0;
    HidCaps caps;
    EXPECT_TRUE(QueryDeviceCaps(backend_, "virtual/pen", caps));
    EXPECT_EQ(caps.usagePage, qm::hid::kPageDigitizer);
    EXPECT_EQ(std::u16string(QueryProductString(backend_, "virtual/pen", buffer, sizeof buffer)),
              u"Pen");
    EXPECT_EQ(std::u16string(QuerySerialNumberString(backend_, "virtual/pen", buffer, 64)), u"");
    HidCaps untouched;
    untouched.usage = 77;
    EXPECT_FALSE(QueryDeviceCaps(backend_, "virtual/none", untouched));
    EXPECT_EQ(untouched.usage, 77);
    EXPECT_EQ(manager_.lastError.load(), 0u);
}

// A read that stalls past the 5000 ms bound: StopReading gives up, the device is destroyed at
// once, and the thread, when it wakes, must not touch it (ASan watches).
TEST_F(HidDeviceTest, ThreadThatOutlivesTheStopBoundNeverTouchesTheDevice) {
    auto* d = new RecordingDevice(manager_, "virtual/pen");
    ASSERT_TRUE(d->StartReading(false));
    SleepMs(50);
    dev_->SetReadStall(6500);
    Feed(1);  // completes the pending read; the next read call stalls
    ASSERT_TRUE(d->WaitForReports(1, 5000));
    SleepMs(100);
    Feed(2);  // waiting for the stalled read to take it
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(d->StopReading());
    EXPECT_GE(MonotonicMs() - start, 4900u);
    EXPECT_NE(manager_.lastError.load(), 0u);
    EXPECT_FALSE(d->Reading());
    delete d;
    // The detached thread keeps its own file open until it ends.
    const uint64_t end = MonotonicMs() + 5000;
    while (dev_->OpenFiles() != 0 && MonotonicMs() < end)
        SleepMs(20);
    EXPECT_EQ(dev_->OpenFiles(), 0u);
}

// A report being handed over when the bound runs out finishes before StopReading returns.
TEST_F(HidDeviceTest, StopWaitsForAReportInProgress) {
    RecordingDevice d(manager_, "virtual/pen");
    d.blockMs_ = 5600;
    ASSERT_TRUE(d.StartReading(false));
    Feed(1);
    ASSERT_TRUE(d.WaitForReports(1, 5000));
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(d.StopReading());
    EXPECT_GE(MonotonicMs() - start, 5000u);
}

// Reading is started and stopped while reports keep arriving from another thread: a cancelled
// read must never be completed into the freed buffer of a thread that ended (ASan watches).
TEST_F(HidDeviceTest, CancelledReadsAreNeverCompletedIntoFreedBuffers) {
    RecordingDevice d(manager_, "virtual/pen");
    struct Feeder {
        std::shared_ptr<VirtualHidDevice> dev;
        std::atomic<bool> stop{false};
    } feeder{dev_};
    Thread t;
    ASSERT_TRUE(t.Start(
        [](void* p) {
            auto* f = static_cast<Feeder*>(p);
            const uint8_t r[8] = {0, 1, 2, 3, 4, 5, 6, 7};
            while (!f->stop)
                f->dev->Feed(r, sizeof r);
        },
        &feeder));
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(d.StartReading(false));
        ASSERT_TRUE(d.StopReading());
    }
    feeder.stop = true;
    EXPECT_TRUE(t.Join(5000));
    EXPECT_FALSE(d.Reports().empty());
}

TEST(VirtualHidFile, CancelledReadIsNotCompleted) {
    VirtualHidBackend backend;
    auto dev = test::AddVirtual(backend, "virtual/pen", test::kPenNoIds).at(0);
    auto file = backend.Open("virtual/pen", HidOpenMode::Reading);
    ASSERT_NE(file, nullptr);
    uint8_t buffer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(file->Read(buffer, 8), HidReadResult::Pending);
    file->CancelRead();
    const uint8_t r[8] = {0, 1, 1, 1, 1, 1, 1, 1};
    ASSERT_TRUE(dev->Feed(r, 8));
    EXPECT_EQ(buffer[1], 0xEE);
    Event stop(true);
    // The report waits in the queue for the next read instead.
    ASSERT_EQ(file->Read(buffer, 8), HidReadResult::Completed);
    EXPECT_EQ(buffer[1], 1);
}

TEST(VirtualHidDevice, HidrawReportsGetTheWindowsZeroByte) {
    VirtualHidBackend backend;
    auto dev = test::AddVirtual(backend, "virtual/pen", test::kPenNoIds).at(0);
    auto file = backend.Open("virtual/pen", HidOpenMode::Reading);
    const uint8_t hidraw[7] = {0x01, 0x34, 0x12, 0, 0, 0, 0};
    ASSERT_TRUE(dev->FeedHidraw(hidraw, sizeof hidraw));
    uint8_t buffer[8] = {};
    ASSERT_EQ(file->Read(buffer, 8), HidReadResult::Completed);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 1);
    EXPECT_EQ(buffer[2], 0x34);
    // A report of another collection's ID or of the wrong length is not delivered.
    const uint8_t wrong[8] = {5, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(dev->Feed(wrong, 8));
    EXPECT_FALSE(dev->Feed(wrong, 4));
}

}  // namespace
}  // namespace qm
