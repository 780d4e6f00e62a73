// Per-device settings: named binary values kept for a device interface path. Windows: the
// device interface's registry key; elsewhere: one file per interface and value.
#pragma once

#include <cstddef>
#include <string>

namespace qm {

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // True only when the value exists and has exactly `size` bytes; they are then in buffer.
    virtual bool Read(const std::string& interfacePath, const char* name, void* buffer,
                      size_t size) = 0;
    // True when the value was stored. A failed write leaves the value stored before.
    virtual bool Write(const std::string& interfacePath, const char* name, const void* data,
                       size_t size) = 0;
};

}  // namespace qm
