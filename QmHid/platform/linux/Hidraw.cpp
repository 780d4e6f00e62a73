#include "platform/linux/Hidraw.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "hid/HidDescriptor.h"
#include "platform/posix/Poll.h"

namespace qm {

namespace {

// "/dev/hidraw3&col02" -> node "/dev/hidraw3", collection 1; no suffix -> collection 0.
bool SplitPath(const std::string& path, std::string& node, size_t& collection, bool& suffixed) {
    const size_t amp = path.rfind("&col");
    suffixed = amp != std::string::npos;
    if (!suffixed) {
        node = path;
        collection = 0;
        return true;
    }
    node = path.substr(0, amp);
    const std::string digits = path.substr(amp + 4);
    if (digits.size() != 2 || digits[0] < '0' || digits[0] > '9' || digits[1] < '0' ||
        digits[1] > '9')
        return false;
    const int n = (digits[0] - '0') * 10 + (digits[1] - '0');
    if (n < 1)
        return false;
    collection = static_cast<size_t>(n - 1);
    return true;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadDescriptor(int fd, std::vector<uint8_t>& out) {
    int size = 0;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &size) != 0 || size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE)
        return false;
    hidraw_report_descriptor d{};
    d.size = static_cast<__u32>(size);
    if (ioctl(fd, HIDIOCGRDESC, &d) != 0)
        return false;
    out.assign(d.value, d.value + size);
    return true;
}

// Reads one line attribute; false when absent.
bool ReadLine(const std::string& file, std::string& out) {
    std::ifstream in(file);
    if (!in)
        return false;
    std::getline(in, out);
    return true;
}

std::u16string FromUtf8(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = c;
        size_t n = 1;
        if (c >= 0xF0 && i + 3 < s.size()) {
            cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
                 (s[i + 3] & 0x3Fu);
            n = 4;
        } else if (c >= 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
            n = 3;
        } else if (c >= 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
            n = 2;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += n;
    }
    return out;
}

class HidrawFile final : public IHidFile {
public:
    HidrawFile(int fd, HidCollection collection, std::string sysfs, std::string nodeName,
               std::vector<int> grabbed)
        : fd_(fd),
          collection_(std::move(collection)),
          sysfs_(std::move(sysfs)),
          nodeName_(std::move(nodeName)),
          grabbed_(std::move(grabbed)) {}
    ~HidrawFile() override {
        for (int g : grabbed_) {
            ioctl(g, EVIOCGRAB, 0);
            close(g);
        }
        close(fd_);
    }

    HidReadResult Read(uint8_t* buffer, uint32_t length) override {
        // The read itself is left to WaitForRead, which polls first: a read tried here would
        // mostly fail with EAGAIN, one system call per report for nothing. A report already
        // queued makes that poll return at once.
        buffer_ = buffer;
        length_ = length;
        return HidReadResult::Pending;
    }

    HidWait WaitForRead(Event& stop, uint32_t timeoutMs) override {
        const uint64_t deadline = MonotonicMs() + timeoutMs;
        for (;;) {
            const uint64_t now = MonotonicMs();
            if (now >= deadline)
                return HidWait::Timeout;
            switch (WaitReadyOrStop(fd_, POLLIN, static_cast<int>(stop.NativeHandle()),
                                    static_cast<uint32_t>(deadline - now))) {
                case PollResult::Error:
                    return HidWait::WaitFailed;
                case PollResult::Stop:
                    return HidWait::Stop;
                case PollResult::Timeout:
                    continue;
                case PollResult::Ready:
                    break;
            }
            const int r = TakeOne();
            if (r > 0)
                return HidWait::Completed;
            if (r < 0)
                return HidWait::Failed;  // the device went away
        }
    }

    // Reads are synchronous: nothing is left to write into the buffer.
    void CancelRead() override {}

