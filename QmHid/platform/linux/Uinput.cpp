#include "platform/linux/Uinput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qm {

namespace {

constexpr const char* kPenName = "QmHid pen";
constexpr const char* kMouseName = "QmHid pointer";
constexpr const char* kNameSuffix = " (QmHid)";

bool SetAbs(int fd, uint16_t code, int32_t min, int32_t max, int32_t resolution) {
    uinput_abs_setup a{};
    a.code = code;
    a.absinfo.minimum = min;
    a.absinfo.maximum = max;
    a.absinfo.resolution = resolution;
    return ioctl(fd, UI_SET_ABSBIT, code) == 0 && ioctl(fd, UI_ABS_SETUP, &a) == 0;
}

bool SetKey(int fd, uint16_t code) {
    return ioctl(fd, UI_SET_KEYBIT, code) == 0;
}

void Put(input_event* e, int& n, uint16_t type, uint16_t code, int32_t value) {
    e[n] = input_event{};
    e[n].type = type;
    e[n].code = code;
    e[n].value = value;
    ++n;
}

bool Finish(int fd, const std::string& name, const PenDescription* pen) {
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.version = 1;
    if (pen != nullptr && pen->bus != 0) {
        setup.id.bustype = pen->bus;
        setup.id.vendor = pen->vendor;
        setup.id.product = pen->product;
        setup.id.version = pen->version;
    }
    std::strncpy(setup.name, name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
    return ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ioctl(fd, UI_DEV_CREATE) == 0;
}

uint16_t ToolKey(EvdevPenState::Tool tool) {
    return tool == EvdevPenState::Tool::Rubber ? BTN_TOOL_RUBBER : BTN_TOOL_PEN;
}

}  // namespace

EvdevPenState WantedPenState(const PointerEvent& event, bool hasInvert,
                             EvdevPenState::Tool current) {
    const bool tip = (event.buttons & kPenTip) != 0;
    const bool eraser = (event.switches & kPenEraser) != 0;
    EvdevPenState s;
    if (event.inRange == 0 && !tip && !eraser)
        return s;  // out of range: no tool, every key up
    const bool rubber = eraser || (event.switches & kPenInvert) != 0 ||
                        (!hasInvert && !tip && current == EvdevPenState::Tool::Rubber);
    s.tool = rubber ? EvdevPenState::Tool::Rubber : EvdevPenState::Tool::Pen;
    s.touch = tip || eraser;
    s.stylus = (event.buttons & kPenBarrel) != 0;
    s.stylus2 = (event.switches & kPenBarrel2) != 0;
    return s;
}

std::unique_ptr<UinputPen> UinputPen::Make(const char* path, const PenDescription& pen,
                                           std::string& error) {
    const int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::string(path) + " cannot be opened: " + std::strerror(errno);
        return nullptr;
    }
    const bool rubber = (pen.switches & (kPenInvert | kPenEraser)) != 0;
    const int32_t xRes = pen.xResolution > 0 ? pen.xResolution : kNominalResolution;
    const int32_t yRes = pen.yResolution > 0 ? pen.yResolution : kNominalResolution;
    bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd, UI_SET_EVBIT, EV_ABS) == 0 &&
              ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0 && SetKey(fd, BTN_TOOL_PEN) &&
              SetKey(fd, BTN_TOUCH) && SetKey(fd, BTN_STYLUS) &&
              ioctl(fd, UI_SET_PROPBIT, INPUT_PROP_DIRECT) == 0 &&
              SetAbs(fd, ABS_X, 0, 65535, xRes) && SetAbs(fd, ABS_Y, 0, 65535, yRes) &&
              SetAbs(fd, ABS_PRESSURE, 0, pen.pressureMax > 0 ? pen.pressureMax : 1, 0);
    if (rubber)
        ok = ok && SetKey(fd, BTN_TOOL_RUBBER);
    if (pen.switches & kPenBarrel2)
        ok = ok && SetKey(fd, BTN_STYLUS2);
    const bool tilt = pen.tiltX.present && pen.tiltY.present;
    if (tilt)
        ok = ok &&
             SetAbs(fd, ABS_TILT_X, pen.tiltX.minimum, pen.tiltX.maximum, pen.tiltX.resolution) &&
             SetAbs(fd, ABS_TILT_Y, pen.tiltY.minimum, pen.tiltY.maximum, pen.tiltY.resolution);
    if (pen.hasSerial)
        ok =
            ok && ioctl(fd, UI_SET_EVBIT, EV_MSC) == 0 && ioctl(fd, UI_SET_MSCBIT, MSC_SERIAL) == 0;
    // Named after the tablet, within the name's room, always ending in the marker.
    std::string name = pen.name.empty() ? std::string(kPenName) : pen.name + kNameSuffix;
    if (name.size() >= UINPUT_MAX_NAME_SIZE)
        name =
            pen.name.substr(0, UINPUT_MAX_NAME_SIZE - 1 - std::strlen(kNameSuffix)) + kNameSuffix;
    ok = ok && Finish(fd, name, &pen);
    if (!ok) {
        error = std::string("the uinput device \"") + name +
                "\" cannot be made: " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<UinputPen>(new (std::nothrow) UinputPen(fd, pen));
}

UinputPen::UinputPen(int fd, const PenDescription& pen) : fd_(fd) {
    options_.tilt = pen.tiltX.present && pen.tiltY.present;
    options_.serial = pen.hasSerial;
    options_.hasInvert = (pen.switches & kPenInvert) != 0;
}

UinputPen::~UinputPen() {
    ioctl(fd_, UI_DEV_DESTROY);
    close(fd_);
}

