// The control pipe: requests dispatched against a running manager with virtual tablets, and
// the same exchanges over the real AF_UNIX pipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "shared/PipeMessages.h"
#include "support/PipeClient.h"
#include "support/Service.h"

namespace qm {
namespace {

using namespace pipe;

std::vector<uint8_t> Request(size_t size, uint8_t type, uint64_t token) {
    std::vector<uint8_t> m(kMaxMessage, 0xA5);  // bytes no type lists must come back as sent
    BeginRequest(m.data(), size, type, token);
    std::fill(m.begin() + 16, m.end(), 0xA5);
    m[1] = 0x11;  // reserved bytes, too
    m[4] = 0x22;
    return m;
}

class ControlPipe : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(s_.manager.StartService());
        first_ = s_.PlugPen("virtual/first");
        second_ = s_.PlugPen("virtual/second", u"Other", u"Quillmark Pen");
        ASSERT_EQ(s_.manager.DeviceCount(), 2);
        RecursiveLockGuard g(s_.manager.ListLock());
        tokenSecond_ = s_.manager.TabletAt(0)->token;
        tokenFirst_ = s_.manager.TabletAt(1)->token;
    }
    void TearDown() override { s_.manager.StopService(); }

    // Dispatches directly; returns the reply size.
    uint32_t Dispatch(std::vector<uint8_t>& m, size_t n) {
        return DispatchRequest(s_.manager, m.data(), static_cast<uint32_t>(n));
    }
    CQmTablet* Tablet(uint64_t token) { return s_.manager.TabletByToken(token); }
    void SampleAndWait(VirtualHidDevice& d, uint16_t x, uint16_t y) {
        const size_t before = s_.output.Count();
        ASSERT_TRUE(s_.Feed(d, x, y, 0));
        ASSERT_TRUE(s_.output.WaitForCount(before + 1, 5000));
    }

    test::ServiceFixture s_;
    std::shared_ptr<VirtualHidDevice> first_, second_;
    uint64_t tokenFirst_ = 0, tokenSecond_ = 0;
};

TEST_F(ControlPipe, EnumerateListsTheLatestFirstAndWorksWithoutAToken) {
    auto m = Request(kEnumerateDevicesSize, kEnumerateDevices, 0);
    Put16(m.data() + 16, 0);
    const auto sent = m;
    ASSERT_EQ(Dispatch(m, kEnumerateDevicesSize), 24u);
    EXPECT_EQ(Get64(m.data() + 8), tokenSecond_);
    EXPECT_EQ(Get32(m.data() + 20), 2u);
    // Everything else comes back as received: header, reserved bytes, the index.
    for (size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19})
        EXPECT_EQ(m[i], sent[i]) << i;
    Put16(m.data() + 16, 1);
    ASSERT_EQ(Dispatch(m, 24), 24u);
    EXPECT_EQ(Get64(m.data() + 8), tokenFirst_);
    Put16(m.data() + 16, 2);  // the device count: no device, the count still filled in
    ASSERT_EQ(Dispatch(m, 24), 24u);
    EXPECT_EQ(Get64(m.data() + 8), 0u);
    EXPECT_EQ(Get32(m.data() + 20), 2u);
}

struct Refused {
    const char* name;
    size_t size;  // bytes received
    uint8_t type;
    uint16_t length;  // the length field
    bool validToken;
};

const Refused kRefused[] = {
    {"length_field_disagrees", 32, kGetCalibration, 24, true},
    {"wrong_size", 24, kGetCalibration, 24, true},
    {"unknown_token", 32, kGetCalibration, 32, false},
    {"raw_pen_report_from_a_client", 32, 2, 32, true},
    {"type_0", 16, 0, 16, true},
    {"type_10", 24, 10, 24, true},
    {"short_message", 15, kGetLastActiveDevice, 15, true},
    {"set_rotation_unknown_token", 24, kSetRotation, 24, false},
    {"strings_too_short", 1023, kGetDeviceStrings, 1023, true},
    {"find_by_path_unknown_token", 1024, kFindDeviceByPath, 1024, false},
};

class RefusedRequest : public ControlPipe, public testing::WithParamInterface<Refused> {};

