// The device manager over virtual devices: discovery at start, hot-plug, filters, removal,
// handle events, window messages, stopping and starting again.
#include "QmHidSrv/HidDevMgr.h"

#include <gtest/gtest.h>

#include "support/Descriptors.h"
#include "support/VirtualTablet.h"

namespace qm {
namespace {

using test::RecordingDevice;
using test::TestDevMgr;

void MakeReadingDevice(TestDevMgr& m, const char* path) {
    auto* d = new RecordingDevice(m, path);
    d->StartReading(true);
}

class DevMgrTest : public testing::Test {
protected:
    std::shared_ptr<VirtualHidDevice> Make(const std::string& path, const test::Bytes& d) {
        std::string error;
        auto devices = VirtualHidDevice::FromDescriptor(path, d, &error);
        devices.at(0)->SetString(HidStringKind::Manufacturer, u"QUILLMARK");
        devices.at(0)->SetString(HidStringKind::Product, u"Pen");
        return devices.at(0);
    }
    bool Idle() { return manager_.Events().WaitIdle(5000); }

    VirtualHidBackend backend_;
    TestDevMgr manager_{backend_};
};

TEST_F(DevMgrTest, EnumeratesPresentInterfacesThroughTheUsagePageFilter) {
    backend_.Add(Make("virtual/pen0", test::kPenNoIds));
    backend_.Add(Make("virtual/keys", test::kArrayKeys));  // page 1
    backend_.Add(Make("virtual/pen1", test::kPenNoPressure));
    manager_.make = MakeReadingDevice;
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.Offered(), (std::vector<std::string>{"virtual/pen0", "virtual/pen1"}));
    EXPECT_EQ(manager_.DeviceCount(), 2);
    // The most recently added first.
    EXPECT_EQ(manager_.DeviceAt(0)->DevicePath(), "virtual/pen1");
    EXPECT_EQ(manager_.DeviceAt(1)->DevicePath(), "virtual/pen0");
    EXPECT_EQ(manager_.DeviceAt(2), nullptr);
    EXPECT_EQ(manager_.FindDeviceByPath("VIRTUAL/PEN0"), manager_.DeviceAt(1));
    EXPECT_EQ(manager_.FindDeviceByToken(manager_.DeviceAt(0)->token), manager_.DeviceAt(0));
    EXPECT_NE(manager_.DeviceAt(0)->token, manager_.DeviceAt(1)->token);
    EXPECT_FALSE(manager_.IsDeviceListed(nullptr));
    EXPECT_TRUE(manager_.Stop());
    EXPECT_EQ(manager_.DeviceCount(), 0);
    EXPECT_EQ(manager_.lastError.load(), 0u);
}

TEST_F(DevMgrTest, StringFiltersMatchWholeStringsIgnoringAsciiCase) {
    backend_.Add(Make("virtual/pen0", test::kPenNoIds));
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, u"quillmark", u"PEN", nullptr));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.Offered().size(), 1u);
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, u"QUILL", nullptr, nullptr));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.Offered().size(), 1u);
    // An unreadable serial number reads as empty and fails a non-empty filter.
    ASSERT_TRUE(manager_.Start(0, nullptr, nullptr, u"123"));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.Offered().size(), 1u);
}

TEST_F(DevMgrTest, HotPlugArrivalRemovalAndHandleEvents) {
    manager_.make = MakeReadingDevice;
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.DeviceCount(), 0);
    manager_.Events().Plug(Make("virtual/later", test::kPenNoIds));
    manager_.Events().Plug(Make("virtual/keys", test::kArrayKeys));
    ASSERT_TRUE(Idle());
    ASSERT_EQ(manager_.DeviceCount(), 1);
    auto* d = static_cast<RecordingDevice*>(manager_.DeviceAt(0));
    EXPECT_TRUE(d->Reading());

    // Handle events reach the device: query-remove closes, its failure restarts reading.
    EXPECT_EQ(manager_.Events().RaiseHandleEvent("virtual/later", kDbtDeviceQueryRemove), 1u);
    ASSERT_TRUE(Idle());
    EXPECT_FALSE(d->FileOpen());
    EXPECT_FALSE(d->Reading());
    manager_.Events().RaiseHandleEvent("virtual/later", kDbtDeviceQueryRemoveFailed);
    ASSERT_TRUE(Idle());
    EXPECT_TRUE(d->Reading());
    EXPECT_TRUE(d->AttachFlag());

    // A removal of a path not listed changes nothing; one in other letters removes it.
    manager_.Events().Unplug("virtual/other");
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.DeviceCount(), 1);
    manager_.Events().Unplug("VIRTUAL/LATER");
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.DeviceCount(), 0);
    EXPECT_FALSE(manager_.IsDeviceListed(d));
    EXPECT_EQ(manager_.Events().Registrations(), 0u);
}

