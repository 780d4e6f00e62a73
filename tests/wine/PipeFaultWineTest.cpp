// The named control pipe under faulty clients, under Wine: for each fault the service stops
// promptly and its pipe thread ends; a rival never gets the name; a service whose pipe is
// still held by an earlier run's client gets it once that client has gone.
#include <windows.h>
// clang-format off
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <atomic>
#include <cstring>
#include <memory>

#include "QmHidSrv/TabMgr.h"
#include "platform/win32/DeviceWatcher.h"
#include "platform/win32/DisplayOrientation.h"
#include "platform/win32/HidBackend.h"
#include "platform/win32/NamedPipe.h"
#include "platform/win32/PointerOutput.h"
#include "platform/win32/RegistrySettingsStore.h"
#include "shared/PipeMessages.h"
#include "tests/wine/PipeClient.h"
#include "tests/wine/WineTest.h"

using namespace qm::pipe;

namespace {

struct CountingLog final : qm::IServiceLog {
    void Error(uint32_t, const char*) override { ++errors; }
    std::atomic<int> errors{0};
};

// The service's manager on the Windows backends with the real named pipe.
struct Service {
    qm::Win32HidBackend hid;
    qm::Win32DeviceWatcher watcher{reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr))};
    qm::Win32DisplayOrientation display;
    qm::RegistrySettingsStore settings;
    qm::SendInputPointerOutput pointer;
    qm::NamedPipeServer pipe;
    CountingLog log;
    qm::CQmTabMgr manager{{hid, watcher, display, settings, pointer, pipe, &log}};
};

struct Fault {
    const char* name;
    // Sets the fault up against a running service; the client is closed after the stop.
    bool (*setUp)(qm::NamedPipeClient& c);
};

bool NeverReads(qm::NamedPipeClient& c) {
    if (!winetest::OpenWithRetry(c))
        return false;
    uint8_t m[24];
    int sent = 0;
    for (; sent < 3000; ++sent) {
        BeginRequest(m, 24, kEnumerateDevices, 0);
        if (!c.TimedWrite(m, 24, 50))
            break;
    }
    std::printf("  never reads: %d requests went out before the pipe was full\n", sent);
    return sent > 10;
}

bool LeavesMidStream(qm::NamedPipeClient& c) {
    if (!winetest::OpenWithRetry(c))
        return false;
    uint8_t m[24];
    for (int i = 0; i < 100; ++i) {
        BeginRequest(m, 24, kEnumerateDevices, 0);
        c.TimedWrite(m, 24, 100);
    }
    for (int i = 0; i < 5; ++i)
        c.TimedRead(m, 24, 1000);
    c.Close();
    return true;
}

bool NeverSends(qm::NamedPipeClient& c) {
    if (!winetest::OpenWithRetry(c))
        return false;
    Sleep(50);
    return true;
}

const Fault kFaults[] = {
    {"a client that never reads", &NeverReads},
    {"a client that leaves in the middle of a stream of replies", &LeavesMidStream},
    {"a client that connects and never sends", &NeverSends},
};

// Connects and leaves over and over on a thread of its own.
DWORD WINAPI Churn(void* p) {
    auto* stop = static_cast<std::atomic<bool>*>(p);
    for (int i = 0; i < 200 && !*stop; ++i) {
        qm::NamedPipeClient c;
        if (c.Open()) {
            if (i % 3 == 0) {
                uint8_t m[24];
                BeginRequest(m, 24, kEnumerateDevices, 0);
                c.TimedWrite(m, 24, 100);
            }
            c.Close();
        }
    }
    return 0;
}

void ReportPipeSecurity() {
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 300 && h == INVALID_HANDLE_VALUE; ++i) {
        h = CreateFileA(qm::kControlPipeName, READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            Sleep(10);
    }
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("  pipe security: not readable (error %lu)\n", GetLastError());
        return;
    }
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    const DWORD rc = GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &dacl, nullptr, &sd);
    char* text = nullptr;
    if (rc == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(
            sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        std::printf("  pipe security as the system keeps it: %s\n", text);
        // Network logons denied, interactive users admitted: the descriptor reached the pipe.
        EXPECT_TRUE(std::strstr(text, "(D;;GA;;;NU)") != nullptr);
        EXPECT_TRUE(std::strstr(text, ";;;IU)") != nullptr);
        LocalFree(text);
    } else {
        std::printf("  pipe security: GetSecurityInfo gave %lu\n", rc);
    }
    if (sd != nullptr)
        LocalFree(sd);
    CloseHandle(h);
}

}  // namespace