TEST_P(RefusedRequest, GetsNoReplyAndChangesNothing) {
    const Refused& r = GetParam();
    auto m = Request(r.size, r.type, r.validToken ? tokenFirst_ : tokenFirst_ + 1000);
    Put16(m.data() + 2, r.length);
    const auto before = m;
    EXPECT_EQ(Dispatch(m, r.size), 0u);
    EXPECT_EQ(m, before);
    EXPECT_EQ(s_.store.writes, 2);  // the two tablets' rotation at arrival, nothing since
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedRequest, testing::ValuesIn(kRefused),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ControlPipe, RotationAnglesAreSwappedAndPersisted) {
    struct Case {
        uint16_t angle;
        int index;  // -1: nothing changes
    };
    for (const Case c : {Case{90, 3}, Case{270, 1}, Case{180, 2}, Case{0, 0}, Case{45, -1}}) {
        auto m = Request(kSetRotationSize, kSetRotation, tokenFirst_);
        Put16(m.data() + 16, c.angle);
        const int writes = s_.store.writes;
        EXPECT_EQ(Dispatch(m, 24), 0u);  // never a reply
        uint8_t stored = 0xFF;
        s_.store.Read("virtual/first", "Rotation", &stored, 1);
        if (c.index < 0) {
            EXPECT_EQ(s_.store.writes, writes);
        } else {
            EXPECT_EQ(stored, c.index) << c.angle;
        }
    }
}

TEST_F(ControlPipe, CalibrationIsSetAndReadBackAfterTheNextReport) {
    auto set = Request(kSetCalibrationSize, kSetCalibration, tokenFirst_);
    Put32(set.data() + 16, static_cast<uint32_t>(-5));
    Put32(set.data() + 20, 6);
    Put32(set.data() + 24, 7000);
    Put32(set.data() + 28, 0);  // an extent of 0 is accepted
    EXPECT_EQ(Dispatch(set, 32), 0u);
    auto get = Request(kGetCalibrationSize, kGetCalibration, tokenFirst_);
    ASSERT_EQ(Dispatch(get, 32), 32u);
    EXPECT_EQ(Get32(get.data() + 24), 32767u);  // still the previous values
    SampleAndWait(*first_, 100, 100);
    get = Request(kGetCalibrationSize, kGetCalibration, tokenFirst_);
    ASSERT_EQ(Dispatch(get, 32), 32u);
    EXPECT_EQ(static_cast<int32_t>(Get32(get.data() + 16)), -5);
    EXPECT_EQ(Get32(get.data() + 20), 6u);
    EXPECT_EQ(Get32(get.data() + 24), 7000u);
    EXPECT_EQ(Get32(get.data() + 28), 0u);
    EXPECT_EQ(get[1], 0x11);
}

TEST_F(ControlPipe, DeviceStringsFillTheirFieldsAndKeepTheRest) {
    second_->SetString(HidStringKind::SerialNumber, std::nullopt);
    auto m = Request(kGetDeviceStringsSize, kGetDeviceStrings, tokenSecond_);
    ASSERT_EQ(Dispatch(m, 1024), 1024u);
    auto text = [&](size_t offset) {
        std::u16string s;
        for (size_t i = 0; Get16(m.data() + offset + 2 * i) != 0; ++i)
            s += static_cast<char16_t>(Get16(m.data() + offset + 2 * i));
        return s;
    };
    EXPECT_EQ(text(kManufacturerOffset), u"Other");
    EXPECT_EQ(text(kProductOffset), u"Quillmark Pen");
    EXPECT_EQ(text(kSerialNumberOffset), u"");
    // Behind a terminator, the request's bytes.
    EXPECT_EQ(m[kManufacturerOffset + 12], 0xA5);
    EXPECT_EQ(m[kSerialNumberOffset + 2], 0xA5);
}

TEST_F(ControlPipe, FindByPathIgnoresCaseAndStaysInItsField) {
    auto m = Request(kFindDeviceByPathSize, kFindDeviceByPath, tokenSecond_);
    const char path[] = "VIRTUAL/First";
    std::memcpy(m.data() + kPathOffset, path, sizeof path);
    ASSERT_EQ(Dispatch(m, 1024), 1024u);
    EXPECT_EQ(Get64(m.data() + 8), tokenFirst_);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(m.data() + kPathOffset)), path);
    m = Request(kFindDeviceByPathSize, kFindDeviceByPath, tokenSecond_);
    std::memcpy(m.data() + kPathOffset, "virtual/none", 13);
    ASSERT_EQ(Dispatch(m, 1024), 1024u);
    EXPECT_EQ(Get64(m.data() + 8), 0u);
    // No zero byte in the whole field: the comparison stops at the field's end (ASan watches).
    m = Request(kFindDeviceByPathSize, kFindDeviceByPath, tokenSecond_);
    std::memset(m.data() + kPathOffset, 'x', kPathFieldSize);
    ASSERT_EQ(Dispatch(m, 1024), 1024u);
    EXPECT_EQ(Get64(m.data() + 8), 0u);
}

