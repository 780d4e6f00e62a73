// Settings in the registry key of the device interface, opened through SetupAPI.
#pragma once

#include "platform/SettingsStore.h"

namespace qm {

class RegistrySettingsStore final : public ISettingsStore {
public:
    bool Read(const std::string& interfacePath, const char* name, void* buffer,
              size_t size) override;
    bool Write(const std::string& interfacePath, const char* name, const void* data,
               size_t size) override;
};

}  // namespace qm