TEST(NamedPipeFaultsUnderWine, MalformedAndHostileClients) {
    // The descriptor the pipe is made with is one the system accepts.
    PSECURITY_DESCRIPTOR sd = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        qm::kControlPipeSecurity, SDDL_REVISION_1, &sd, nullptr));
    if (sd != nullptr)
        LocalFree(sd);

    for (const Fault& f : kFaults) {
        std::printf("%s\n", f.name);
        auto s = std::make_unique<Service>();
        EXPECT_TRUE(s->manager.StartService());
        qm::NamedPipeClient c;
        EXPECT_TRUE(f.setUp(c));
        const DWORD start = GetTickCount();
        EXPECT_TRUE(s->manager.StopService());
        const DWORD took = GetTickCount() - start;
        std::printf("  stopped in %lu ms\n", took);
        EXPECT_TRUE(took < 1500);
        EXPECT_TRUE(!s->manager.PipeThreadRunning());
        EXPECT_TRUE(!s->manager.LeftThreadsBehind());
        c.Close();
    }

    {
        std::printf("connect and disconnect cycles while the service stops\n");
        auto s = std::make_unique<Service>();
        EXPECT_TRUE(s->manager.StartService());
        std::atomic<bool> stop{false};
        HANDLE t = CreateThread(nullptr, 0, Churn, &stop, 0, nullptr);
        Sleep(30);
        const DWORD start = GetTickCount();
        EXPECT_TRUE(s->manager.StopService());
        EXPECT_TRUE(GetTickCount() - start < 1500);
        EXPECT_TRUE(WaitForSingleObject(t, 20000) == WAIT_OBJECT_0);
        stop = true;
        CloseHandle(t);
    }

    {
        std::printf("a rival server on the same name\n");
        auto s = std::make_unique<Service>();
        EXPECT_TRUE(s->manager.StartService());
        qm::NamedPipeClient c;
        EXPECT_TRUE(winetest::OpenWithRetry(c));
        EXPECT_TRUE(winetest::EnumerateFirst(c));
        std::printf("  made with PIPE_REJECT_REMOTE_CLIENTS: %s\n",
                    s->pipe.RejectsRemoteClients() ? "yes" : "no (refused by the system)");
        c.Close();
        ReportPipeSecurity();
        qm::NamedPipeServer rival;
        EXPECT_TRUE(!rival.Create());
        qm::NamedPipeClient d;
        EXPECT_TRUE(winetest::OpenWithRetry(d));  // the service still serves
        EXPECT_TRUE(winetest::EnumerateFirst(d));
        d.Close();
        EXPECT_TRUE(s->manager.StopService());
        EXPECT_EQ(s->log.errors.load(), 0);
    }

    {
        std::printf("a new server while an old client still holds an instance\n");
        // An earlier run's pipe, closed by its server while its client holds on.
        auto old = std::make_unique<qm::NamedPipeServer>();
        EXPECT_TRUE(old->Create());
        qm::NamedPipeClient holder;
        EXPECT_TRUE(winetest::OpenWithRetry(holder));
        qm::Event never(true);
        EXPECT_TRUE(old->WaitForClient(never) == qm::PipeResult::Ok);
        old->Close();
        auto s = std::make_unique<Service>();
        EXPECT_TRUE(s->manager.StartService());
        Sleep(1500);
        const int errorsWhileHeld = s->log.errors.load();
        std::printf("  while the old client holds it: %d error(s) logged (%s)\n", errorsWhileHeld,
                    errorsWhileHeld == 0 ? "Wine freed the name with the server's handle"
                                         : "the name stays taken, as on Windows");
        EXPECT_TRUE(errorsWhileHeld <= 1);
        holder.Close();
        qm::NamedPipeClient c;
        const DWORD start = GetTickCount();
        EXPECT_TRUE(winetest::OpenWithRetry(c, 300));  // within a retry or two
        std::printf("  served %lu ms after the old client closed\n", GetTickCount() - start);
        EXPECT_TRUE(winetest::EnumerateFirst(c));
        c.Close();
        EXPECT_TRUE(s->manager.StopService());
        EXPECT_TRUE(s->log.errors.load() <= 1);
    }
}