    bool GetAttributes(HidAttributes& out) override {
        hidraw_devinfo info{};
        if (ioctl(fd_, HIDIOCGRAWINFO, &info) != 0)
            return false;
        out.bus = static_cast<uint16_t>(info.bustype);
        out.vendor = static_cast<uint16_t>(info.vendor);
        out.product = static_cast<uint16_t>(info.product);
        // The version is the HID device's, as its own input nodes carry it.
        input_id id{};
        out.version = !grabbed_.empty() && ioctl(grabbed_[0], EVIOCGID, &id) == 0 ? id.version : 0;
        return true;
    }

    bool GetString(HidStringKind kind, char16_t* buffer, uint32_t bytes) override {
        std::u16string value;
        if (!ReadHidrawString(sysfs_, nodeName_, kind, value)) {
            SetLastErrorCode(kErrorDeviceNotConnected);
            return false;
        }
        const size_t need = (value.size() + 1) * sizeof(char16_t);
        if (bytes < need) {
            SetLastErrorCode(kErrorInvalidUserBuffer);
            return false;
        }
        std::memcpy(buffer, value.c_str(), need);
        return true;
    }

    std::unique_ptr<IHidReportParser> GetPreparsedData() override {
        auto p = std::unique_ptr<HidCollection>(new (std::nothrow) HidCollection(collection_));
        if (p == nullptr)
            SetLastErrorCode(kErrorNotEnoughMemory);
        return p;
    }

private:
    // One read() of the node: 1 with a report of this collection in the buffer, 0 when none
    // was there (errno EAGAIN) or it was another collection's, -1 when the device is gone.
    int TakeOne() {
        uint8_t raw[4096 + 1];
        const ssize_t n = read(fd_, raw, sizeof raw);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                errno = EAGAIN;
                return 0;
            }
            SetLastErrorCode(kErrorDeviceNotConnected);
            return -1;
        }
        if (n == 0) {
            SetLastErrorCode(kErrorDeviceNotConnected);
            return -1;
        }
        const uint32_t length = collection_.caps.inputReportByteLength;
        // Without report IDs Windows puts a zero byte first; a numbered report comes whole.
        const size_t offset = collection_.usesReportIds ? 0 : 1;
        if (length <= offset ||
            (collection_.usesReportIds && !collection_.HasInputReport(raw[0]))) {
            errno = 0;
            return 0;
        }
        if (buffer_ == nullptr || length_ < length) {
            errno = 0;
            return 0;
        }
        // As a Windows read and the kernel's own input handling do, a report longer than the
        // collection's is cut to its length, and a shorter one is padded with zeros.
        const size_t take = std::min(static_cast<size_t>(n), length - offset);
        std::memset(buffer_, 0, length_);
        std::memcpy(buffer_ + offset, raw, take);
        return 1;
    }

    int fd_;
    HidCollection collection_;
    std::string sysfs_;
    std::string nodeName_;
    std::vector<int> grabbed_;
    uint8_t* buffer_ = nullptr;
    uint32_t length_ = 0;
};

}  // namespace

std::unique_ptr<IHidFile> HidrawBackend::Open(const char* path, HidOpenMode mode) {
    std::string node;
    size_t index = 0;
    bool suffixed = false;
    if (path == nullptr || !SplitPath(path, node, index, suffixed)) {
        SetLastErrorCode(kErrorFileNotFound);
        return nullptr;
    }
    const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        SetLastErrorCode(errno == ENOENT                     ? kErrorFileNotFound
                         : errno == EACCES || errno == EPERM ? kErrorAccessDenied
                                                             : kErrorDeviceNotConnected);
        return nullptr;
    }
    std::vector<uint8_t> descriptor;
    HidDescriptorParse parse;
    if (ReadDescriptor(fd, descriptor))
        parse = ParseReportDescriptor(descriptor.data(), descriptor.size());
    // A plain path names a node of one collection; a suffix one collection of several.
    if (!parse.ok || index >= parse.collections.size() ||
        suffixed != (parse.collections.size() > 1)) {
        close(fd);
        SetLastErrorCode(kErrorBadDevice);
        return nullptr;
    }
    const std::string name = BaseName(node);
    std::vector<int> grabbed;
    if (mode == HidOpenMode::Reading) {
        for (const std::string& event : KernelEventNodes(sysfs_, name)) {
            const int g = open((dev_ + "/input/" + event).c_str(), O_RDONLY | O_CLOEXEC);
            if (g < 0)
                continue;
            if (ioctl(g, EVIOCGRAB, 1) == 0) {
                grabbed.push_back(g);
            } else {
                close(g);
            }
        }
    }
    auto f = std::unique_ptr<HidrawFile>(new (std::nothrow) HidrawFile(
        fd, std::move(parse.collections[index]), sysfs_, name, std::move(grabbed)));
    if (f == nullptr) {
        close(fd);
        SetLastErrorCode(kErrorNotEnoughMemory);
    }
    return f;
}

