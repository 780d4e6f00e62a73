// The control pipe under Wine: the service's manager on the Windows backends serves the named
// pipe; clients enumerate, are refused while another holds the pipe, get no reply to bad
// requests; the instance is the only one of its name; the service stops with a client idle.
#include <windows.h>

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

namespace {}  // namespace

TEST(NamedPipeUnderWine, MessageModeRequestsAndReplies) {
    qm::Win32HidBackend hid;
    qm::Win32DeviceWatcher watcher(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
    qm::Win32DisplayOrientation display;
    qm::RegistrySettingsStore settings;
    qm::SendInputPointerOutput pointer;
    qm::NamedPipeServer pipe;
    qm::CQmTabMgr manager({hid, watcher, display, settings, pointer, pipe});

    EXPECT_TRUE(manager.StartService());
    EXPECT_EQ(manager.StatusCode(), 0u);
    int32_t orientation = -7;
    EXPECT_TRUE(display.Read(orientation));
    EXPECT_EQ(orientation, 0);

    qm::NamedPipeClient a, b;
    EXPECT_TRUE(winetest::OpenWithRetry(a));
    uint8_t m[32];
    BeginRequest(m, 24, kEnumerateDevices, 0);
    EXPECT_TRUE(a.TimedWrite(m, 24, 5000));
    EXPECT_TRUE(a.TimedRead(m, 24, 5000));
    EXPECT_EQ(Get64(m + 8), 0u);  // Wine has no product tablet
    EXPECT_EQ(Get32(m + 20), 0u);
    EXPECT_EQ(m[0], kEnumerateDevices);
    BeginRequest(m, 16, kGetLastActiveDevice, 0);
    EXPECT_TRUE(a.TimedWrite(m, 16, 5000));
    EXPECT_TRUE(a.TimedRead(m, 16, 5000));
    EXPECT_EQ(Get64(m + 8), 0u);

    // Refused at once while a holds the pipe.
    const DWORD start = GetTickCount();
    EXPECT_TRUE(!b.Open());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    EXPECT_TRUE(GetTickCount() - start < 1000);

    // Bad requests: no reply.
    BeginRequest(m, 32, kGetCalibration, 5);
    EXPECT_TRUE(a.TimedWrite(m, 32, 5000));
    EXPECT_TRUE(!a.TimedRead(m, 32, 300));
    BeginRequest(m, 32, kGetCalibration, 0);
    Put16(m + 2, 24);
    EXPECT_TRUE(a.TimedWrite(m, 32, 5000));
    EXPECT_TRUE(!a.TimedRead(m, 32, 300));
    BeginRequest(m, 24, kEnumerateDevices, 0);  // the exchange still works afterwards
    EXPECT_TRUE(a.TimedWrite(m, 24, 5000));
    EXPECT_TRUE(a.TimedRead(m, 24, 5000));

    // The one instance of the name: nobody can add a second one beside the service's.
    HANDLE squatter =
        CreateNamedPipeA(qm::kControlPipeName, PIPE_ACCESS_DUPLEX,
                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 2, 1024, 1024, 0, nullptr);
    EXPECT_TRUE(squatter == INVALID_HANDLE_VALUE);
    if (squatter != INVALID_HANDLE_VALUE)
        CloseHandle(squatter);

    EXPECT_TRUE(a.Close() != 0);
    EXPECT_TRUE(winetest::OpenWithRetry(b));  // accepted after a has gone
    BeginRequest(m, 24, kEnumerateDevices, 0);
    EXPECT_TRUE(b.TimedWrite(m, 24, 5000));
    EXPECT_TRUE(b.TimedRead(m, 24, 5000));

    // Stop with b connected and idle: prompt, and the pipe is gone.
    const DWORD stopStart = GetTickCount();
    manager.StopService();
    EXPECT_TRUE(GetTickCount() - stopStart < 2000);
    EXPECT_TRUE(!manager.PipeThreadRunning());
    qm::NamedPipeClient c;
    EXPECT_TRUE(!c.Open());
    b.Close();

    // A name taken by another process first: the service's pipe is not created, and it runs
    // without one rather than share the name.
    squatter =
        CreateNamedPipeA(qm::kControlPipeName, PIPE_ACCESS_DUPLEX,
                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 2, 1024, 1024, 0, nullptr);
    EXPECT_TRUE(squatter != INVALID_HANDLE_VALUE);
    // Windows refuses the first-instance flag while another instance exists; Wine 8 does not
    // enforce it, so under Wine this is reported, not checked.
    qm::NamedPipeServer second;
    const bool created = second.Create();
    std::printf(
        "first-instance create beside another instance: %s\n",
        created ? "allowed (Wine does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE)" : "refused");
    second.Close();
    CloseHandle(squatter);
    EXPECT_TRUE(second.Create());
}
