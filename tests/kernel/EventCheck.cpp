// qmhid-evcheck: reads an input event node and checks it against what a recording's reports
// should make of it, as the service's decoder and mapping predict them.
//   qmhid-evcheck pen|mouse NODE RECORDING [--calibration X0,Y0,XE,YE] [--rotation 0..3]
//                 [--timeout MS]
//   qmhid-evcheck silent NODE... [--timeout MS]
// NODE: /dev/input/eventN, name:DEVICE-NAME, or kernel-of:hidrawN (the kernel's own nodes of
// that HID device). Prints "ready" once the nodes are open, then "matched N states" (pen,
// mouse) or "silent" and exits 0; on a mismatch it prints both sequences and exits 1.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/input.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "QmHidSrv/HidTablet.h"
#include "QmHidSrv/PointerMapping.h"
#include "hid/HidDescriptor.h"
#include "hid/HidRecording.h"
#include "platform/Sync.h"
#include "platform/linux/Hidraw.h"

namespace {

struct State {
    int x = 0, y = 0, pressure = 0, tool = 0, touch = 0, stylus = 0;
    bool operator==(const State&) const = default;
};

std::string Text(const State& s, bool pen) {
    char b[128];
    if (pen)
        std::snprintf(b, sizeof b, "x %d y %d pressure %d tool %d touch %d stylus %d", s.x, s.y,
                      s.pressure, s.tool, s.touch, s.stylus);
    else
        std::snprintf(b, sizeof b, "x %d y %d left %d right %d", s.x, s.y, s.touch, s.stylus);
    return b;
}

std::vector<std::string> NodesNamed(const std::string& wanted) {
    std::vector<std::string> out;
    if (wanted.rfind("name:", 0) == 0) {
        const std::string want = wanted.substr(5);
        DIR* d = opendir("/sys/class/input");
        while (d != nullptr) {
            const dirent* e = readdir(d);
            if (e == nullptr)
                break;
            if (std::strncmp(e->d_name, "event", 5) != 0)
                continue;
            std::ifstream in(std::string("/sys/class/input/") + e->d_name + "/device/name");
            std::string name;
            std::getline(in, name);
            if (name == want)
                out.push_back(std::string("/dev/input/") + e->d_name);
        }
        if (d != nullptr)
            closedir(d);
    } else if (wanted.rfind("kernel-of:", 0) == 0) {
        for (const std::string& e : qm::KernelEventNodes("/sys", wanted.substr(10)))
            out.push_back("/dev/input/" + e);
    } else {
        out.push_back(wanted);
    }
    return out;
}

// The states the service should bring about, one per report it maps.
std::vector<State> Predict(const qm::HidRecording& rec, const qm::Calibration* calibration,
                           uint32_t rotation, bool pen) {
    std::vector<State> out;
    const qm::HidDescriptorParse parse =
        qm::ParseReportDescriptor(rec.descriptor.data(), rec.descriptor.size());
    if (!parse.ok)
        return out;
    const qm::HidCollection& c = parse.collections[qm::ChoosePenCollection(parse.collections)];
    qm::PenDecoder decoder;
    decoder.Init(c, c.caps);
    const qm::Calibration cal =
        calibration != nullptr ? *calibration : qm::Calibration{0, 0, decoder.xMax, decoder.yMax};
    qm::PointerState mapping;
    std::vector<uint8_t> report(c.caps.inputReportByteLength);
    for (const qm::HidRecordedReport& r : rec.reports) {
        const size_t offset = c.usesReportIds ? 0 : 1;
        if (r.bytes.size() + offset > report.size())
            continue;
        std::fill(report.begin(), report.end(), 0);
        std::copy(r.bytes.begin(), r.bytes.end(), report.begin() + static_cast<long>(offset));
        qm::PenSample s;
        if (!c.HasInputReport(report[0]) ||
            !decoder.Decode(c, report.data(), static_cast<uint32_t>(report.size()), s))
            continue;
        const qm::PointerEvent e =
            qm::MapSample(cal, rotation, mapping, static_cast<int32_t>(s.x),
                          static_cast<int32_t>(s.y), static_cast<uint8_t>(s.buttons), false);
        State st;
        st.x = e.dx;
        st.y = e.dy;
        st.touch = (s.buttons & 1) ? 1 : 0;
        st.stylus = (s.buttons & 2) ? 1 : 0;
        if (pen) {
            st.pressure = static_cast<int>(s.pressure);
            st.tool = s.inRange ? 1 : 0;
        }
        out.push_back(st);
    }
    return out;
}

State Current(int fd, bool pen) {
    State s;
    input_absinfo a{};
    if (ioctl(fd, EVIOCGABS(ABS_X), &a) == 0)
        s.x = a.value;
    if (ioctl(fd, EVIOCGABS(ABS_Y), &a) == 0)
        s.y = a.value;
    if (pen && ioctl(fd, EVIOCGABS(ABS_PRESSURE), &a) == 0)
        s.pressure = a.value;
    uint8_t keys[KEY_MAX / 8 + 1] = {};
    ioctl(fd, EVIOCGKEY(sizeof keys), keys);
    auto bit = [&](int code) { return (keys[code / 8] >> (code % 8)) & 1; };
    if (pen) {
        s.tool = bit(BTN_TOOL_PEN);
        s.touch = bit(BTN_TOUCH);
        s.stylus = bit(BTN_STYLUS);
    } else {
        s.touch = bit(BTN_LEFT);
        s.stylus = bit(BTN_RIGHT);
    }
    return s;
}

void Apply(State& s, const input_event& e, bool pen) {
    if (e.type == EV_ABS) {
        if (e.code == ABS_X)
            s.x = e.value;
        if (e.code == ABS_Y)
            s.y = e.value;
        if (e.code == ABS_PRESSURE)
            s.pressure = e.value;
    } else if (e.type == EV_KEY) {
        if (pen && e.code == BTN_TOOL_PEN)
            s.tool = e.value;
        if (e.code == (pen ? BTN_TOUCH : BTN_LEFT))
            s.touch = e.value;
        if (e.code == (pen ? BTN_STYLUS : BTN_RIGHT))
            s.stylus = e.value;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: see the top of EventCheck.cpp\n", stderr);
        return 2;
    }
    const std::string mode = argv[1];
    std::vector<std::string> wantedNodes;
    std::string recording;
    qm::Calibration calibration;
    bool calibrated = false;
    uint32_t rotation = 0;
    uint32_t timeoutMs = 5000;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--calibration" && i + 1 < argc) {
            calibrated =
                std::sscanf(argv[++i], "%d,%d,%d,%d", &calibration.xOrigin, &calibration.yOrigin,
                            &calibration.xExtent, &calibration.yExtent) == 4;
        } else if (a == "--rotation" && i + 1 < argc) {
            rotation = static_cast<uint32_t>(std::atoi(argv[++i]));
        } else if (a == "--timeout" && i + 1 < argc) {
            timeoutMs = static_cast<uint32_t>(std::atoi(argv[++i]));
        } else if (mode != "silent" && wantedNodes.size() == 1 && recording.empty()) {
            recording = a;
        } else {
            wantedNodes.push_back(a);
        }
    }
    std::vector<int> fds;
    for (const std::string& wanted : wantedNodes)
        for (const std::string& node : NodesNamed(wanted)) {
            const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                fds.push_back(fd);
        }
    if (fds.empty()) {
        std::printf("no node found\n");
        return 1;
    }
    const bool pen = mode == "pen";
    std::vector<State> want;
    State state;
    if (mode != "silent") {
        std::ifstream in(recording);
        qm::HidRecording rec;
        std::string error;
        if (!qm::ParseHidRecording(in, rec, error)) {
            std::printf("%s\n", error.c_str());
            return 2;
        }
        state = Current(fds[0], pen);
        State last = state;
        for (const State& s : Predict(rec, calibrated ? &calibration : nullptr, rotation, pen)) {
            if (!(s == last))
                want.push_back(s);
            last = s;
        }
    }
    input_absinfo range{}, x{}, y{};
    if (pen && ioctl(fds[0], EVIOCGABS(ABS_PRESSURE), &range) == 0)
        std::printf("pressure range %d..%d\n", range.minimum, range.maximum);
    if (mode != "silent" && ioctl(fds[0], EVIOCGABS(ABS_X), &x) == 0 &&
        ioctl(fds[0], EVIOCGABS(ABS_Y), &y) == 0)
        std::printf("resolution %d %d\n", x.resolution, y.resolution);
    std::printf("ready\n");
    std::fflush(stdout);
    std::vector<State> seen;
    size_t events = 0;
    uint64_t deadline = qm::MonotonicMs() + timeoutMs;
    while (qm::MonotonicMs() < deadline && (mode == "silent" || seen.size() < want.size())) {
        std::vector<pollfd> p;
        for (int fd : fds)
            p.push_back({fd, POLLIN, 0});
        const int n = poll(p.data(), p.size(), static_cast<int>(deadline - qm::MonotonicMs()));
        if (n <= 0)
            continue;
        for (size_t k = 0; k < p.size(); ++k) {
            if (!(p[k].revents & POLLIN))
                continue;
            input_event e[64];
            const ssize_t r = read(fds[k], e, sizeof e);
            for (ssize_t j = 0; j < r / static_cast<ssize_t>(sizeof(input_event)); ++j) {
                ++events;
                if (e[j].type == EV_SYN && e[j].code == SYN_REPORT) {
                    seen.push_back(state);
                } else {
                    Apply(state, e[j], pen);
                }
            }
        }
        // Input keeps coming while a recording plays: wait for a pause before judging.
        if (mode != "silent" && n > 0)
            deadline = std::max(deadline, qm::MonotonicMs() + 1000);
    }
    if (mode == "silent") {
        std::printf(events == 0 ? "silent\n" : "%zu events\n", events);
        return events == 0 ? 0 : 1;
    }
    if (seen == want) {
        std::printf("matched %zu states\n", seen.size());
        return 0;
    }
    std::printf("mismatch: %zu states seen, %zu predicted\n", seen.size(), want.size());
    for (size_t i = 0; i < std::max(seen.size(), want.size()); ++i)
        std::printf("  %3zu seen %-60s want %s\n", i,
                    i < seen.size() ? Text(seen[i], pen).c_str() : "-",
                    i < want.size() ? Text(want[i], pen).c_str() : "-");
    return 1;
}
