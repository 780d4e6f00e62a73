// qmhidsrv: the tablet service on Linux, in the foreground, in the manner of a systemd service.
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <memory>
#include <pthread.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "QmHidSrv/StatusCodes.h"
#include "QmHidSrv/TabMgr.h"
#include "platform/posix/FileSettingsStore.h"
#include "platform/posix/PrintPointerOutput.h"
#include "platform/linux/Hidraw.h"
#include "platform/linux/Uinput.h"
#include "platform/linux/UdevDeviceWatcher.h"
#include "platform/posix/UnixPipe.h"
#include "platform/virtual/Replay.h"
#include "platform/virtual/VirtualDeviceWatcher.h"

namespace {

constexpr const char* kUsage =
    "usage: qmhidsrv [--pipe PATH] [--state-dir DIR] [--replay FILE]... [--replay-loop]\n"
    "                [--pointer pen|mouse|print|none] [--any-digitizer]\n"
    "  Without --replay it drives the pens attached (hidraw, udev, uinput).\n";

// Without a pointer backend the events go nowhere; --pointer print shows them.
class DiscardPointerOutput final : public qm::IPointerOutput {
public:
    uint32_t Inject(const qm::PointerEvent&) override { return 1; }
};

void Log(const std::string& text) {
    std::fprintf(stderr, "qmhidsrv: %s\n", text.c_str());
    std::fflush(stderr);
}

class StderrLog final : public qm::IServiceLog {
public:
    explicit StderrLog(std::string pipePath) : pipePath_(std::move(pipePath)) {}
    void Error(uint32_t, const char* what) override {
        if (std::strcmp(what, "CreateNamedPipe") == 0) {
            Log("control pipe " + pipePath_ + " cannot be created; trying again every second");
        } else {
            Log(std::string("error: ") + what);
        }
    }