TEST_F(DevMgrTest, WindowMessagesReachTheManager) {
    manager_.handledMessage = 0x0400;
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    manager_.Events().PostMessage(kWmDisplayChange, 32, 0);
    manager_.Events().PostMessage(0x0400, 0, 0);
    ASSERT_TRUE(Idle());
    const auto messages = manager_.Messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), kWmDisplayChange), messages.end());
    intptr_t result = 0;
    EXPECT_FALSE(manager_.OnWindowProcedure(kWmDisplayChange, 0, 0, nullptr, result));
    EXPECT_TRUE(manager_.OnWindowProcedure(0x0400, 0, 0, nullptr, result));
    EXPECT_EQ(result, 42);
    // Device changes are handled with a result of TRUE, and still offered to the manager.
    DeviceChange change;
    change.type = DeviceChange::Type::Interface;
    change.path = "virtual/none";
    EXPECT_TRUE(
        manager_.OnWindowProcedure(kWmDeviceChange, kDbtDeviceRemoveComplete, 1, &change, result));
    EXPECT_EQ(result, 1);
}

TEST_F(DevMgrTest, AStuckDeviceStaysListedAndFailsStopAndRestart) {
    // A device that cannot be opened is listed but unusable: StopReading fails with 1200.
    auto dev = Make("virtual/broken", test::kPenNoIds);
    dev->SetFailPreparsedData(true);
    backend_.Add(dev);
    manager_.make = MakeReadingDevice;
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.Offered().size(), 0u);  // its capabilities cannot be read either
    ASSERT_TRUE(manager_.Stop());
    {
        RecursiveLockGuard guard(manager_.ListLock());
        new RecordingDevice(manager_, "virtual/broken");
    }
    ASSERT_TRUE(manager_.Start(0, nullptr, nullptr, nullptr) == false);
    EXPECT_EQ(manager_.DeviceCount(), 0);  // destroyed all the same
    manager_.make = nullptr;
    ASSERT_TRUE(manager_.Start(0, nullptr, nullptr, nullptr));
    ASSERT_TRUE(Idle());
    {
        RecursiveLockGuard guard(manager_.ListLock());
        new RecordingDevice(manager_, "virtual/broken");
    }
    manager_.Events().Unplug("virtual/broken");
    ASSERT_TRUE(Idle());
    EXPECT_EQ(manager_.DeviceCount(), 1);  // StopReading failed: kept
    EXPECT_FALSE(manager_.Stop());
    EXPECT_EQ(manager_.DeviceCount(), 0);
}

TEST_F(DevMgrTest, StartAgainDestroysAndEnumeratesAfresh) {
    backend_.Add(Make("virtual/pen0", test::kPenNoIds));
    manager_.make = MakeReadingDevice;
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    ASSERT_TRUE(Idle());
    CHidDevice* first = manager_.DeviceAt(0);
    const uint64_t firstToken = first->token;
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    ASSERT_TRUE(Idle());
    ASSERT_EQ(manager_.DeviceCount(), 1);
    EXPECT_GT(manager_.DeviceAt(0)->token, firstToken);  // tokens are never reused
    EXPECT_EQ(manager_.Offered().size(), 2u);
}

// The stop request reaches the thread while it is still enumerating.
TEST_F(DevMgrTest, StopDuringTheStartUpEnumerationIsHeard) {
    for (int i = 0; i < 6; ++i)
        backend_.Add(Make("virtual/pen" + std::to_string(i), test::kPenNoIds));
    manager_.make = [](TestDevMgr&, const char*) { SleepMs(150); };
    ASSERT_TRUE(manager_.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    const uint64_t start = MonotonicMs();
    EXPECT_TRUE(manager_.Stop());
    EXPECT_LT(MonotonicMs() - start, 5000u);
    EXPECT_FALSE(manager_.Running());
    EXPECT_EQ(manager_.lastError.load(), 0u);
}

}  // namespace
}  // namespace qm
