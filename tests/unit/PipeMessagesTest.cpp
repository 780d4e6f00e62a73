// The control pipe's wire format as the protocol gives it, byte by byte: the request table,
// the typed encoders, and the client's exchanges over a scripted pipe.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "shared/ControlClient.h"
#include "shared/PipeMessages.h"

namespace qm {
namespace {

using Bytes = std::vector<uint8_t>;

struct RuleCase {
    uint8_t type;
    int size;  // 0: no rule
    bool needsDevice;
    bool hasReply;
};

// The protocol's request types with their sizes and rules, as written out by hand.
constexpr RuleCase kRules[] = {
    {0, 0, false, false},  {1, 32, true, true},  {2, 0, false, false},  {3, 24, true, false},
    {4, 24, true, false},  {5, 32, true, false}, {6, 24, false, true},  {7, 1024, true, true},
    {8, 1024, true, true}, {9, 16, false, true}, {10, 0, false, false}, {255, 0, false, false},
};

TEST(PipeMessages, EveryRequestTypeHasItsRule) {
    for (const RuleCase& c : kRules) {
        SCOPED_TRACE(int{c.type});
        const pipe::RequestRule* rule = pipe::FindRequestRule(c.type);
        if (c.size == 0) {
            EXPECT_EQ(rule, nullptr);
            continue;
        }
        ASSERT_NE(rule, nullptr);
        EXPECT_EQ(rule->size, c.size);
        EXPECT_EQ(rule->needsDevice, c.needsDevice);
        EXPECT_EQ(rule->hasReply, c.hasReply);
    }
}

TEST(PipeMessages, SetCalibrationIsLittleEndianAtItsOffsets) {
    uint8_t m[pipe::kSetCalibrationSize];
    pipe::EncodeSetCalibration(m, 0x0102030405060708ull, {-1, 2, 300, 70000});
    const Bytes expected = {5,    0,    32,   0,    0,    0,    0,    0,     // type, length
                            0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // token
                            0xFF, 0xFF, 0xFF, 0xFF, 2,    0,    0,    0,     // -1, 2
                            0x2C, 0x01, 0,    0,    0x70, 0x11, 0x01, 0};    // 300, 70000
    EXPECT_EQ(Bytes(m, m + sizeof m), expected);
    EXPECT_EQ(pipe::CalibrationOf(m), (pipe::CalibrationValues{-1, 2, 300, 70000}));
}

TEST(PipeMessages, APathFillsAtMostItsFieldLessTheEndingZero) {
    uint8_t m[pipe::kFindDeviceByPathSize];
    const std::string longPath(2000, 'p');
    pipe::EncodeFindDeviceByPath(m, 7, longPath.c_str());
    EXPECT_EQ(m[16], 'p');
    EXPECT_EQ(m[1022], 'p');
    EXPECT_EQ(m[1023], 0);
    // A field without a zero byte is read to its end and no further.
    m[1023] = 'q';
    char path[pipe::kPathFieldSize + 1];
    pipe::PathOf(m, path);
    EXPECT_EQ(std::string(path), std::string(1007, 'p') + "q");
}

// A pipe that records what is written and answers reads from a script.
class ScriptedPipe final : public IPipeClient {
public:
    bool Open() override { return true; }
    bool TimedWrite(const uint8_t* message, uint32_t length, uint32_t) override {
        written.emplace_back(message, message + length);
        return true;
    }
    bool TimedRead(uint8_t* buffer, uint32_t length, uint32_t) override {
        if (replies.empty() || replies.front().size() != length)
            return false;
        std::copy(replies.front().begin(), replies.front().end(), buffer);
        replies.pop_front();
        return true;
    }
    int Close() override { return 1; }

    std::vector<Bytes> written;
    std::deque<Bytes> replies;
};

TEST(ControlClient, TokenAtSendsTheIndexAndReadsTokenAndCount) {
    ScriptedPipe pipe;
    Bytes reply(24, 0);
    reply[0] = 6;
    reply[2] = 24;
    reply[8] = 0x2A;  // token 42
    reply[20] = 3;    // three devices
    pipe.replies.push_back(reply);
    ControlClient client(pipe);
    uint32_t count = 0;
    EXPECT_EQ(client.TokenAt(0x0102, &count), 42u);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(pipe.written.size(), 1u);
    const Bytes& m = pipe.written[0];
    ASSERT_EQ(m.size(), 24u);
    EXPECT_EQ(m[0], 6);
    EXPECT_EQ(m[2], 24);
    EXPECT_EQ(m[16], 0x02);
    EXPECT_EQ(m[17], 0x01);
}

TEST(ControlClient, NoReplyIsNoToken) {
    ScriptedPipe pipe;
    ControlClient client(pipe);
    EXPECT_EQ(client.TokenAt(0), 0u);
    EXPECT_EQ(client.LastActive(), 0u);
    pipe::CalibrationValues c;
    EXPECT_FALSE(client.GetCalibration(5, c));
}

TEST(ControlClient, RawModeAndRotationGoOutWithoutAReply) {
    ScriptedPipe pipe;
    ControlClient client(pipe);
    EXPECT_TRUE(client.SetRawMode(9, true));
    EXPECT_TRUE(client.SetRotation(9, 270));
    ASSERT_EQ(pipe.written.size(), 2u);
    const Bytes raw = pipe.written[0], rotate = pipe.written[1];
    EXPECT_EQ(raw.size(), 24u);
    EXPECT_EQ(raw[0], 3);
    EXPECT_EQ(raw[8], 9);
    EXPECT_EQ(raw[16], 1);
    EXPECT_EQ(rotate.size(), 24u);
    EXPECT_EQ(rotate[0], 4);
    EXPECT_EQ(rotate[16], 0x0E);  // 270
    EXPECT_EQ(rotate[17], 0x01);
}

TEST(ControlClient, OnlyARawPenReportIsTakenAsOne) {
    ScriptedPipe pipe;
    Bytes report(32, 0);
    report[0] = 2;
    report[8] = 4;      // token
    report[16] = 0x10;  // x 16
    report[21] = 0x01;  // y 256
    report[24] = 3;     // tip and barrel
    Bytes other = report;
    other[0] = 1;
    pipe.replies.push_back(other);
    pipe.replies.push_back(report);
    ControlClient client(pipe);
    pipe::RawPenReport r;
    EXPECT_FALSE(client.ReadRawReport(r, 10));
    ASSERT_TRUE(client.ReadRawReport(r, 10));
    EXPECT_EQ(r.token, 4u);
    EXPECT_EQ(r.x, 16u);
    EXPECT_EQ(r.y, 256u);
    EXPECT_EQ(r.buttons, 3u);
}

}  // namespace
}  // namespace qm
