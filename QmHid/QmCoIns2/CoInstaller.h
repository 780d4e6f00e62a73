// The co-installer's decisions and actions, over the operating-system calls of ICoInstallerOs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "QmCoIns2/CoInstallerOs.h"

namespace qm::coins {

inline constexpr uint32_t kTabletCapable = 0x10000;
inline constexpr size_t kLinearitySize = 224;
extern const uint8_t kLinearityData[kLinearitySize];

// Platform classification and linearity data.
uint32_t ClassifyPlatform(ICoInstallerOs& os);
bool MatchesPciSubsystemVendor(const char* instanceId);
bool FindPciSubsystemVendor(ICoInstallerOs& os, DevNode node);
void WriteLinearityData(ICoInstallerOs& os);

// Install and removal actions.
bool WaitForServiceState(ICoInstallerOs& os, Handle service, uint32_t state);
bool InstallAndStartService(ICoInstallerOs& os, Handle manager, const char* name);
bool StopAndDeleteService(ICoInstallerOs& os, Handle manager, const char* name);
bool CloseButtonApplication(ICoInstallerOs& os, const char* shortcutName);
bool RemoveChildDevices(ICoInstallerOs& os, DevNode parent);
void RunCalibration(ICoInstallerOs& os, const char* instanceId);
uint32_t PreInstallDevice(ICoInstallerOs& os);
uint32_t PostInstallDevice(ICoInstallerOs& os, DevNode device);

// Entry points' decisions. hasDeviceData: DeviceInfoData was given; devNode is its DevInst.
bool HasPenDeviceParent(ICoInstallerOs& os, DevNode device);
bool IsSetupActive(ICoInstallerOs& os);
uint32_t UninstallSoftware(ICoInstallerOs& os);
uint32_t ClassInstaller(ICoInstallerOs& os, uint32_t installFunction, bool hasDeviceData,
                        DevNode device);
uint32_t DeviceInstaller(ICoInstallerOs& os, uint32_t installFunction, bool hasDeviceData,
                         DevNode device, bool postProcessing);

}  // namespace qm::coins
