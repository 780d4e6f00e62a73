#include "platform/linux/Uinput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qm {

namespace {

constexpr const char* kPenName = "QmHid pen";
constexpr const char* kMouseName = "QmHid pointer";

bool SetAbs(int fd, uint16_t code, int32_t max, int32_t resolution) {
    uinput_abs_setup a{};
    a.code = code;
    a.absinfo.minimum = 0;
    a.absinfo.maximum = max;
    a.absinfo.resolution = resolution;
    return ioctl(fd, UI_ABS_SETUP, &a) == 0;
}

void Put(input_event* e, int& n, uint16_t type, uint16_t code, int32_t value) {
    e[n] = input_event{};
    e[n].type = type;
    e[n].code = code;
    e[n].value = value;
    ++n;
}

}  // namespace

UinputPointerOutput::~UinputPointerOutput() {
    if (fd_ >= 0) {
        if (ready_)
            ioctl(fd_, UI_DEV_DESTROY);
        close(fd_);
    }
}

bool UinputPointerOutput::Open(std::string& error, const char* path) {
    fd_ = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = std::string(path) + " cannot be opened: " + std::strerror(errno) +
                (errno == ENOENT ? " (is the uinput module loaded?)" : "");
        return false;
    }
    if (kind_ == Kind::Mouse && !Create(0, kNominalResolution, kNominalResolution)) {
        error = std::string("the uinput device cannot be made: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool UinputPointerOutput::Create(int32_t pressureMax, int32_t xResolution, int32_t yResolution) {
    const bool pen = kind_ == Kind::Pen;
    bool ok = ioctl(fd_, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd_, UI_SET_EVBIT, EV_ABS) == 0 &&
              ioctl(fd_, UI_SET_EVBIT, EV_SYN) == 0;
    if (pen) {
        ok = ok && ioctl(fd_, UI_SET_KEYBIT, BTN_TOOL_PEN) == 0 &&
             ioctl(fd_, UI_SET_KEYBIT, BTN_TOUCH) == 0 &&
             ioctl(fd_, UI_SET_KEYBIT, BTN_STYLUS) == 0 &&
             ioctl(fd_, UI_SET_PROPBIT, INPUT_PROP_DIRECT) == 0;
    } else {
        ok = ok && ioctl(fd_, UI_SET_KEYBIT, BTN_LEFT) == 0 &&
             ioctl(fd_, UI_SET_KEYBIT, BTN_RIGHT) == 0;
    }
    ok = ok && ioctl(fd_, UI_SET_ABSBIT, ABS_X) == 0 && ioctl(fd_, UI_SET_ABSBIT, ABS_Y) == 0 &&
         SetAbs(fd_, ABS_X, 65535, xResolution) && SetAbs(fd_, ABS_Y, 65535, yResolution);
    if (pen)
        ok = ok && ioctl(fd_, UI_SET_ABSBIT, ABS_PRESSURE) == 0 &&
             SetAbs(fd_, ABS_PRESSURE, pressureMax > 0 ? pressureMax : 1, 0);
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x0000;
    setup.id.product = 0x0000;
    setup.id.version = 1;
    std::strncpy(setup.name, pen ? kPenName : kMouseName, UINPUT_MAX_NAME_SIZE - 1);
    ok = ok && ioctl(fd_, UI_DEV_SETUP, &setup) == 0 && ioctl(fd_, UI_DEV_CREATE) == 0;
    if (ok) {
        pressureMax_ = pressureMax;
        ready_ = true;
    }
    return ok;
}

void UinputPointerOutput::DescribePen(const PenDescription& pen) {
    if (kind_ != Kind::Pen || fd_ < 0)
        return;
    LockGuard guard(createLock_);
    // A device made for a pen without pressure is made again for the first pen with it, so
    // that pressure keeps its own range; otherwise the first pen's range stays.
    if (ready_ && (pressureMax_ > 0 || pen.pressureMax <= 0))
        return;
    if (ready_) {
        ready_ = false;
        ioctl(fd_, UI_DEV_DESTROY);
    }
    Create(pen.pressureMax, pen.xResolution > 0 ? pen.xResolution : kNominalResolution,
           pen.yResolution > 0 ? pen.yResolution : kNominalResolution);
}

uint32_t UinputPointerOutput::Inject(const PointerEvent& event) {
    if (!ready_)
        return 0;
    // One write per sample: uinput takes a whole buffer at once, so samples of two tablets
    // never interleave.
    input_event e[8];
    int n = 0;
    Put(e, n, EV_ABS, ABS_X, event.dx);
    Put(e, n, EV_ABS, ABS_Y, event.dy);
    if (kind_ == Kind::Pen) {
        int64_t pressure = event.pressure;
        const int32_t range = pressureMax_.load(std::memory_order_relaxed);
        if (event.pressureMax > 0 && event.pressureMax != range)
            pressure = pressure * range / event.pressureMax;
        Put(e, n, EV_KEY, BTN_TOOL_PEN, event.inRange ? 1 : 0);
        Put(e, n, EV_ABS, ABS_PRESSURE, static_cast<int32_t>(pressure));
        Put(e, n, EV_KEY, BTN_TOUCH, (event.buttons & kPenTip) ? 1 : 0);
        Put(e, n, EV_KEY, BTN_STYLUS, (event.buttons & kPenBarrel) ? 1 : 0);
    } else {
        if (event.flags & (kMouseLeftDown | kMouseLeftUp))
            Put(e, n, EV_KEY, BTN_LEFT, (event.flags & kMouseLeftDown) ? 1 : 0);
        if (event.flags & (kMouseRightDown | kMouseRightUp))
            Put(e, n, EV_KEY, BTN_RIGHT, (event.flags & kMouseRightDown) ? 1 : 0);
    }
    Put(e, n, EV_SYN, SYN_REPORT, 0);
    const ssize_t size = static_cast<ssize_t>(sizeof(input_event)) * n;
    return write(fd_, e, static_cast<size_t>(size)) == size ? 1u : 0u;
}
}  // namespace qm
