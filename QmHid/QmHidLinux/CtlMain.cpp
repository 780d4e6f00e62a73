// qmhid-ctl: talks to a running qmhidsrv over its control pipe.
//   qmhid-ctl [--pipe PATH] list | rotate ANGLE | raw INDEX COUNT
//             | set-calibration INDEX XORIGIN YORIGIN XEXTENT YEXTENT
//             | calibrate [INDEX] [--rotation 0..3] [--timeout SECONDS]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <csignal>

#include "QmHidSrv/CalibrationFit.h"
#include "QmWinTab/ScreenRotate.h"
#include "shared/ControlClient.h"
#include "platform/posix/UnixPipe.h"
#include "shared/PipeMessages.h"

using namespace qm::pipe;

namespace {

std::string Utf16Field(const uint8_t* field) {
    std::string s;
    for (size_t i = 0; i < kStringFieldSize / 2; ++i) {
        const uint16_t c = Get16(field + 2 * i);
        if (c == 0)
            break;
        s += c < 128 ? static_cast<char>(c) : '?';
    }
    return s;
}

constexpr uint32_t kBusyWaitMs = 1000;

// Why a call was not served: not allowed, no service, or busy (another client has it, or the
// connection ended before its first reply).
void ReportNotServed(const qm::UnixPipeClient& pipe, const std::string& path) {
    if (pipe.OpenError() == EACCES) {
        std::fprintf(stderr,
                     "qmhid-ctl: %s: permission denied (members of the group qmhid may use the "
                     "service)\n",
                     path.c_str());
    } else if (pipe.OpenError() == ENOENT) {
        std::fprintf(stderr, "qmhid-ctl: %s: no service\n", path.c_str());
    } else {
        std::fprintf(stderr, "qmhid-ctl: %s: busy (another client holds the service)\n",
                     path.c_str());
    }
}

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

// One tap: the mean raw position while the tip was down, from tip down to tip up. False on
// Ctrl-C or when no pen input came for timeoutMs.
bool Tap(qm::ControlClient& client, uint32_t timeoutMs, qm::RawPoint& mean) {
    double sx = 0, sy = 0;
    uint64_t n = 0;
    uint64_t last = qm::MonotonicMs();
    for (;;) {
        if (g_interrupted || qm::MonotonicMs() - last > timeoutMs)
            return false;
        RawPenReport r;
        if (!client.ReadRawReport(r, 250))
            continue;
        last = qm::MonotonicMs();
        const bool down = (r.buttons & qm::kPenTip) != 0;
        if (down) {
            sx += static_cast<int32_t>(r.x);
            sy += static_cast<int32_t>(r.y);
            ++n;
        } else if (n > 0) {
            mean = {sx / static_cast<double>(n), sy / static_cast<double>(n)};
            return true;
        }
    }
}

// The guided two-point calibration: the corners the pen should cover, tapped in turn.
int Calibrate(qm::ControlClient& client, int argc, char** argv, int i) {
    uint16_t index = 0;
    uint32_t rotation = 0, timeoutS = 60;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rotation" && i + 1 < argc) {
            rotation = static_cast<uint32_t>(std::atoi(argv[++i])) & 3u;
        } else if (a == "--timeout" && i + 1 < argc) {
            timeoutS = static_cast<uint32_t>(std::atoi(argv[++i]));
        } else {
            index = static_cast<uint16_t>(std::atoi(argv[i]));
        }
    }
    const uint64_t token = client.TokenAt(index);
    if (token == 0) {
        std::fprintf(stderr, "qmhid-ctl: no tablet at index %u\n", index);
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;  // no SA_RESTART: a wait ends at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    client.SetRawMode(token, true);
    const char* prompts[2] = {"Touch the top-left corner of the area the pen should cover",
                              "Now the bottom-right corner"};
    qm::RawPoint taps[2];
    for (int k = 0; k < 2; ++k) {
        std::printf("%s\n", prompts[k]);
        std::fflush(stdout);
        if (!Tap(client, timeoutS * 1000u, taps[k])) {
            client.SetRawMode(token, false);
            std::printf(g_interrupted ? "Interrupted; the calibration is unchanged.\n"
                                      : "No pen input; the calibration is unchanged.\n");
            return 1;
        }
        std::printf("  tapped at %.1f, %.1f\n", taps[k].x, taps[k].y);
    }
    client.SetRawMode(token, false);
    const auto fit = qm::FitCalibration({0, 0}, taps[0], {qm::kAbsoluteMax, qm::kAbsoluteMax},
                                        taps[1], rotation);
    if (!fit) {
        std::printf("The two taps do not span the area; the calibration is unchanged.\n");
        return 1;
    }
    if (!client.SetCalibration(token, {fit->xOrigin, fit->yOrigin, fit->xExtent, fit->yExtent}))
        return 1;
    std::printf("Calibration saved: %d %d %d %d\n", fit->xOrigin, fit->yOrigin, fit->xExtent,
                fit->yExtent);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = qm::UnixPipeClient::DefaultPath();
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--pipe") == 0) {
        path = argv[i + 1];
        i += 2;
    }
    const std::string command = i < argc ? argv[i] : "";
    qm::UnixPipeClient pipe(path);
    // A busy or just-released instance is waited for, up to a second, as Windows clients wait
    // for a pipe instance; a call that was not served did nothing, so it is simply made again.
    const uint64_t deadline = qm::MonotonicMs() + kBusyWaitMs;
    if (command == "rotate" && i + 1 < argc) {
        int r = -1;
        for (;;) {
            r = qm::ScreenRotateWith(pipe, static_cast<uint16_t>(std::atoi(argv[i + 1])));
            if (r != -1 || pipe.OpenError() == EACCES || qm::MonotonicMs() >= deadline)
                break;
            qm::SleepMs(50);
        }
        std::printf("ScreenRotate: %d\n", r);
        if (r == -1)
            ReportNotServed(pipe, path);
        return r == -1 ? 1 : 0;
    }
    const bool setCalibration = command == "set-calibration" && i + 5 < argc;
    if (command != "list" && command != "raw" && command != "calibrate" && !setCalibration) {
        std::fprintf(
            stderr,
            "usage: qmhid-ctl [--pipe PATH] list | rotate ANGLE | raw INDEX COUNT\n"
            "                 | set-calibration INDEX XORIGIN YORIGIN XEXTENT "
            "YEXTENT\n"
            "                 | calibrate [INDEX] [--rotation 0..3] [--timeout SECONDS]\n");
        return 2;
    }
    // Opened, and the first request answered: only then is the service this client's.
    qm::ControlClient client(pipe);
    uint32_t count = 0;
    uint64_t first = 0;
    for (;;) {
        if (pipe.Open()) {
            if (client.Enumerate(0, first, count))
                break;
            pipe.Close();
        }
        if (pipe.OpenError() == EACCES || qm::MonotonicMs() >= deadline) {
            ReportNotServed(pipe, path);
            return 1;
        }
        qm::SleepMs(50);
    }
    if (command == "calibrate") {
        const int r = Calibrate(client, argc, argv, i + 1);
        pipe.Close();
        return r;
    }
    if (setCalibration) {
        const uint64_t token = client.TokenAt(static_cast<uint16_t>(std::atoi(argv[i + 1])));
        if (token == 0) {
            std::fprintf(stderr, "qmhid-ctl: no tablet at index %s\n", argv[i + 1]);
            return 1;
        }
        const CalibrationValues values{std::atoi(argv[i + 2]), std::atoi(argv[i + 3]),
                                       std::atoi(argv[i + 4]), std::atoi(argv[i + 5])};
        const bool sent = client.SetCalibration(token, values);
        pipe.Close();
        return sent ? 0 : 1;
    }
    if (command == "list") {
        for (uint16_t index = 0;; ++index) {
            const uint64_t token = client.TokenAt(index, &count);
            if (token == 0)
                break;
            uint8_t m[kGetDeviceStringsSize];
            EncodeGetDeviceStrings(m, token);
            client.Exchange(m, sizeof m);
            CalibrationValues c;
            client.GetCalibration(token, c);
            std::printf(
                "%u: token %llu, manufacturer \"%s\", product \"%s\", calibration %d %d %d %d\n",
                index, static_cast<unsigned long long>(token),
                Utf16Field(m + kManufacturerOffset).c_str(), Utf16Field(m + kProductOffset).c_str(),
                c.xOrigin, c.yOrigin, c.xExtent, c.yExtent);
        }
        std::printf("%u tablet(s)\n", count);
    } else {
        if (i + 2 >= argc)
            return 2;
        const uint64_t token = client.TokenAt(static_cast<uint16_t>(std::atoi(argv[i + 1])));
        const int wanted = std::atoi(argv[i + 2]);
        client.SetRawMode(token, true);
        RawPenReport r;
        for (int n = 0; n < wanted && client.ReadRawReport(r, 5000); ++n)
            std::printf("{\"x\":%u,\"y\":%u,\"buttons\":%u}\n", r.x, r.y, r.buttons);
        client.SetRawMode(token, false);
    }
    pipe.Close();
    return 0;
}