int PenFrames(EvdevPenState& state, const PointerEvent& event, const PenFrameOptions& options,
              input_event (&e)[kMaxPenEvents]) {
    const EvdevPenState wanted = WantedPenState(event, options.hasInvert, state.tool);
    int n = 0;
    // A pen turns from one end to the other only through out of range: a device that flips
    // in range gets the out-of-range frame in between.
    if (state.tool != EvdevPenState::Tool::None && wanted.tool != EvdevPenState::Tool::None &&
        wanted.tool != state.tool) {
        Put(e, n, EV_KEY, BTN_TOUCH, 0);
        Put(e, n, EV_KEY, BTN_STYLUS, 0);
        Put(e, n, EV_KEY, BTN_STYLUS2, 0);
        Put(e, n, EV_KEY, ToolKey(state.tool), 0);
        Put(e, n, EV_SYN, SYN_REPORT, 0);
        state = EvdevPenState{};
    }
    Put(e, n, EV_ABS, ABS_X, event.dx);
    Put(e, n, EV_ABS, ABS_Y, event.dy);
    Put(e, n, EV_ABS, ABS_PRESSURE, static_cast<int32_t>(event.pressure));
    if (options.tilt) {
        Put(e, n, EV_ABS, ABS_TILT_X, event.tiltX);
        Put(e, n, EV_ABS, ABS_TILT_Y, event.tiltY);
    }
    if (wanted.tool != EvdevPenState::Tool::None) {
        if (options.serial && event.serial != 0)
            Put(e, n, EV_MSC, MSC_SERIAL, static_cast<int32_t>(event.serial));
        Put(e, n, EV_KEY, ToolKey(wanted.tool), 1);
        Put(e, n, EV_KEY, BTN_TOUCH, wanted.touch ? 1 : 0);
        Put(e, n, EV_KEY, BTN_STYLUS, wanted.stylus ? 1 : 0);
        Put(e, n, EV_KEY, BTN_STYLUS2, wanted.stylus2 ? 1 : 0);
    } else if (state.tool != EvdevPenState::Tool::None) {
        // Leaving range: every key up with the tool.
        Put(e, n, EV_KEY, BTN_TOUCH, 0);
        Put(e, n, EV_KEY, BTN_STYLUS, 0);
        Put(e, n, EV_KEY, BTN_STYLUS2, 0);
        Put(e, n, EV_KEY, ToolKey(state.tool), 0);
    }
    Put(e, n, EV_SYN, SYN_REPORT, 0);
    state = wanted;
    return n;
}

uint32_t UinputPen::Inject(const PointerEvent& event) {
    // One write per sample, and so no allocation: uinput takes whole frames at once.
    input_event e[kMaxPenEvents];
    const int n = PenFrames(state_, event, options_, e);
    const ssize_t size = static_cast<ssize_t>(sizeof(input_event)) * n;
    return write(fd_, e, static_cast<size_t>(size)) == size ? 1u : 0u;
}

UinputPointerOutput::~UinputPointerOutput() {
    if (fd_ >= 0) {
        ioctl(fd_, UI_DEV_DESTROY);
        close(fd_);
    }
}

bool UinputPointerOutput::Open(std::string& error, const char* path) {
    path_ = path;
    const int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::string(path) + " cannot be opened: " + std::strerror(errno) +
                (errno == ENOENT ? " (is the uinput module loaded?)" : "");
        return false;
    }
    if (kind_ == Kind::Pen) {
        close(fd);  // each tablet opens its own
        return true;
    }
    const bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd, UI_SET_EVBIT, EV_ABS) == 0 &&
                    ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0 && SetKey(fd, BTN_LEFT) &&
                    SetKey(fd, BTN_RIGHT) && SetAbs(fd, ABS_X, 0, 65535, kNominalResolution) &&
                    SetAbs(fd, ABS_Y, 0, 65535, kNominalResolution) &&
                    Finish(fd, kMouseName, nullptr);
    if (!ok) {
        error = std::string("the uinput device cannot be made: ") + std::strerror(errno);
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

std::unique_ptr<IPointerOutput> UinputPointerOutput::MakePenOutput(const PenDescription& pen) {
    if (kind_ != Kind::Pen || path_.empty())
        return nullptr;
    std::string error;
    std::unique_ptr<IPointerOutput> device = UinputPen::Make(path_.c_str(), pen, error);
    if (device == nullptr)
        std::fprintf(stderr, "qmhidsrv: %s; this tablet's pen is not drawn\n", error.c_str());
    return device;
}

uint32_t UinputPointerOutput::Inject(const PointerEvent& event) {
    if (kind_ != Kind::Mouse || fd_ < 0)
        return 0;  // a pen's events go to its tablet's own device
    input_event e[5];
    int n = 0;
    Put(e, n, EV_ABS, ABS_X, event.dx);
    Put(e, n, EV_ABS, ABS_Y, event.dy);
    if (event.flags & (kMouseLeftDown | kMouseLeftUp))
        Put(e, n, EV_KEY, BTN_LEFT, (event.flags & kMouseLeftDown) ? 1 : 0);
    if (event.flags & (kMouseRightDown | kMouseRightUp))
        Put(e, n, EV_KEY, BTN_RIGHT, (event.flags & kMouseRightDown) ? 1 : 0);
    Put(e, n, EV_SYN, SYN_REPORT, 0);
    const ssize_t size = static_cast<ssize_t>(sizeof(input_event)) * n;
    return write(fd_, e, static_cast<size_t>(size)) == size ? 1u : 0u;
}

}  // namespace qm
