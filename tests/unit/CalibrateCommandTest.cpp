// qmhid-ctl calibrate against the service's manager: the two taps give the calibration that
// puts them on the area's corners; a timeout or Ctrl-C changes nothing and ends raw mode.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Service.h"

namespace qm {
namespace {

struct Ctl {
    pid_t pid = -1;
    std::string out = test::ServiceFixture::TempPipePath() + ".out";
    void Start(const std::string& pipe, std::vector<std::string> args) {
        pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            std::string program = QMHID_CTL_PROGRAM, p = "--pipe", path = pipe, cmd = "calibrate";
            argv.push_back(program.data());
            argv.push_back(p.data());
            argv.push_back(path.data());
            argv.push_back(cmd.data());
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            freopen(out.c_str(), "w", stdout);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    std::string Output() {
        std::ifstream in(out);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool WaitFor(const std::string& text) {
        for (int i = 0; i < 500; ++i) {
            if (Output().find(text) != std::string::npos)
                return true;
            SleepMs(10);
        }
        return false;
    }
    int Wait(uint32_t ms) {
        int status = 0;
        for (uint32_t t = 0; t < ms; t += 10) {
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            SleepMs(10);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    ~Ctl() { unlink(out.c_str()); }
};

class CalibrateCommand : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(s_.manager.StartService());
        pen_ = s_.PlugPen("virtual/pen");
    }
    void TearDown() override { s_.manager.StopService(); }
    // A tap: three samples with the tip down around (x, y), then the tip up.
    void Tap(uint16_t x, uint16_t y) {
        SleepMs(100);  // the raw mode request is handled first
        for (int d : {-2, 0, 2})
            ASSERT_TRUE(
                s_.Feed(*pen_, static_cast<uint16_t>(x + d), static_cast<uint16_t>(y - d), 1));
        ASSERT_TRUE(s_.Feed(*pen_, x, y, 0));
    }
    Calibration Current() {
        // The calibration is taken over at the next report.
        const size_t before = s_.output.Count();
        s_.Feed(*pen_, 1, 1, 0);
        s_.output.WaitForCount(before + 1, 2000);
        RecursiveLockGuard g(s_.manager.ListLock());
        return s_.manager.TabletAt(0)->GetCalibration();
    }

    test::ServiceFixture s_;
    std::shared_ptr<VirtualHidDevice> pen_;
};

TEST_F(CalibrateCommand, TwoTapsSetTheAreaBetweenThem) {
    const Calibration before = Current();
    Ctl ctl;
    ctl.Start(s_.pipePath, {"0", "--timeout", "10"});
    ASSERT_TRUE(ctl.WaitFor("top-left")) << ctl.Output();
    Tap(1000, 800);
    ASSERT_TRUE(ctl.WaitFor("bottom-right")) << ctl.Output();
    Tap(3000, 3200);
    EXPECT_EQ(ctl.Wait(10000), 0) << ctl.Output();
    EXPECT_NE(ctl.Output().find("Calibration saved: 1000 800 2000 2400"), std::string::npos)
        << ctl.Output();
    const Calibration now = Current();
    EXPECT_NE(now, before);
    EXPECT_EQ(now, (Calibration{1000, 800, 2000, 2400}));
    // Raw mode is off again: the pen moves the pointer.
    EXPECT_GT(s_.output.Count(), 0u);
}

TEST_F(CalibrateCommand, NoPenInputOrCtrlCChangesNothing) {
    const Calibration before = Current();
    for (bool interrupt : {false, true}) {
        Ctl ctl;
        ctl.Start(s_.pipePath, {"0", "--timeout", "1"});
        ASSERT_TRUE(ctl.WaitFor("top-left")) << ctl.Output();
        if (interrupt) {
            Tap(1000, 800);
            ASSERT_TRUE(ctl.WaitFor("bottom-right"));
            kill(ctl.pid, SIGINT);
        }
        EXPECT_EQ(ctl.Wait(5000), 1) << ctl.Output();
        EXPECT_NE(ctl.Output().find("unchanged"), std::string::npos) << ctl.Output();
        EXPECT_EQ(Current(), before) << interrupt;
        const size_t count = s_.output.Count();
        s_.Feed(*pen_, 7, 7, 0);  // raw mode is off: the pointer moves
        EXPECT_TRUE(s_.output.WaitForCount(count + 1, 2000)) << interrupt;
        SleepMs(100);  // the pipe listens again
    }
}

}  // namespace
}  // namespace qm