TEST_F(ControlPipe, LastActiveDeviceFollowsThePen) {
    auto m = Request(kGetLastActiveDeviceSize, kGetLastActiveDevice, 0);
    ASSERT_EQ(Dispatch(m, 16), 16u);
    EXPECT_EQ(Get64(m.data() + 8), 0u);
    SampleAndWait(*first_, 5, 5);
    ASSERT_EQ(Dispatch(m, 16), 16u);
    EXPECT_EQ(Get64(m.data() + 8), tokenFirst_);
    // A tablet that goes keeps its token there, and the token never names another tablet.
    s_.watcher.Unplug("virtual/first");
    s_.watcher.WaitIdle(5000);
    auto again = s_.PlugPen("virtual/first");
    ASSERT_EQ(Dispatch(m, 16), 16u);
    EXPECT_EQ(Get64(m.data() + 8), tokenFirst_);
    auto get = Request(kGetCalibrationSize, kGetCalibration, tokenFirst_);
    EXPECT_EQ(Dispatch(get, 32), 0u);
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

using namespace pipe;

class PipeClientTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(s_.manager.StartService()); }
    void TearDown() override { s_.manager.StopService(); }

    bool Connect(UnixPipeClient& c) { return test::ConnectWithRetry(c); }
    // Connects and switches the first tablet to raw mode; its token, or 0.
    uint64_t ConnectInRawMode(UnixPipeClient& c) {
        if (!Connect(c))
            return 0;
        const uint64_t token = Enumerate(c, 0);
        uint8_t raw[24];
        BeginRequest(raw, sizeof raw, kSetRawMode, token);
        raw[16] = 1;
        if (!c.TimedWrite(raw, sizeof raw, 5000))
            return 0;
        SleepMs(50);  // the request is handled before the next report
        return token;
    }
    uint64_t Enumerate(UnixPipeClient& c, uint16_t index, uint32_t* count = nullptr) {
        uint8_t m[24];
        BeginRequest(m, sizeof m, kEnumerateDevices, 0);
        Put16(m + 16, index);
        if (!c.TimedWrite(m, sizeof m, 5000) || !c.TimedRead(m, sizeof m, 5000))
            return ~0ull;
        if (count != nullptr)
            *count = Get32(m + 20);
        return Get64(m + 8);
    }

    test::ServiceFixture s_;
};

TEST_F(PipeClientTest, OneClientAtATimeAndRepliesInOrder) {
    auto pen = s_.PlugPen("virtual/pen");
    UnixPipeClient a(s_.pipePath), b(s_.pipePath);
    ASSERT_TRUE(Connect(a));
    uint32_t count = 0;
    const uint64_t token = Enumerate(a, 0, &count);
    EXPECT_NE(token, 0u);
    EXPECT_EQ(count, 1u);
    EXPECT_FALSE(b.Open());  // refused at once while a is connected
    // A set request has no reply: the next message read is the enumerate reply.
    uint8_t rotate[24];
    BeginRequest(rotate, sizeof rotate, kSetRotation, token);
    Put16(rotate + 16, 90);
    ASSERT_TRUE(a.TimedWrite(rotate, sizeof rotate, 5000));
    EXPECT_EQ(Enumerate(a, 1, &count), 0u);
    EXPECT_EQ(count, 1u);
    uint8_t stored = 0;
    ASSERT_TRUE(s_.store.Read("virtual/pen", "Rotation", &stored, 1));
    EXPECT_EQ(stored, 3);
    // A bad request gets no reply at all.
    uint8_t bad[32];
    BeginRequest(bad, sizeof bad, kGetCalibration, token + 77);
    ASSERT_TRUE(a.TimedWrite(bad, sizeof bad, 5000));
    EXPECT_FALSE(a.TimedRead(bad, sizeof bad, 200));
    EXPECT_EQ(a.Close(), 1);
    ASSERT_TRUE(Connect(b));  // accepted after a has gone
    EXPECT_EQ(Enumerate(b, 0), token);
}

TEST_F(PipeClientTest, RawModeStreamsUntilTheClientLeaves) {
    auto pen = s_.PlugPen("virtual/pen");
    UnixPipeClient c(s_.pipePath);
    const uint64_t token = ConnectInRawMode(c);
    ASSERT_NE(token, 0u);
    for (uint16_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(s_.Feed(*pen, static_cast<uint16_t>(1000 + i), 2000, 1));
        uint8_t report[32];
        ASSERT_TRUE(c.TimedRead(report, sizeof report, 5000)) << i;
        EXPECT_EQ(report[0], kRawPenReport);
        EXPECT_EQ(Get16(report + 2), 32);
        EXPECT_EQ(Get64(report + 8), token);
        EXPECT_EQ(Get32(report + 16), 1000u + i);
        EXPECT_EQ(Get32(report + 20), 2000u);
        EXPECT_EQ(Get32(report + 24), 1u);
    }
    EXPECT_EQ(s_.output.Count(), 0u);  // no pointer event while raw
    c.Close();
    SleepMs(100);
    // The first push after the client left fails and ends raw mode; the pen moves the pointer.
    ASSERT_TRUE(s_.Feed(*pen, 1, 1, 0));
    ASSERT_TRUE(s_.Feed(*pen, 2, 2, 0));
    EXPECT_TRUE(s_.output.WaitForCount(1, 5000));
}

