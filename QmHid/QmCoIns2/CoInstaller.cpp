#include "QmCoIns2/CoInstaller.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace qm::coins {

namespace {

constexpr const char* kMarker = "QUILLMARK";
constexpr const char* kSetupMutex = "QMI Setup Active";
constexpr const char* kShortcutName = "Corvale Office Pen Buttons";
constexpr const char* kTabletService = "QmHidSrv";
constexpr const char* kButtonService = "QmBtnSrv";
constexpr const char* kInstallArgument = "/Install";
constexpr const char* kCalibrationProgram = "QmHidCal.exe";
constexpr const char* kButtonWindowClass = "QMOFFICEWND";
constexpr uint32_t kServiceWaitMs = 5000;
constexpr uint32_t kStatePollMs = 500;
constexpr uint32_t kExistencePollMs = 200;
constexpr uint32_t kButtonApplicationWaitMs = 5000;
constexpr size_t kIdChars = 260;
constexpr size_t kScanIdChars = 1024;
constexpr size_t kPathChars = 260;

void UpperCase(char* s) {
    for (; *s != 0; ++s)
        if (*s >= 'a' && *s <= 'z')
            *s = static_cast<char>(*s - 'a' + 'A');
}

// "107B&": the subsystem vendor as upper-case hexadecimal and the ampersand, made on first use.
const char* SubsystemVendorText() {
    static char text[8] = {};
    if (text[0] == 0)
        std::snprintf(text, sizeof text, "%X&", 0x107Bu);
    return text;
}

bool Before(uint32_t now, uint32_t limit) {
    return static_cast<int32_t>(now - limit) < 0;
}

}  // namespace

// The 224 bytes of "Serial Pen Tablet (3310)", as they stand.
const uint8_t kLinearityData[kLinearitySize] = {
    0xE0, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x80, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x04, 0x00,
    0x66, 0x01, 0x55, 0x01, 0x54, 0x05, 0x6A, 0x05, 0x66, 0x1A, 0x55, 0x01, 0x70, 0x1C, 0xF6, 0x04,
    0x66, 0x33, 0x55, 0x01, 0x27, 0x34, 0x06, 0x05, 0x66, 0x4C, 0x55, 0x01, 0xB7, 0x4B, 0xA3, 0x04,
    0x66, 0x65, 0x55, 0x01, 0x73, 0x63, 0x61, 0x04, 0x66, 0x7E, 0x55, 0x01, 0x83, 0x7A, 0x86, 0x04,
    0x66, 0x01, 0x00, 0x2B, 0xE6, 0x04, 0xF9, 0x2B, 0x66, 0x1A, 0x00, 0x2B, 0x91, 0x1C, 0xD8, 0x2B,
    0x66, 0x33, 0x00, 0x2B, 0x21, 0x34, 0xE0, 0x2B, 0x66, 0x4C, 0x00, 0x2B, 0xC2, 0x4B, 0xC8, 0x2B,
    0x66, 0x65, 0x00, 0x2B, 0x62, 0x63, 0x8A, 0x2B, 0x66, 0x7E, 0x00, 0x2B, 0x2D, 0x7B, 0xCC, 0x2B,
    0x66, 0x01, 0xAA, 0x54, 0x7A, 0x05, 0x09, 0x52, 0x66, 0x1A, 0xAA, 0x54, 0x7C, 0x1C, 0x2E, 0x52,
    0x66, 0x33, 0xAA, 0x54, 0x1A, 0x34, 0x19, 0x52, 0x66, 0x4C, 0xAA, 0x54, 0x8F, 0x4B, 0x11, 0x52,
    0x66, 0x65, 0xAA, 0x54, 0x37, 0x63, 0x01, 0x52, 0x66, 0x7E, 0xAA, 0x54, 0x23, 0x7B, 0x15, 0x52,
    0x66, 0x01, 0x55, 0x7E, 0x75, 0x05, 0x63, 0x78, 0x66, 0x1A, 0x55, 0x7E, 0x96, 0x1C, 0x3E, 0x78,
    0x66, 0x33, 0x55, 0x7E, 0x33, 0x34, 0x25, 0x78, 0x66, 0x4C, 0x55, 0x7E, 0xBF, 0x4B, 0x2D, 0x78,
    0x66, 0x65, 0x55, 0x7E, 0x5D, 0x63, 0x00, 0x78, 0x66, 0x7E, 0x55, 0x7E, 0xCA, 0x7A, 0xA9, 0x77,
};

uint32_t ClassifyPlatform(ICoInstallerOs& os) {
    VersionInfo v;
    bool extended = true;
    if (!os.ReadVersion(true, v)) {
        extended = false;
        v = VersionInfo{};
        if (!os.ReadVersion(false, v))
            return 0;
    }
    uint32_t flags = 0;
    if (v.platformId != kVerPlatformWin32Nt)
        return flags;
    if (!extended) {
        if (!os.ReadProductType())
            return 0;
        v.productType = 0;  // the basic form carries no product type
    }
    if (v.major == 5 && v.minor == 1) {
        uint32_t installed = 0;
        if (os.ReadTabletPcInstalled(installed) == 1 && installed != 0)
            flags |= kTabletCapable;
    } else if (v.major == 6 && v.minor == 0 && v.productType == kVerNtWorkstation) {
        flags |= kTabletCapable;
    }
    return flags;
}

