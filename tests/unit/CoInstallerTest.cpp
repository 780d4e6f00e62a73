// The co-installer's decisions against a small fake of the Windows calls they make.
#include "QmCoIns2/CoInstaller.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/FakeCoInstallerOs.h"

namespace qm::coins {
namespace {

using test::FakeCoInstallerOs;

uint16_t Le16(size_t offset) {
    return static_cast<uint16_t>(kLinearityData[offset] | kLinearityData[offset + 1] << 8);
}

// The linearity value against the arrangement it is known to have, not against another copy.
TEST(Linearity, TheValueHasItsKnownArrangement) {
    EXPECT_EQ(Le16(0) | Le16(2) << 16, 224);
    EXPECT_EQ(Le16(4) | Le16(6) << 16, 2);
    EXPECT_EQ(Le16(16) | Le16(18) << 16, 32768);
    EXPECT_EQ(Le16(20) | Le16(22) << 16, 32768);
    EXPECT_EQ(Le16(28), 6);
    EXPECT_EQ(Le16(30), 4);
    const int firsts[6] = {358, 6758, 13158, 19558, 25958, 32358};
    const int seconds[4] = {341, 11008, 21674, 32341};
    for (int g = 0; g < 24; ++g) {
        const size_t o = 32 + 8 * static_cast<size_t>(g);
        EXPECT_EQ(Le16(o), firsts[g % 6]) << g;  // the first varies fastest
        EXPECT_EQ(Le16(o + 2), seconds[g / 6]) << g;
        EXPECT_LT(std::abs(Le16(o + 4) - Le16(o)), 2048) << g;  // near the first and second
        EXPECT_LT(std::abs(Le16(o + 6) - Le16(o + 2)), 2048) << g;
    }
}

struct Platform {
    const char* name;
    bool extended, basic, productType;
    VersionInfo version;
    int tabletPcRead;
    uint32_t tabletPcValue;
    uint32_t flags;
};

const Platform kPlatforms[] = {
    {"xp_installed_missing", true, true, true, {2, 5, 1, 1}, 0, 0, 0},
    {"xp_no_tabletpc_key", true, true, true, {2, 5, 1, 1}, -1, 0, 0},
    {"xp_installed_0", true, true, true, {2, 5, 1, 1}, 1, 0, 0},
    {"xp_installed_nonzero", true, true, true, {2, 5, 1, 1}, 1, 0x100, kTabletCapable},
    {"xp_installed_too_long", true, true, true, {2, 5, 1, 1}, 0, 0, 0},
    {"xp_server_installed", true, true, true, {2, 5, 1, 3}, 1, 1, kTabletCapable},
    {"vista_workstation", true, true, true, {2, 6, 0, 1}, -1, 0, kTabletCapable},
    {"vista_server", true, true, true, {2, 6, 0, 3}, -1, 0, 0},
    {"windows7", true, true, true, {2, 6, 1, 1}, 1, 1, 0},
    {"windows10", true, true, true, {2, 10, 0, 1}, 1, 1, 0},
    {"not_nt", true, true, true, {1, 5, 1, 1}, 1, 1, 0},
    {"version_unreadable", false, false, true, {2, 6, 0, 1}, 1, 1, 0},
    {"basic_form_vista", false, true, true, {2, 6, 0, 1}, -1, 0, 0},
    {"basic_form_product_type_unreadable", false, true, false, {2, 5, 1, 1}, 1, 1, 0},
    {"basic_form_xp_installed", false, true, true, {2, 5, 1, 1}, 1, 1, kTabletCapable},
};

class Classify : public testing::TestWithParam<Platform> {};

TEST_P(Classify, TabletCapableOnlyWhereWindowsHasPenSupport) {
    const Platform& p = GetParam();
    FakeCoInstallerOs os;
    os.extendedReadable = p.extended;
    os.basicReadable = p.basic;
    os.productTypeReadable = p.productType;
    os.version = p.version;
    os.tabletPcRead = p.tabletPcRead;
    os.tabletPcValue = p.tabletPcValue;
    EXPECT_EQ(ClassifyPlatform(os) & kTabletCapable, p.flags);
}

INSTANTIATE_TEST_SUITE_P(Cases, Classify, testing::ValuesIn(kPlatforms),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PciPattern, SubsystemVendor107BFollowedByItsAmpersand) {
    struct Case {
        const char* id;
        bool match;
    };
    const Case cases[] = {
        {"PCI\\VEN_8086&DEV_1234&SUBSYS_0001107B&REV_01\\3&11583659&0&10", true},
        {"PCI\\VEN_FFFF&DEV_0000&SUBSYS_ABCD107B&REV_FF", true},
        {"PCI\\VEN_8086&DEV_1234&SUBSYS_107B0001&REV_01\\3&1", false},  // the device part
        {"PCI\\VEN_8086&DEV_1234&SUBSYS_0001107B&", true},              // 38 characters
        {"PCI\\VEN_8086&DEV_1234&SUBSYS_0001107B", false},              // 37 characters
        {"PCI\\VEN_8086&DEV_1234&SUBSYS_0001107C&REV_01", false},
        {"USB\\VEN_8086&DEV_1234&SUBSYS_0001107B&REV_01", false},
        {"HTREE\\ROOT\\0", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesPciSubsystemVendor(c.id), c.match) << c.id;
}

TEST(PciScan, FindsAMatchAnywhereBelowTheRootInAnyCase) {
    FakeCoInstallerOs os;
    const DevNode acpi = os.Add(1, "ACPI_HAL\\PNP0C08\\0");
    const DevNode pci = os.Add(acpi, "ACPI\\PNP0A03\\0");
    os.Add(pci, "PCI\\VEN_8086&DEV_0001&SUBSYS_00000000&REV_00\\1");
    EXPECT_FALSE(FindPciSubsystemVendor(os, 1));
    const DevNode deep = os.Add(os.Add(pci, "PCI\\VEN_8086&DEV_0002&SUBSYS_00000000&REV_00\\2"),
                                "pci\\ven_104c&dev_8019&subsys_0001107b&rev_00\\4&1");
    (void)deep;
    EXPECT_TRUE(FindPciSubsystemVendor(os, 1));
    FakeCoInstallerOs other;
    other.nodes[1].id = "PCI\\VEN_8086&DEV_1234&SUBSYS_0001107B&REV_01\\root";
    EXPECT_TRUE(FindPciSubsystemVendor(other, 1));  // the root's own identifier counts too
}

TEST(PciScan, ADeepTreeDoesNotDeepenTheStack) {
    FakeCoInstallerOs os;
    DevNode node = 1;
    for (int i = 0; i < 20000; ++i)
        node = os.Add(node, "ROOT\\LEGACY\\" + std::to_string(i));
    EXPECT_FALSE(FindPciSubsystemVendor(os, 1));
    os.Add(node, "PCI\\VEN_1&DE\\x");  // too short
    os.Add(node, "PCI\\VEN_8086&DEV_1234&SUBSYS_0001107B&REV_01\\last");
    EXPECT_TRUE(FindPciSubsystemVendor(os, 1));
}

TEST(WriteLinearity, OnlyOnATabletCapableWindowsOfAMatchingMachine) {
    FakeCoInstallerOs notCapable;
    notCapable.nodes[1].id = "PCI\\VEN_8086&DEV_1234&SUBSYS_0001107B&REV_01\\root";
    WriteLinearityData(notCapable);
    EXPECT_TRUE(notCapable.linearityWrites.empty());
    EXPECT_EQ(notCapable.idReads, 0);  // the tree is not scanned

    FakeCoInstallerOs noMatch;
    noMatch.version = {2, 6, 0, 1};
    noMatch.Add(1, "PCI\\VEN_8086&DEV_1234&SUBSYS_00011234&REV_01\\x");
    WriteLinearityData(noMatch);
    EXPECT_TRUE(noMatch.linearityWrites.empty());

    FakeCoInstallerOs match;
    match.version = {2, 6, 0, 1};
    match.Add(1, "PCI\\VEN_8086&DEV_1234&SUBSYS_0001107B&REV_01\\x");
    WriteLinearityData(match);
    ASSERT_EQ(match.linearityWrites.size(), 1u);
    EXPECT_EQ(match.linearityWrites[0],
              std::vector<uint8_t>(kLinearityData, kLinearityData + kLinearitySize));
}

struct ServiceCase {
    const char* name;
    bool exists;
    uint32_t state;
    int stopAfterPolls;
    bool markedForDelete;
    int goneAfterPolls;
    bool result;
    bool deleted;
    uint32_t maxElapsed;
};

const ServiceCase kServiceCases[] = {
    {"does_not_exist", false, 0, 0, false, 0, true, false, 0},
    {"running_stops", true, kServiceRunning, 2, false, 1, true, true, 1500},
    {"already_stopped", true, kServiceStopped, 0, false, 0, true, true, 200},
    {"marked_for_deletion", true, kServiceRunning, 0, true, 0, true, false, 0},
    {"stops_late", true, kServiceRunning, 8, false, 0, true, true, 5000},
    {"never_stops", true, kServiceRunning, -1, false, 0, false, false, 5500},
    {"never_disappears", true, kServiceRunning, 0, false, -1, false, true, 5500},
};

class StopAndDelete : public testing::TestWithParam<ServiceCase> {};

TEST_P(StopAndDelete, WaitsWithinItsBoundsAndClosesEveryHandle) {
    const ServiceCase& c = GetParam();
    FakeCoInstallerOs os;
    if (c.exists) {
        test::FakeService s;
        s.state = c.state;
        s.stopAfterPolls = c.stopAfterPolls;
        s.markedForDelete = c.markedForDelete;
        s.goneAfterPolls = c.goneAfterPolls;
        os.services["QmBtnSrv"] = s;
    }
    const Handle manager = os.OpenServiceManager();
    const uint32_t start = os.now;
    EXPECT_EQ(StopAndDeleteService(os, manager, "QmBtnSrv"), c.result);
    EXPECT_LE(os.now - start, c.maxElapsed);
    if (c.exists) {
        EXPECT_EQ(os.services["QmBtnSrv"].deleted, c.deleted);
    }
    os.CloseService(manager);
    EXPECT_TRUE(os.open.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, StopAndDelete, testing::ValuesIn(kServiceCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(InstallAndStart, TheServiceAppearsAndRuns) {
    FakeCoInstallerOs os;
    os.serviceAppearsAfterMs = 1000;
    os.serviceRunsAfterMs = 1000;
    const Handle manager = os.OpenServiceManager();
    EXPECT_TRUE(InstallAndStartService(os, manager, "QmHidSrv"));
    ASSERT_EQ(os.runs.size(), 1u);
    EXPECT_EQ(os.runs[0].file, "QmHidSrv");
    EXPECT_EQ(os.runs[0].parameters, "/Install");
    EXPECT_FALSE(os.runs[0].show);
    EXPECT_FALSE(os.runs[0].wait);
    os.CloseService(manager);
    EXPECT_TRUE(os.open.empty());
}

TEST(InstallAndStart, AServiceNeverCreatedFailsAfterAbout5000Ms) {
    FakeCoInstallerOs os;
    os.serviceAppearsAfterMs = -1;
    const Handle manager = os.OpenServiceManager();
    const uint32_t start = os.now;
    EXPECT_FALSE(InstallAndStartService(os, manager, "QmHidSrv"));
    EXPECT_GE(os.now - start, 5000u);
    EXPECT_LE(os.now - start, 5200u);
    for (uint32_t s : os.sleeps)
        EXPECT_EQ(s, 200u);
}

TEST(InstallAndStart, AServiceThatNeverRunsFails) {
    FakeCoInstallerOs os;
    os.serviceRunsAfterMs = -1;
    const Handle manager = os.OpenServiceManager();
    EXPECT_FALSE(InstallAndStartService(os, manager, "QmHidSrv"));
    for (uint32_t s : os.sleeps)
        EXPECT_EQ(s, 500u);
    os.CloseService(manager);
    EXPECT_TRUE(os.open.empty());
}

TEST(ButtonApplication, WindowAndShortcutDecideTogether) {
    const std::string lnk = "C:\\ProgramData\\Startup\\Corvale Office Pen Buttons.lnk";
    {
        FakeCoInstallerOs os;  // no window, no shortcut
        EXPECT_TRUE(CloseButtonApplication(os, "Corvale Office Pen Buttons"));
        EXPECT_EQ(os.deletions, std::vector<std::string>{lnk});
    }
    {
        FakeCoInstallerOs os;  // a window that ends on WM_QUIT and a shortcut
        os.buttonWindow = true;
        os.files = {lnk};
        EXPECT_TRUE(CloseButtonApplication(os, "Corvale Office Pen Buttons"));
        EXPECT_EQ(os.quitsPosted, 1);
        EXPECT_TRUE(os.files.empty());
        EXPECT_TRUE(os.open.empty());
    }
    {
        FakeCoInstallerOs os;  // ignores WM_QUIT: the shortcut's deletion decides
        os.buttonWindow = true;
        os.buttonEndsOnQuit = false;
        EXPECT_TRUE(CloseButtonApplication(os, "Corvale Office Pen Buttons"));
        os.startupKnown = false;
        EXPECT_FALSE(CloseButtonApplication(os, "Corvale Office Pen Buttons"));
    }
    {
        FakeCoInstallerOs os;  // a path that does not fit its buffer: a failed deletion
        os.startupFolder = std::string(240, 'x');
        EXPECT_FALSE(CloseButtonApplication(os, "Corvale Office Pen Buttons"));
        EXPECT_TRUE(os.deletions.empty());
    }
}

TEST(ChildDevices, IdentifiersFirstThenRemovalsThenReenumeration) {
    FakeCoInstallerOs none;
    const DevNode lonely = none.Add(1, "HID\\PEN\\1");
    EXPECT_TRUE(RemoveChildDevices(none, lonely));
    EXPECT_EQ(none.reenumerated, std::vector<DevNode>{lonely});

    FakeCoInstallerOs os;
    const DevNode pen = os.Add(1, "ACPI\\PEN\\0");
    os.Add(pen, "HID\\CHILD\\1");
    const DevNode unreadable = os.Add(pen, "HID\\CHILD\\2");
    os.nodes[unreadable].idReadable = false;
    os.Add(pen, "HID\\CHILD\\3");
    EXPECT_TRUE(RemoveChildDevices(os, pen));  // the unreadable one is skipped
    EXPECT_EQ(os.removed, (std::vector<std::string>{"HID\\CHILD\\1", "HID\\CHILD\\3"}));
    EXPECT_EQ(os.events,
              (std::vector<std::string>{"read HID\\CHILD\\1", "read HID\\CHILD\\3",
                                        "remove HID\\CHILD\\1", "remove HID\\CHILD\\3"}));
    FakeCoInstallerOs stuck;
    const DevNode p = stuck.Add(1, "ACPI\\PEN\\0");
    stuck.nodes[stuck.Add(p, "HID\\STUCK\\1")].removable = false;
    stuck.Add(p, "HID\\FINE\\2");
    EXPECT_FALSE(RemoveChildDevices(stuck, p));
    EXPECT_EQ(stuck.removed, std::vector<std::string>{"HID\\FINE\\2"});
    EXPECT_EQ(stuck.reenumerated, std::vector<DevNode>{p});
}

// The pen device under a parent whose manufacturer holds the marker.
DevNode PenUnder(FakeCoInstallerOs& os, const std::string& manufacturer) {
    const DevNode parent = os.Add(1, "ACPI\\QMI0001\\0");
    os.nodes[parent].manufacturer = manufacturer;
    return os.Add(parent, "HID\\QMI0001&COL01\\1");
}

TEST(ClassEntry, RemovalOfAProductDeviceRemovesTheSoftware) {
    FakeCoInstallerOs os;
    const DevNode pen = PenUnder(os, "the quillmarker company");  // inside a longer word
    os.services["QmHidSrv"] = test::FakeService{};
    os.services["QmBtnSrv"] = test::FakeService{};
    EXPECT_EQ(ClassInstaller(os, kDifInstallDevice, true, pen), kNoError);
    EXPECT_FALSE(os.services["QmHidSrv"].deleted);
    EXPECT_EQ(ClassInstaller(os, kDifRemove, true, pen), kNoError);
    EXPECT_TRUE(os.services["QmHidSrv"].deleted);
    EXPECT_TRUE(os.services["QmBtnSrv"].deleted);
    EXPECT_EQ(os.deletions.size(), 1u);
    EXPECT_TRUE(os.open.empty());
}

TEST(ClassEntry, OtherDevicesAndMissingDataAreLeftAlone) {
    FakeCoInstallerOs os;
    os.services["QmHidSrv"] = test::FakeService{};
    const DevNode other = PenUnder(os, "Acme");
    EXPECT_EQ(ClassInstaller(os, kDifRemove, true, other), kNoError);
    const DevNode tooLong = PenUnder(os, std::string(255, 'x') + "QUILLMARK");
    EXPECT_EQ(ClassInstaller(os, kDifRemove, true, tooLong), kNoError);
    EXPECT_EQ(ClassInstaller(os, kDifRemove, true, 1), kNoError);  // the root has no parent
    const int reads = os.idReads;
    EXPECT_EQ(ClassInstaller(os, kDifRemove, false, 0), kNoError);
    EXPECT_EQ(os.idReads, reads);  // no device query without device data
    EXPECT_FALSE(os.services["QmHidSrv"].deleted);
}

TEST(DeviceEntry, PreAndPostProcessing) {
    FakeCoInstallerOs os;
    const DevNode pen = PenUnder(os, "QUILLMARK");
    os.Add(pen, "HID\\QMI0001&COL01\\CHILD");
    os.services["QmHidSrv"] = test::FakeService{};
    EXPECT_EQ(DeviceInstaller(os, kDifInstallDevice, true, pen, false), kPostProcessingRequired);
    EXPECT_TRUE(os.services["QmHidSrv"].deleted);
    os.services.clear();
    EXPECT_EQ(DeviceInstaller(os, kDifInstallDevice, true, pen, true), kNoError);
    EXPECT_EQ(os.removed, std::vector<std::string>{"HID\\QMI0001&COL01\\CHILD"});
    ASSERT_EQ(os.runs.size(), 2u);
    EXPECT_EQ(os.runs[1].file, "QmHidCal.exe");
    EXPECT_EQ(os.runs[1].parameters, "HID\\QMI0001&COL01\\1");
    EXPECT_TRUE(os.runs[1].show);
    EXPECT_TRUE(os.runs[1].wait);
    EXPECT_EQ(os.comInits, os.comUninits);
    EXPECT_TRUE(os.open.empty());
}

TEST(DeviceEntry, FiltersAndFailures) {
    FakeCoInstallerOs os;
    const DevNode pen = PenUnder(os, "QUILLMARK");
    for (uint32_t code : {1u, 3u, kDifRemove, 0x1Fu})
        EXPECT_EQ(DeviceInstaller(os, code, true, pen, false), kNoError);
    os.mutexHeld = true;
    EXPECT_EQ(DeviceInstaller(os, kDifInstallDevice, true, pen, false), kNoError);
    EXPECT_EQ(DeviceInstaller(os, kDifInstallDevice, true, pen, true), kNoError);
    EXPECT_TRUE(os.runs.empty());
    EXPECT_TRUE(os.deletions.empty());
    os.mutexHeld = false;
    // The service control manager cannot be opened: its error, and no post-processing.
    os.scmOpens = false;
    os.scmError = 5;
    EXPECT_EQ(DeviceInstaller(os, kDifInstallDevice, true, pen, false), 5u);
    EXPECT_EQ(DeviceInstaller(os, kDifInstallDevice, true, pen, true), 5u);
    // A service that never runs: the last error, and no calibration.
    os.scmOpens = true;
    os.serviceRunsAfterMs = -1;
    os.lastError = 1053;
    EXPECT_EQ(DeviceInstaller(os, kDifInstallDevice, true, pen, true), 1053u);
    for (const auto& run : os.runs)
        EXPECT_NE(run.file, "QmHidCal.exe");
}

TEST(DeviceEntry, ATabletCapableWindowsKeepsThePen) {
    FakeCoInstallerOs os;
    os.version = {2, 6, 0, 1};
    const DevNode pen = PenUnder(os, "QUILLMARK");
    os.Add(pen, "HID\\CHILD\\9");
    EXPECT_EQ(DeviceInstaller(os, kDifInstallDevice, true, pen, true), kNoError);
    EXPECT_TRUE(os.runs.empty());  // neither the service nor the calibration
    EXPECT_EQ(os.removed.size(), 1u);
    EXPECT_EQ(os.reenumerated.size(), 1u);
}

}  // namespace
}  // namespace qm::coins
