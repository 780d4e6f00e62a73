// qmhidsrv as a program, and ScreenRotate from the Linux client library, over the real pipe.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/FileSettingsStore.h"
#include "platform/posix/UnixPipe.h"
#include "shared/PipeMessages.h"
#include "support/PipeClient.h"

namespace qm {
namespace {

using namespace pipe;
using RotateAt = int (*)(const char*, unsigned short);

RotateAt LoadScreenRotate() {
    void* lib = dlopen(QMHID_WINTAB_LIBRARY, RTLD_NOW);
    return lib != nullptr ? reinterpret_cast<RotateAt>(dlsym(lib, "ScreenRotateAt")) : nullptr;
}

std::string TempDir() {
    char name[] = "/tmp/qmhid-srv-XXXXXX";
    return mkdtemp(name) != nullptr ? name : "";
}

struct Process {
    pid_t pid = -1;
    std::string err;  // standard error goes to this file
    bool Start(const std::vector<std::string>& args) {
        pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            std::string program = QMHID_SERVICE_PROGRAM;
            argv.push_back(program.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            freopen(err.c_str(), "w", stderr);
            freopen("/dev/null", "w", stdout);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid > 0;
    }
    int Wait() { return WaitFor(30000); }
    // The exit status within timeoutMs; -1 when it did not end (it is then killed).
    int WaitFor(uint32_t timeoutMs) {
        int status = 0;
        const uint64_t deadline = MonotonicMs() + timeoutMs;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (MonotonicMs() >= deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            usleep(5000);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Log() {
        std::ifstream in(err);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

// Waits for the socket to appear, without connecting: a probe connection would hold the one
// client place for a moment.
bool WaitForPipe(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        if (access(path.c_str(), F_OK) == 0)
            return true;
        usleep(10000);
    }
    return false;
}

TEST(ServiceProgram, ScreenRotateRotatesEveryReplayedTabletAndPersistsIt) {
    const RotateAt rotate = LoadScreenRotate();
    ASSERT_NE(rotate, nullptr) << dlerror();
    const std::string dir = TempDir();
    const std::string pipe = dir + "/pipe";
    const std::string fixture = std::string(QMHID_FIXTURES_DIR) + "/quillmark_pen.hidrec";
    Process p;
    p.err = dir + "/err";
    ASSERT_TRUE(p.Start(
        {"--pipe", pipe, "--state-dir", dir + "/state", "--replay", fixture, "--replay", fixture}));
    ASSERT_TRUE(WaitForPipe(pipe)) << p.Log();
    for (int i = 0; i < 500 && p.Log().find("running") == std::string::npos; ++i)
        usleep(10000);
    EXPECT_NE(p.Log().find("2 tablet(s)"), std::string::npos) << p.Log();
    EXPECT_EQ(rotate(pipe.c_str(), 90), 1);
    FileSettingsStore store(dir + "/state");
    for (const char* path : {"virtual/replay/0", "virtual/replay/1"}) {
        uint8_t rotation = 0xFF;
        EXPECT_TRUE(store.Read(path, "Rotation", &rotation, 1)) << path;
        EXPECT_EQ(rotation, 3) << path;  // 90 on the pipe is the display's 270
    }
    // While another client holds the pipe: -1 at once.
    UnixPipeClient holder(pipe);
    bool open = false;  // the server listens again a moment after the last client left
    for (int i = 0; i < 200 && !(open = holder.Open()); ++i)
        usleep(10000);
    ASSERT_TRUE(open);
    uint8_t m[24];
    BeginRequest(m, 24, kEnumerateDevices, 0);  // served: the server has taken this client
    ASSERT_TRUE(holder.TimedWrite(m, 24, 5000));
    ASSERT_TRUE(holder.TimedRead(m, 24, 5000));
    EXPECT_EQ(rotate(pipe.c_str(), 180), -1);
    holder.Close();
    kill(p.pid, SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
    const std::string log = p.Log();
    EXPECT_NE(log.find("stopping on SIGTERM"), std::string::npos) << log;
    EXPECT_NE(log.find("stopped"), std::string::npos) << log;
    // No service: -1 at once.
    EXPECT_EQ(rotate(pipe.c_str(), 90), -1);
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Waits until the service says it runs.
bool WaitForRunning(Process& p) {
    for (int i = 0; i < 500; ++i) {
        if (p.Log().find("running") != std::string::npos)
            return true;
        usleep(10000);
    }
    return false;
}

bool Served(const std::string& pipe) {
    UnixPipeClient c(pipe);
    test::ConnectWithRetry(c);
    uint8_t m[24];
    BeginRequest(m, 24, kEnumerateDevices, 0);
    return c.TimedWrite(m, 24, 5000) && c.TimedRead(m, 24, 5000);
}

TEST(ServiceProgram, AClientThatFloodsAndNeverReadsDoesNotHoldUpSigterm) {
    const std::string fixture = std::string(QMHID_FIXTURES_DIR) + "/quillmark_pen.hidrec";
    for (int run = 0; run < 3; ++run) {
        const std::string dir = TempDir();
        const std::string pipe = dir + "/pipe";
        Process p;
        p.err = dir + "/err";
        ASSERT_TRUE(p.Start(
            {"--pipe", pipe, "--state-dir", dir + "/state", "--replay", fixture, "--replay-loop"}));
        ASSERT_TRUE(WaitForRunning(p)) << p.Log();
        UnixPipeClient flood(pipe);
        ASSERT_TRUE(test::ConnectWithRetry(flood)) << run;
        uint8_t m[24];
        int sent = 0;
        for (; sent < 5000; ++sent) {
            BeginRequest(m, 24, kEnumerateDevices, 0);
            if (!flood.TimedWrite(m, 24, 50))
                break;
        }
        EXPECT_GT(sent, 100) << run;
        const uint64_t start = MonotonicMs();
        kill(p.pid, SIGTERM);
        EXPECT_EQ(p.WaitFor(10000), 0) << run << p.Log();
        EXPECT_LT(MonotonicMs() - start, 10000u) << run;
        std::system(("rm -rf '" + dir + "'").c_str());
    }
}

TEST(ServiceProgram, ARivalServiceOnTheSamePipeExitsAndTheFirstKeepsServing) {
    const std::string fixture = std::string(QMHID_FIXTURES_DIR) + "/quillmark_pen.hidrec";
    const std::string dir = TempDir();
    const std::string pipe = dir + "/pipe";
    Process first;
    first.err = dir + "/first";
    ASSERT_TRUE(first.Start(
        {"--pipe", pipe, "--state-dir", dir + "/state", "--replay", fixture, "--pointer", "none"}));
    ASSERT_TRUE(WaitForRunning(first)) << first.Log();
    for (int run = 0; run < 10; ++run) {
        // A client is connected and served: the first does not listen meanwhile.
        UnixPipeClient client(pipe);
        ASSERT_TRUE(test::ConnectWithRetry(client)) << run;
        uint8_t m[24];
        BeginRequest(m, 24, kEnumerateDevices, 0);
        ASSERT_TRUE(client.TimedWrite(m, 24, 5000) && client.TimedRead(m, 24, 5000)) << run;
        Process rival;
        rival.err = dir + "/rival";
        ASSERT_TRUE(rival.Start({"--pipe", pipe, "--state-dir", dir + "/state", "--replay", fixture,
                                 "--pointer", "none"}));
        EXPECT_EQ(rival.WaitFor(10000), 1) << run;
        EXPECT_NE(rival.Log().find("in use by another qmhidsrv (process " +
                                   std::to_string(first.pid) + ")"),
                  std::string::npos)
            << rival.Log();
        client.Close();
        EXPECT_TRUE(Served(pipe)) << run;
    }
    kill(first.pid, SIGTERM);
    EXPECT_EQ(first.WaitFor(10000), 0) << first.Log();
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(ServiceProgram, BadArgumentsAndRecordingsAreRefused) {
    const std::string dir = TempDir();
    Process p;
    p.err = dir + "/err";
    ASSERT_TRUE(p.Start({"--bogus"}));
    EXPECT_EQ(p.Wait(), 2);
    EXPECT_NE(p.Log().find("usage"), std::string::npos);
    std::ofstream(dir + "/bad.hidrec") << "R: 2 05\n";
    ASSERT_TRUE(p.Start({"--pipe", dir + "/pipe", "--replay", dir + "/bad.hidrec"}));
    EXPECT_EQ(p.Wait(), 2);
    EXPECT_NE(p.Log().find("line 1"), std::string::npos) << p.Log();
    std::system(("rm -rf '" + dir + "'").c_str());
}

// A pipe or settings folder that anyone may write to could hand them to another user: the
// service does not start, and says why.
TEST(ServiceProgram, AFolderAnyoneMayWriteIsRefused) {
    const std::string dir = TempDir();
    const std::string open = dir + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    const std::string fixture = std::string(QMHID_FIXTURES_DIR) + "/quillmark_pen.hidrec";
    Process p;
    p.err = dir + "/err";
    ASSERT_TRUE(p.Start({"--pipe", open + "/pipe", "--state-dir", dir + "/state", "--replay",
                         fixture, "--pointer", "none"}));
    EXPECT_EQ(p.Wait(), 1);
    EXPECT_NE(p.Log().find(open + " may be written by anyone"), std::string::npos) << p.Log();
    ASSERT_TRUE(p.Start(
        {"--pipe", dir + "/pipe", "--state-dir", open, "--replay", fixture, "--pointer", "none"}));
    EXPECT_EQ(p.Wait(), 1);
    EXPECT_NE(p.Log().find(open + " may be written by anyone"), std::string::npos) << p.Log();
    std::system(("rm -rf '" + dir + "'").c_str());
}

// A scripted server: it checks each message of the exchange and answers as told.
struct Script {
    explicit Script(std::string p) : path(std::move(p)) {}
    std::string path;
    UnixPipeServer server{path};
    Event stop{true};
    std::vector<std::vector<uint8_t>> received;
    int repliesToSend = 3;  // enumerate replies; then it never answers
    bool closeAfterFirst = false;
};

void RunScript(void* p) {
    auto* s = static_cast<Script*>(p);
    if (s->server.WaitForClient(s->stop) != PipeResult::Ok)
        return;
    const uint64_t tokens[] = {11, 22, 0};
    int replies = 0;
    for (;;) {
        uint8_t m[1024];
        uint32_t got = 0;
        if (s->server.Read(m, sizeof m, got, s->stop) != PipeResult::Ok)
            break;
        s->received.emplace_back(m, m + got);
        if (s->closeAfterFirst)
            break;
        if (m[0] == kEnumerateDevices && replies < s->repliesToSend && replies < 3) {
            Put64(m + 8, tokens[replies++]);
            Put32(m + 20, 2);
            s->server.Write(m, 24, 2000, s->stop);
        }
    }
    s->server.Close();
}

TEST(ScreenRotateClient, FollowsTheExchangeUntilTheFirstEmptyIndex) {
    const RotateAt rotate = LoadScreenRotate();
    ASSERT_NE(rotate, nullptr);
    Script s(TempDir() + "/pipe");
    ASSERT_TRUE(s.server.Create());
    Thread t;
    ASSERT_TRUE(t.Start(RunScript, &s));
    EXPECT_EQ(rotate(s.path.c_str(), 90), 1);
    ASSERT_TRUE(t.Join(10000));
    // enumerate 0, rotate 11, enumerate 1, rotate 22, enumerate 2 (token 0: done).
    ASSERT_EQ(s.received.size(), 5u);
    const uint8_t types[] = {6, 4, 6, 4, 6};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(s.received[i][0], types[i]) << i;
        EXPECT_EQ(s.received[i].size(), 24u);
        EXPECT_EQ(Get16(s.received[i].data() + 2), 24);
    }
    EXPECT_EQ(Get32(s.received[0].data() + 16), 0u);
    EXPECT_EQ(Get64(s.received[1].data() + 8), 11u);
    EXPECT_EQ(Get16(s.received[1].data() + 16), 90);
    EXPECT_EQ(Get32(s.received[2].data() + 16), 1u);
    EXPECT_EQ(Get64(s.received[2].data() + 8), 11u);  // the last reply travels back
    EXPECT_EQ(Get64(s.received[3].data() + 8), 22u);
    EXPECT_EQ(Get32(s.received[4].data() + 16), 2u);
}

// A call that was never served is no success: the connection ended, or stayed silent, before
// the first reply (a busy service, or one that went away), and the caller is told -1.
TEST(ScreenRotateClient, AServiceThatStopsOrNeverRepliesEndsTheCall) {
    const RotateAt rotate = LoadScreenRotate();
    ASSERT_NE(rotate, nullptr);
    {
        Script s(TempDir() + "/pipe");
        s.closeAfterFirst = true;
        ASSERT_TRUE(s.server.Create());
        Thread t;
        ASSERT_TRUE(t.Start(RunScript, &s));
        const uint64_t start = MonotonicMs();
        EXPECT_EQ(rotate(s.path.c_str(), 90), -1);
        EXPECT_LT(MonotonicMs() - start, 1000u);
        ASSERT_TRUE(t.Join(10000));
    }
    {
        Script s(TempDir() + "/pipe");
        s.repliesToSend = 0;
        ASSERT_TRUE(s.server.Create());
        Thread t;
        ASSERT_TRUE(t.Start(RunScript, &s));
        const uint64_t start = MonotonicMs();
        EXPECT_EQ(rotate(s.path.c_str(), 90), -1);
        const uint64_t elapsed = MonotonicMs() - start;
        EXPECT_GE(elapsed, 4900u);
        EXPECT_LT(elapsed, 7000u);
        ASSERT_TRUE(t.Join(10000));
    }
}

// A connection the kernel took into the backlog of a server that then stops listening is
// reset before it is served: the caller hears -1, never success.
struct Backlog {
    int fd = -1;
    std::string path;
};

void CloseBacklogLater(void* p) {
    auto* b = static_cast<Backlog*>(p);
    SleepMs(300);
    close(b->fd);
    unlink(b->path.c_str());
}

TEST(ScreenRotateClient, AConnectionResetBeforeItsFirstReplyIsNotServed) {
    const RotateAt rotate = LoadScreenRotate();
    ASSERT_NE(rotate, nullptr);
    Backlog b;
    b.path = TempDir() + "/pipe";
    b.fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", b.path.c_str());
    ASSERT_EQ(bind(b.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(b.fd, 4), 0);  // and never accepts
    Thread t;
    ASSERT_TRUE(t.Start(CloseBacklogLater, &b));
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(rotate(b.path.c_str(), 90), -1);
    EXPECT_LT(MonotonicMs() - start, 4000u);
    ASSERT_TRUE(t.Join(5000));
}

}  // namespace
}  // namespace qm
