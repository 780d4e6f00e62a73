// Settings as files: DIR/<interface path, lower-cased and escaped>/<value name>, holding the
// value's bytes. Writes go to a temporary file that is flushed and renamed over the old one,
// so a crash leaves the old value or the new one.
#pragma once

#include "platform/SettingsStore.h"

namespace qm {

class FileSettingsStore final : public ISettingsStore {
public:
    explicit FileSettingsStore(std::string directory) : directory_(std::move(directory)) {}
    bool Read(const std::string& interfacePath, const char* name, void* buffer,
              size_t size) override;
    bool Write(const std::string& interfacePath, const char* name, const void* data,
               size_t size) override;

    // The default: /var/lib/qmhidsrv as root, else $XDG_STATE_HOME/qmhidsrv (or
    // ~/.local/state/qmhidsrv).
    static std::string DefaultDirectory();
    // The folder of one interface's values.
    std::string InterfaceDirectory(const std::string& interfacePath) const;

private:
    std::string directory_;
};

}  // namespace qm