TEST_F(PipeClientTest, AClientThatNeverReadsEndsRawModeAfterThePushBound) {
    auto pen = s_.PlugPen("virtual/pen");
    UnixPipeClient c(s_.pipePath);
    const uint64_t token = ConnectInRawMode(c);
    ASSERT_NE(token, 0u);
    const uint64_t start = MonotonicMs();
    uint16_t x = 0;
    while (s_.output.Count() == 0 && MonotonicMs() - start < 20000) {
        s_.Feed(*pen, ++x, 0, 0);
        SleepMs(1);
    }
    EXPECT_GT(s_.output.Count(), 0u);
    EXPECT_GE(MonotonicMs() - start, 2000u);
    RecursiveLockGuard g(s_.manager.ListLock());
    EXPECT_EQ(s_.manager.TabletAt(0)->ActiveSettings().rawMode, 0);
}

TEST_F(PipeClientTest, StopWithAnIdleClientIsPrompt) {
    UnixPipeClient c(s_.pipePath);
    ASSERT_TRUE(Connect(c));
    EXPECT_EQ(Enumerate(c, 0), 0u);
    const uint64_t start = MonotonicMs();
    s_.manager.StopService();
    EXPECT_LT(MonotonicMs() - start, 1000u);
    EXPECT_FALSE(s_.manager.PipeThreadRunning());
    uint8_t m[24];
    EXPECT_FALSE(c.TimedRead(m, sizeof m, 100));
    UnixPipeClient d(s_.pipePath);
    EXPECT_FALSE(d.Open());  // the pipe is gone with the thread
}

TEST(PipeServer, ANameInUseIsNotTakenOver) {
    test::ServiceFixture a;
    ASSERT_TRUE(a.manager.StartService());
    UnixPipeClient probe(a.pipePath);
    test::ConnectWithRetry(probe);
    probe.Close();
    UnixPipeServer squatter(a.pipePath);
    EXPECT_FALSE(squatter.Create());
    a.manager.StopService();
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

using namespace pipe;

// Requests over the pipe against tablets that are plugged and unplugged all the while.
TEST(PipeStress, RequestsAgainstTabletsThatComeAndGo) {
    test::ServiceFixture s;
    ASSERT_TRUE(s.manager.StartService());
    struct Client {
        std::string path;
        std::atomic<bool> stop{false};
        std::atomic<int> replies{0};
    } client{s.pipePath};
    Thread t;
    ASSERT_TRUE(t.Start(
        [](void* p) {
            auto* c = static_cast<Client*>(p);
            UnixPipeClient pipe(c->path);
            while (!pipe.Open())
                SleepMs(5);
            uint8_t m[1024];
            while (!c->stop) {
                BeginRequest(m, 24, kEnumerateDevices, 0);
                if (!pipe.TimedWrite(m, 24, 5000) || !pipe.TimedRead(m, 24, 5000))
                    continue;
                const uint64_t token = Get64(m + 8);
                ++c->replies;
                BeginRequest(m, 32, kGetCalibration, token);
                if (pipe.TimedWrite(m, 32, 5000) && pipe.TimedRead(m, 32, 50))
                    ++c->replies;
                BeginRequest(m, 24, kSetRotation, token);
                Put16(m + 16, 180);
                pipe.TimedWrite(m, 24, 5000);
                BeginRequest(m, 1024, kGetDeviceStrings, token);
                if (pipe.TimedWrite(m, 1024, 5000) && pipe.TimedRead(m, 1024, 50))
                    ++c->replies;
            }
            pipe.Close();
        },
        &client));
    for (int i = 0; i < 300; ++i) {
        const std::string path = "virtual/pen" + std::to_string(i % 2);
        auto pen = s.PlugPen(path);
        s.Feed(*pen, static_cast<uint16_t>(i), 0, 1);
        s.watcher.Unplug(path);
    }
    ASSERT_TRUE(s.watcher.WaitIdle(10000));
    client.stop = true;
    ASSERT_TRUE(t.Join(15000));
    EXPECT_GT(client.replies.load(), 0);
    s.manager.StopService();
    EXPECT_EQ(s.manager.DeviceCount(), 0);
}

}  // namespace
}  // namespace qm
