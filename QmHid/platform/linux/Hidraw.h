// HID devices through the kernel's hidraw nodes. A node whose descriptor has several top-level
// collections is one interface per collection, as Windows presents it: "/dev/hidraw0&col01",
// "&col02", ...; a node with one collection is its plain path. Each interface's file sees only
// its collection's reports, as a Windows read returns them (report ID first, 0 without IDs).
// A file opened for reading takes the kernel's own input nodes of the device for itself
// (EVIOCGRAB) and lets them go when it closes, so that strokes do not arrive twice.
#pragma once

#include <string>
#include <vector>

#include "platform/Hid.h"

namespace qm {

class HidrawBackend final : public IHidBackend {
public:
    // sysfs and /dev roots are parameters so that tests can lay out a tree of their own.
    explicit HidrawBackend(std::string sysfs = "/sys", std::string dev = "/dev")
        : sysfs_(std::move(sysfs)), dev_(std::move(dev)) {}

    std::unique_ptr<IHidFile> Open(const char* path, HidOpenMode mode) override;

    // The interface paths of one hidraw node (its /dev path); empty when its descriptor cannot
    // be read or parsed.
    std::vector<std::string> InterfacePaths(const std::string& node) const;

private:
    std::string sysfs_;
    std::string dev_;
};

// The strings of a hidraw node from sysfs: the USB parent's manufacturer, product and serial
// attributes where there is one; otherwise the product from HID_NAME, the serial from HID_UNIQ
// and an empty manufacturer. False when the node has no device in sysfs.
bool ReadHidrawString(const std::string& sysfs, const std::string& nodeName, HidStringKind kind,
                      std::u16string& out);

// The event nodes (/dev/input/eventN names, "eventN") of the input devices that the kernel made
// for a hidraw node's HID device.
std::vector<std::string> KernelEventNodes(const std::string& sysfs, const std::string& nodeName);

}  // namespace qm