bool MatchesPciSubsystemVendor(const char* id) {
    if (std::strlen(id) < 38)
        return false;
    return std::strncmp(id, "PCI\\VEN_", 8) == 0 && std::strncmp(id + 12, "&DEV_", 5) == 0 &&
           std::strncmp(id + 21, "&SUBSYS_", 8) == 0 &&
           std::strncmp(id + 33, SubsystemVendorText(), 5) == 0;
}

// Depth-first, a devnode before its children, ending at the first match. The walk keeps one
// identifier buffer and climbs back through the parents instead of recursing, so its stack
// use does not grow with the depth of the tree.
bool FindPciSubsystemVendor(ICoInstallerOs& os, DevNode start) {
    char id[kScanIdChars];
    DevNode node = start;
    for (;;) {
        if (os.GetDeviceId(node, id, sizeof id)) {
            id[sizeof id - 1] = 0;
            UpperCase(id);
            if (MatchesPciSubsystemVendor(id))
                return true;
        }
        DevNode next = 0;
        if (os.GetChild(node, next)) {
            node = next;
            continue;
        }
        // No child: the next sibling, else the sibling of the nearest ancestor that has one.
        for (;;) {
            if (node == start)
                return false;
            if (os.GetSibling(node, next)) {
                node = next;
                break;
            }
            if (!os.GetParent(node, next))
                return false;
            node = next;
        }
    }
}

void WriteLinearityData(ICoInstallerOs& os) {
    if ((ClassifyPlatform(os) & kTabletCapable) == 0)
        return;
    DevNode root = 0;
    if (!os.LocateRoot(root))
        return;
    if (!FindPciSubsystemVendor(os, root))
        return;
    os.WriteLinearityValue(kLinearityData, sizeof kLinearityData);
}

bool WaitForServiceState(ICoInstallerOs& os, Handle service, uint32_t state) {
    const uint32_t limit = os.TickCount() + kServiceWaitMs;
    while (Before(os.TickCount(), limit)) {
        uint32_t current = 0;
        if (os.QueryServiceState(service, current)) {
            if (current == state)
                return true;
        } else if (os.LastError() != kErrorIoPending) {
            return false;
        }
        os.Sleep(kStatePollMs);
    }
    return false;
}

bool InstallAndStartService(ICoInstallerOs& os, Handle manager, const char* name) {
    if (!os.Execute(name, kInstallArgument, false, false))
        return false;
    const uint32_t limit = os.TickCount() + kServiceWaitMs;
    Handle service = 0;
    while ((service = os.OpenServiceByName(manager, name, kServiceQueryStatus)) == 0) {
        if (!Before(os.TickCount(), limit))
            return false;
        os.Sleep(kExistencePollMs);
    }
    const bool running = WaitForServiceState(os, service, kServiceRunning);
    os.CloseService(service);
    return running;
}

bool StopAndDeleteService(ICoInstallerOs& os, Handle manager, const char* name) {
    const Handle service = os.OpenServiceByName(manager, name, kServiceAllAccess);
    if (service == 0)
        return os.LastError() == kErrorServiceDoesNotExist;
    bool ok = true;
    bool awaitGone = false;
    if (!os.StopService(service) && os.LastError() != kErrorServiceNotActive) {
        ok = false;
    } else if (!WaitForServiceState(os, service, kServiceStopped)) {
        ok = false;
    } else if (os.RemoveService(service)) {
        awaitGone = true;
    } else if (os.LastError() != kErrorServiceMarkedForDelete) {
        ok = false;
    }
    os.CloseService(service);
    if (!ok || !awaitGone)
        return ok;
    const uint32_t limit = os.TickCount() + kServiceWaitMs;
    for (;;) {
        const Handle again = os.OpenServiceByName(manager, name, kServiceQueryStatus);
        if (again == 0)
            return true;
        os.CloseService(again);
        if (!Before(os.TickCount(), limit))
            return false;
        os.Sleep(kExistencePollMs);
    }
}

bool CloseButtonApplication(ICoInstallerOs& os, const char* shortcutName) {
    bool result = true;
    uint32_t processId = 0;
    uintptr_t window = 0;
    if (os.FindWindowProcess(kButtonWindowClass, processId, window)) {
        const Handle process = os.OpenProcessForWait(processId);
        os.PostQuit(window);
        if (process != 0) {
            result = os.WaitProcess(process, kButtonApplicationWaitMs);
            os.CloseProcess(process);
        }
    }
    char folder[kPathChars];
    if (!os.CommonStartupFolder(folder, sizeof folder))
        return result;
    char path[kPathChars];
    const int n = std::snprintf(path, sizeof path, "%s\\%s.lnk", folder, shortcutName);
    // A path that does not fit its buffer is not cut short: the deletion counts as failed.
    if (n < 0 || static_cast<size_t>(n) >= sizeof path)
        return false;
    return os.RemoveFile(path) || os.LastError() == kErrorFileNotFound;
}

