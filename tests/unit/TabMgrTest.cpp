// The tablet manager: which devices become tablets, rotation with the display, and the start
// and stop of the service's parts.
#include "QmHidSrv/TabMgr.h"

#include <gtest/gtest.h>

#include "support/Service.h"

namespace qm {
namespace {

uint8_t StoredRotation(test::ServiceFixture& s, const std::string& path) {
    uint8_t v = 0xFF;
    s.store.Read(path, "Rotation", &v, 1);
    return v;
}

struct Strings {
    const char* name;
    const char16_t* manufacturer;
    const char16_t* product;
    bool accepted;
};

const Strings kStrings[] = {
    {"manufacturer_upper", u"QUILLMARK", u"Pen", true},
    {"manufacturer_mixed_case_inside", u"Acme quillMark Ltd", u"Pen", true},
    {"product_only", u"Acme", u"The Quillmark tablet", true},
    {"neither", u"Acme", u"Pen", false},
    {"split_marker", u"QUILL", u"MARK", false},
};

class Acceptance : public testing::TestWithParam<Strings> {};

TEST_P(Acceptance, TheMarkerInEitherStringInAnyCase) {
    test::ServiceFixture s;
    ASSERT_TRUE(s.manager.StartService());
    s.PlugPen("virtual/pen", GetParam().manufacturer, GetParam().product);
    EXPECT_EQ(s.manager.DeviceCount(), GetParam().accepted ? 1 : 0);
    s.manager.StopService();
}

INSTANTIATE_TEST_SUITE_P(Cases, Acceptance, testing::ValuesIn(kStrings),
                         [](const auto& p) { return std::string(p.param.name); });

struct SkipCase {
    const char* name;
    const test::Bytes* descriptor;
    const char16_t* manufacturer;
    const char* why;  // a word the log line must carry
};

const SkipCase kSkips[] = {
    {"not_quillmark", &test::kPenNoIds, u"Acme", "QUILLMARK"},
    {"no_y", &test::kPenNoY, u"QUILLMARK", "no X and Y"},
};

class Skipped : public testing::TestWithParam<SkipCase> {};

// A device that is not driven says why, once, naming its path.
TEST_P(Skipped, OneLineSaysWhy) {
    const SkipCase& c = GetParam();
    test::ServiceFixture s;
    ASSERT_TRUE(s.manager.StartService());
    std::string error;
    auto d = VirtualHidDevice::FromDescriptor("virtual/odd", *c.descriptor, &error).at(0);
    d->SetString(HidStringKind::Manufacturer, std::u16string(c.manufacturer));
    d->SetString(HidStringKind::Product, u"Pen");
    s.watcher.Plug(d);
    s.watcher.WaitIdle(5000);
    const auto lines = s.log.SkippedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("virtual/odd: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(c.why), std::string::npos) << lines[0];
    s.manager.StopService();
}

INSTANTIATE_TEST_SUITE_P(Cases, Skipped, testing::ValuesIn(kSkips),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(TabMgr, NoOrientationSourceSetsEveryNewTabletTo0) {
    test::ServiceFixture s;
    s.store.Put("virtual/pen", "Rotation", {2});
    ASSERT_TRUE(s.manager.StartService());
    s.PlugPen("virtual/pen");
    EXPECT_EQ(s.manager.CachedOrientation(), -1);
    EXPECT_EQ(StoredRotation(s, "virtual/pen"), 0);  // written whatever was stored
    s.manager.StopService();
}

// Linux has no display orientation: a tablet keeps the rotation stored for it, over a restart
// of the service and a replug of the pen.
TEST(TabMgr, WithoutADisplayToFollowEveryTabletKeepsItsRotation) {
    test::ServiceFixture s;
    s.display.followed = false;
    s.store.Put("virtual/pen", "Rotation", {3});
    ASSERT_TRUE(s.manager.StartService());
    auto pen = s.PlugPen("virtual/pen");
    EXPECT_EQ(StoredRotation(s, "virtual/pen"), 3);
    s.watcher.Unplug("virtual/pen");
    s.watcher.WaitIdle(5000);
    s.PlugPen("virtual/pen");
    EXPECT_EQ(StoredRotation(s, "virtual/pen"), 3);
    ASSERT_NE(s.manager.TabletAt(0), nullptr);
    EXPECT_EQ(s.manager.TabletAt(0)->ActiveSettings().rotation, 3);
    s.manager.StopService();
}

TEST(TabMgr, OrientationAtStartAndItsChangesRotateEveryTablet) {
    test::ServiceFixture s;
    s.display.value = 1;  // already turned by 90 degrees
    ASSERT_TRUE(s.manager.StartService());
    s.PlugPen("virtual/a");
    s.PlugPen("virtual/b");
    EXPECT_EQ(StoredRotation(s, "virtual/a"), 1);
    EXPECT_EQ(StoredRotation(s, "virtual/b"), 1);
    const int writes = s.store.writes;
    s.watcher.PostMessage(kWmDisplayChange, 32, 0);  // same orientation: nothing happens
    ASSERT_TRUE(s.watcher.WaitIdle(5000));
    EXPECT_EQ(s.store.writes, writes);
    s.display.value = 2;
    s.watcher.PostMessage(kWmDisplayChange, 32, 0);
    ASSERT_TRUE(s.watcher.WaitIdle(5000));
    EXPECT_EQ(StoredRotation(s, "virtual/a"), 2);
    EXPECT_EQ(StoredRotation(s, "virtual/b"), 2);
    s.display.value = 0;
    s.watcher.PostMessage(kWmDisplayChange, 32, 0);
    ASSERT_TRUE(s.watcher.WaitIdle(5000));
    EXPECT_EQ(StoredRotation(s, "virtual/a"), 0);
    EXPECT_EQ(s.manager.CachedOrientation(), 0);
    s.manager.StopService();
}

TEST(TabMgr, AFailingDeviceManagerStartStopsThePipeThread) {
    test::ServiceFixture s;
    s.watcher.failPrepare = true;
    EXPECT_FALSE(s.manager.StartService());
    EXPECT_EQ(s.manager.StatusCode(), kStatusTabletActivationFailure);
    EXPECT_EQ(s.manager.lastError.load(), 1410u);
    EXPECT_FALSE(s.manager.PipeThreadRunning());
}

TEST(TabMgr, AnUnusableTabletSetsTheStatusButTheServiceRuns) {
    test::ServiceFixture s;
    ASSERT_TRUE(s.manager.StartService());
    std::string error;
    auto d = VirtualHidDevice::FromDescriptor("virtual/noy", test::kPenNoY, &error).at(0);
    d->SetString(HidStringKind::Manufacturer, u"QUILLMARK");
    s.watcher.Plug(d);
    ASSERT_TRUE(s.watcher.WaitIdle(5000));
    EXPECT_EQ(s.manager.StatusCode(), kStatusDriverAccessError);
    EXPECT_EQ(s.manager.DeviceCount(), 1);
    EXPECT_TRUE(s.manager.PipeThreadRunning());
    const uint64_t start = MonotonicMs();
    s.manager.StopService();
    EXPECT_LT(MonotonicMs() - start, 5000u);
}

}  // namespace
}  // namespace qm