std::vector<std::string> HidrawBackend::InterfacePaths(const std::string& node) const {
    std::vector<std::string> out;
    // A node that is not offered says why, once each time it is looked at (plugged).
    const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, "qmhidsrv: skipped %s: cannot be opened: %s\n", node.c_str(),
                     std::strerror(errno));
        return out;
    }
    std::vector<uint8_t> descriptor;
    const bool read = ReadDescriptor(fd, descriptor);
    close(fd);
    if (!read) {
        std::fprintf(stderr, "qmhidsrv: skipped %s: its report descriptor cannot be read\n",
                     node.c_str());
        return out;
    }
    const HidDescriptorParse parse = ParseReportDescriptor(descriptor.data(), descriptor.size());
    if (!parse.ok) {
        std::fprintf(stderr, "qmhidsrv: skipped %s: report descriptor refused: %s\n", node.c_str(),
                     parse.error.c_str());
        return out;
    }
    if (parse.collections.size() == 1) {
        out.push_back(node);
        return out;
    }
    for (size_t i = 0; i < parse.collections.size() && i < 99; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "&col%02zu", i + 1);
        out.push_back(node + suffix);
    }
    return out;
}

bool ReadHidrawString(const std::string& sysfs, const std::string& nodeName, HidStringKind kind,
                      std::u16string& out) {
    const std::string hidDevice = sysfs + "/class/hidraw/" + nodeName + "/device";
    std::string uevent;
    std::ifstream in(hidDevice + "/uevent");
    if (!in)
        return false;
    std::string name, uniq;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("HID_NAME=", 0) == 0)
            name = line.substr(9);
        if (line.rfind("HID_UNIQ=", 0) == 0)
            uniq = line.substr(9);
    }
    // A USB parent: the HID device's folder sits in the interface's, which sits in the
    // device's; the device's folder has the string attributes.
    static const char* const kAttributes[3] = {"manufacturer", "product", "serial"};
    const char* attribute = kAttributes[static_cast<int>(kind)];
    for (const char* up : {"/../.."}) {
        std::string value;
        if (ReadLine(hidDevice + up + "/idVendor", value)) {
            out = ReadLine(hidDevice + up + "/" + attribute, value) ? FromUtf8(value) : u"";
            return true;
        }
    }
    switch (kind) {
        case HidStringKind::Manufacturer:
            out.clear();
            break;
        case HidStringKind::Product:
            out = FromUtf8(name);
            break;
        default:
            out = FromUtf8(uniq);
            break;
    }
    return true;
}

std::vector<std::string> KernelEventNodes(const std::string& sysfs, const std::string& nodeName) {
    std::vector<std::string> out;
    const std::string inputDir = sysfs + "/class/hidraw/" + nodeName + "/device/input";
    DIR* d = opendir(inputDir.c_str());
    if (d == nullptr)
        return out;
    while (const dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, "input", 5) != 0)
            continue;
        DIR* inner = opendir((inputDir + "/" + e->d_name).c_str());
        if (inner == nullptr)
            continue;
        while (const dirent* f = readdir(inner))
            if (std::strncmp(f->d_name, "event", 5) == 0)
                out.emplace_back(f->d_name);
        closedir(inner);
    }
    closedir(d);
    return out;
}

}  // namespace qm