bool RemoveChildDevices(ICoInstallerOs& os, DevNode parent) {
    bool ok = true;
    DevNode first = 0;
    if (os.GetChild(parent, first)) {
        size_t count = 1;
        for (DevNode n = first, next = 0; os.GetSibling(n, next); n = next)
            ++count;
        std::vector<std::vector<char>> ids;
        try {
            ids.resize(count);
        } catch (const std::bad_alloc&) {
            return false;
        }
        DevNode node = first;
        for (size_t i = 0; i < count; ++i) {
            char id[kIdChars];
            if (os.GetDeviceId(node, id, sizeof id)) {
                id[sizeof id - 1] = 0;
                ids[i].assign(id, id + std::strlen(id) + 1);
            }
            DevNode next = 0;
            if (!os.GetSibling(node, next))
                break;
            node = next;
        }
        // The identifiers are all read before any child goes.
        for (const std::vector<char>& id : ids) {
            if (id.empty())
                continue;
            if (!os.RemoveDevice(id.data()))
                ok = false;
        }
    }
    os.Reenumerate(parent);
    return ok;
}

void RunCalibration(ICoInstallerOs& os, const char* instanceId) {
    os.Execute(kCalibrationProgram, instanceId, true, true);
}

uint32_t PreInstallDevice(ICoInstallerOs& os) {
    const Handle manager = os.OpenServiceManager();
    bool ok = manager != 0;
    if (ok) {
        if (!CloseButtonApplication(os, kShortcutName))
            ok = false;
        if (!StopAndDeleteService(os, manager, kTabletService))
            ok = false;
        if (!StopAndDeleteService(os, manager, kButtonService))
            ok = false;
        os.CloseService(manager);
    }
    WriteLinearityData(os);
    return ok ? kPostProcessingRequired : os.LastError();
}

uint32_t PostInstallDevice(ICoInstallerOs& os, DevNode device) {
    const bool com = os.InitializeCom();
    uint32_t result = kNoError;
    const bool tabletCapable = (ClassifyPlatform(os) & kTabletCapable) != 0;
    if (device != 0)
        RemoveChildDevices(os, device);
    const Handle manager = os.OpenServiceManager();
    if (manager == 0) {
        result = os.LastError();
    } else {
        const bool ok = tabletCapable || InstallAndStartService(os, manager, kTabletService);
        os.CloseService(manager);
        if (!ok) {
            result = os.LastError();
        } else if (!tabletCapable && device != 0) {
            char id[kIdChars];
            if (os.GetDeviceId(device, id, sizeof id)) {
                id[sizeof id - 1] = 0;
                RunCalibration(os, id);
            }
        }
    }
    if (com)
        os.UninitializeCom();
    return result;
}

bool HasPenDeviceParent(ICoInstallerOs& os, DevNode device) {
    DevNode parent = 0;
    if (!os.GetParent(device, parent))
        return false;
    char buffer[kIdChars];
    if (!os.GetDeviceId(parent, buffer, sizeof buffer))
        return false;
    buffer[sizeof buffer - 1] = 0;
    char id[kIdChars];
    std::memcpy(id, buffer, sizeof id);
    if (!os.ReadManufacturer(id, buffer, sizeof buffer))
        return false;
    buffer[sizeof buffer - 1] = 0;
    UpperCase(buffer);
    return std::strstr(buffer, kMarker) != nullptr;
}

bool IsSetupActive(ICoInstallerOs& os) {
    return os.MutexExists(kSetupMutex);
}

uint32_t UninstallSoftware(ICoInstallerOs& os) {
    CloseButtonApplication(os, kShortcutName);
    const Handle manager = os.OpenServiceManager();
    if (manager != 0) {
        StopAndDeleteService(os, manager, kTabletService);
        StopAndDeleteService(os, manager, kButtonService);
        os.CloseService(manager);
    }
    return kNoError;
}

uint32_t ClassInstaller(ICoInstallerOs& os, uint32_t installFunction, bool hasDeviceData,
                        DevNode device) {
    if (!hasDeviceData)
        return kNoError;
    if (!HasPenDeviceParent(os, device))
        return kNoError;
    if (installFunction == kDifRemove)
        UninstallSoftware(os);
    return kNoError;
}

uint32_t DeviceInstaller(ICoInstallerOs& os, uint32_t installFunction, bool hasDeviceData,
                         DevNode device, bool postProcessing) {
    if (installFunction != kDifInstallDevice)
        return kNoError;
    if (IsSetupActive(os))
        return kNoError;
    if (postProcessing)
        return PostInstallDevice(os, hasDeviceData ? device : 0);
    return PreInstallDevice(os);
}

}  // namespace qm::coins
