// The hidraw backend's reading of sysfs, on trees laid out as the kernel lays them out: a USB
// pen (strings from the USB device), a uhid or I2C pen (strings from the HID device's uevent),
// and the input nodes the kernel made for it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/linux/Hidraw.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class SysfsTree : public testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qmhid-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
    }
    void TearDown() override { fs::remove_all(root_); }

    // A HID device folder at `hid` (below root) named by /class/hidraw/NODE/device.
    void AddHid(const std::string& node, const std::string& hid, const std::string& uevent) {
        fs::create_directories(root_ / hid);
        std::ofstream(root_ / hid / "uevent") << uevent;
        fs::create_directories(root_ / "class/hidraw" / node);
        fs::create_symlink(root_ / hid, root_ / "class/hidraw" / node / "device");
    }
    void Put(const std::string& file, const std::string& text) {
        fs::create_directories((root_ / file).parent_path());
        std::ofstream(root_ / file) << text << "\n";
    }
    std::u16string Read(const std::string& node, HidStringKind kind) {
        std::u16string s = u"unset";
        EXPECT_TRUE(ReadHidrawString(root_.string(), node, kind, s));
        return s;
    }

    fs::path root_;
};

TEST_F(SysfsTree, AUsbPenTakesTheUsbDevicesStrings) {
    const std::string usb = "devices/pci0000:00/usb1/1-1";
    AddHid("hidraw0", usb + "/1-1:1.0/0003:1234:5678.0001",
           "DRIVER=hid-generic\nHID_NAME=Raw Name\nHID_UNIQ=raw-uniq\n");
    Put(usb + "/idVendor", "1234");
    Put(usb + "/manufacturer", "QUILLMARK Inc.");
    Put(usb + "/product", "Pen \xC3\xA9");  // UTF-8 in sysfs, UTF-16 out
    EXPECT_EQ(Read("hidraw0", HidStringKind::Manufacturer), u"QUILLMARK Inc.");
    EXPECT_EQ(Read("hidraw0", HidStringKind::Product), u"Pen \u00E9");
    EXPECT_EQ(Read("hidraw0", HidStringKind::SerialNumber), u"");  // no serial attribute
}

TEST_F(SysfsTree, WithoutAUsbParentTheHidNameAndUniq) {
    AddHid("hidraw1", "devices/virtual/misc/uhid/0003:03EB:840B.0002",
           "DRIVER=hid-generic\nHID_ID=0003:000003EB:0000840B\nHID_NAME=QUILLMARK Pen\n"
           "HID_UNIQ=QM-0001\n");
    EXPECT_EQ(Read("hidraw1", HidStringKind::Manufacturer), u"");
    EXPECT_EQ(Read("hidraw1", HidStringKind::Product), u"QUILLMARK Pen");
    EXPECT_EQ(Read("hidraw1", HidStringKind::SerialNumber), u"QM-0001");
}

TEST_F(SysfsTree, ANodeWithoutADeviceHasNoStrings) {
    std::u16string s;
    EXPECT_FALSE(ReadHidrawString(root_.string(), "hidraw9", HidStringKind::Product, s));
}

TEST_F(SysfsTree, TheKernelsInputNodesOfTheDevice) {
    const std::string hid = "devices/virtual/misc/uhid/0003:03EB:840B.0003";
    AddHid("hidraw2", hid, "HID_NAME=Pen\n");
    fs::create_directories(root_ / hid / "input/input7/event4");
    fs::create_directories(root_ / hid / "input/input7/mouse1");  // not an event node
    fs::create_directories(root_ / hid / "input/input8/event5");
    std::vector<std::string> nodes = KernelEventNodes(root_.string(), "hidraw2");
    std::sort(nodes.begin(), nodes.end());
    EXPECT_EQ(nodes, (std::vector<std::string>{"event4", "event5"}));
    EXPECT_TRUE(KernelEventNodes(root_.string(), "hidraw9").empty());
}

TEST(HidrawBackend, PathsThatNameNoNodeAreRefused) {
    HidrawBackend backend("/nonexistent-sys", "/nonexistent-dev");
    for (const char* path : {"/nonexistent-dev/hidraw0", "/dev/hidraw0&col", "/dev/hidraw0&col00",
                             "/dev/hidraw0&colxx"}) {
        EXPECT_EQ(backend.Open(path, HidOpenMode::Query), nullptr) << path;
    }
    EXPECT_TRUE(backend.InterfacePaths("/nonexistent-dev/hidraw0").empty());
}

}  // namespace
}  // namespace qm