    // Once per interface path for the life of the process.
    void Skipped(const char* path, const char* why) override {
        {
            qm::LockGuard guard(lock_);
            if (!told_.insert(path).second)
                return;
        }
        Log(std::string("skipped ") + path + ": " + why);
    }

private:
    std::string pipePath_;
    qm::Mutex lock_;  // told_ against the window thread and anything else
    std::set<std::string> told_;
};

// Makes the folders above a path (the pipe's), readable by owner and group only.
void MakeParents(const std::string& path, gid_t group) {
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/')
            continue;
        const std::string dir = path.substr(0, i);
        if (mkdir(dir.c_str(), 0750) == 0 && group != static_cast<gid_t>(-1)) [[maybe_unused]]
            int rc = chown(dir.c_str(), static_cast<uid_t>(-1), group);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string pipePath = qm::UnixPipeServer::DefaultPath();
    std::string stateDir = qm::FileSettingsStore::DefaultDirectory();
    std::vector<std::string> replays;
    bool loop = false;
    bool anyDigitizer = false;
    std::string pointerKind;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--pipe" && value) {
            pipePath = argv[++i];
        } else if (a == "--state-dir" && value) {
            stateDir = argv[++i];
        } else if (a == "--replay" && value) {
            replays.emplace_back(argv[++i]);
        } else if (a == "--replay-loop") {
            loop = true;
        } else if (a == "--pointer" && value &&
                   (std::strcmp(argv[i + 1], "print") == 0 ||
                    std::strcmp(argv[i + 1], "none") == 0 || std::strcmp(argv[i + 1], "pen") == 0 ||
                    std::strcmp(argv[i + 1], "mouse") == 0)) {
            pointerKind = argv[++i];
        } else if (a == "--any-digitizer") {
            anyDigitizer = true;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    // Never a shared folder such as /tmp: without a folder of the user's own, one is named.
    if (pipePath.empty()) {
        Log("start failed: no $XDG_RUNTIME_DIR for the control pipe; give --pipe PATH");
        return 1;
    }
    if (stateDir.empty()) {
        Log("start failed: no $XDG_STATE_HOME or $HOME for the settings; give --state-dir DIR");
        return 1;
    }

    // The signals are taken by sigwait on this thread alone.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // Replayed tablets, or the pens attached through hidraw and udev.
    const bool replaying = !replays.empty();
    if (pointerKind.empty())
        pointerKind = replaying ? "print" : "pen";
    qm::VirtualHidBackend virtualHid;
    qm::VirtualDeviceWatcher virtualWatcher(virtualHid);
    qm::HidrawBackend hidraw;
    qm::UdevDeviceWatcher udevWatcher(hidraw);
    qm::IHidBackend& backend = replaying ? static_cast<qm::IHidBackend&>(virtualHid) : hidraw;
    qm::IDeviceWatcher& watcher =
        replaying ? static_cast<qm::IDeviceWatcher&>(virtualWatcher) : udevWatcher;

    qm::NoDisplayOrientation display;  // tablets keep their own rotation
    qm::FileSettingsStore store(stateDir);
    qm::PrintPointerOutput printer(1);
    DiscardPointerOutput discard;
    qm::UinputPointerOutput uinput(pointerKind == "mouse" ? qm::UinputPointerOutput::Kind::Mouse
                                                          : qm::UinputPointerOutput::Kind::Pen);
    qm::IPointerOutput* pointer = &discard;
    if (pointerKind == "print") {
        pointer = &printer;
    } else if (pointerKind == "pen" || pointerKind == "mouse") {
        std::string error;
        if (!uinput.Open(error)) {
            Log("start failed: " + error);
            return 1;
        }
        pointer = &uinput;
    }

    // Members of the group qmhid may use the pipe, where that group exists.
    const group* g = getgrnam("qmhid");
    const gid_t pipeGroup = g != nullptr ? g->gr_gid : static_cast<gid_t>(-1);
    MakeParents(pipePath, pipeGroup);
    MakeParents(stateDir + "/", static_cast<gid_t>(-1));
    // A folder that someone else owns or may write to could hand the pipe or the settings to
    // them: refused.
    const size_t slash = pipePath.rfind('/');
    for (const std::string& folder :
         {slash == std::string::npos ? std::string(".")
                                     : pipePath.substr(0, slash == 0 ? 1 : slash),
          stateDir}) {
        std::string why;
        if (!qm::IsPrivateFolder(folder, why)) {
            Log("start failed: " + why);
            return 1;
        }
    }
    qm::UnixPipeServer pipe(pipePath);
    pipe.SetGroup(pipeGroup);
    // The name is this service's for its whole life, or the service does not run.
    long owner = 0;
    if (!pipe.Claim(&owner)) {
        Log("control pipe " + pipePath + " is in use by another qmhidsrv" +
            (owner > 0 ? " (process " + std::to_string(owner) + ")" : std::string()) +
            "; not started");
        return 1;
    }
    StderrLog log(pipePath);
    qm::CQmTabMgr manager({backend, watcher, display, store, *pointer, pipe, &log});
    manager.SetAcceptAnyDigitizer(anyDigitizer);

    std::vector<std::unique_ptr<qm::ReplayTablet>> tablets;
    for (size_t n = 0; n < replays.size(); ++n) {
        std::string error;
        auto tablet =
            qm::ReplayTablet::Load(replays[n], "virtual/replay/" + std::to_string(n), &error);
        if (tablet == nullptr) {
            Log(error);
            return 2;
        }
        virtualHid.Add(tablet->Device());
        tablets.push_back(std::move(tablet));
    }

    if (!manager.StartService()) {
        char text[160];
        std::snprintf(text, sizeof text, "start failed: 0x%08X %s (error %u)", manager.StatusCode(),
                      qm::StatusText(manager.StatusCode()), manager.lastError.load());
        Log(text);
        return 1;
    }
    if (replaying)
        virtualWatcher.WaitIdle(5000);  // the start-up enumeration has made the tablets
    Log("running; control pipe " + pipePath + ", settings in " + stateDir + ", " +
        std::to_string(manager.DeviceCount()) + " tablet(s)" +
        (replaying ? std::string()
                   : std::string(", devices from ") + udevWatcher.Source() + " events, output " +
                         pointerKind));
    for (auto& t : tablets)
        t->Start(loop);

    int signal = 0;
    sigwait(&signals, &signal);
    Log(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
    for (auto& t : tablets)
        t->Stop();
    if (!manager.StopService()) {
        // A thread that outlived its bound still uses the manager: end without destroying it.
        Log("stopped; a thread did not end in time and was left to the process's end");
        std::_Exit(0);
    }
    Log("stopped");
    return 0;
}
