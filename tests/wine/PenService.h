// What the Windows tests of the pen path share: settings in memory and the QUILLMARK pen's
// reports.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <fstream>
#include <memory>

#include "hid/HidDescriptor.h"
#include "hid/HidRecording.h"
#include "platform/SettingsStore.h"
#include "QmHidSrv/TabMgr.h"
#include "platform/virtual/VirtualDeviceWatcher.h"
#include "platform/virtual/VirtualHid.h"
#include "platform/win32/DisplayOrientation.h"
#include "platform/win32/NamedPipe.h"
#include "platform/win32/PointerOutput.h"
#include "tests/wine/HidParseSys.h"

namespace winetest {

class MemoryStore final : public qm::ISettingsStore {
public:
    bool Read(const std::string& path, const char* name, void* buffer, size_t size) override {
        std::lock_guard<std::mutex> g(lock_);
        auto it = values_.find(path + "|" + name);
        if (it == values_.end() || it->second.size() != size)
            return false;
        std::copy(it->second.begin(), it->second.end(), static_cast<uint8_t*>(buffer));
        return true;
    }
    bool Write(const std::string& path, const char* name, const void* data, size_t size) override {
        std::lock_guard<std::mutex> g(lock_);
        const auto* p = static_cast<const uint8_t*>(data);
        values_[path + "|" + name] = std::vector<uint8_t>(p, p + size);
        return true;
    }

private:
    std::mutex lock_;
    std::map<std::string, std::vector<uint8_t>> values_;
};

// A report of the pen collection: report ID 3; tip, barrel, eraser, padding, in range; X, X,
// Y, Y (16 bits each); pressure.
inline std::vector<uint8_t> PenReport(uint16_t x, uint16_t y, bool tip, bool barrel,
                                      uint8_t pressure) {
    std::vector<uint8_t> r(11, 0);
    r[0] = 3;
    r[1] = static_cast<uint8_t>((tip ? 1 : 0) | (barrel ? 2 : 0) | 0x10);
    r[2] = static_cast<uint8_t>(x);
    r[3] = static_cast<uint8_t>(x >> 8);
    r[6] = static_cast<uint8_t>(y);
    r[7] = static_cast<uint8_t>(y >> 8);
    r[10] = pressure;
    return r;
}

// The recording's pen collection as a virtual device named "QUILLMARK Pen", whose reports
// Windows' parser decodes (on that collection's own descriptor); null when it cannot be read.
inline std::shared_ptr<qm::VirtualHidDevice> MakeWindowsPen(const char* recording) {
    std::ifstream in(recording);
    qm::HidRecording rec;
    std::string error;
    if (!qm::ParseHidRecording(in, rec, error))
        return nullptr;
    const qm::HidDescriptorParse parse =
        qm::ParseReportDescriptor(rec.descriptor.data(), rec.descriptor.size());
    if (!parse.ok)
        return nullptr;
    const size_t index = qm::ChoosePenCollection(parse.collections);
    auto devices =
        qm::VirtualHidDevice::FromDescriptor("virtual/quillmark", rec.descriptor, &error);
    if (index >= devices.size())
        return nullptr;
    std::shared_ptr<qm::VirtualHidDevice> pen = devices[index];
    const std::vector<uint8_t> descriptor = rec.descriptor;
    pen->SetParserSource([descriptor, index] {
        std::string e;
        return qm::test::WindowsParserOfCollection(descriptor, index, e);
    });
    pen->SetString(qm::HidStringKind::Product, u"QUILLMARK Pen");
    return pen;
}

// The service's manager on the Windows build's outputs: the real display orientation, SendInput
// and the named pipe, with virtual devices that the test plugs and settings in memory.
struct PenService {
    qm::VirtualHidBackend backend;
    qm::VirtualDeviceWatcher watcher{backend};
    qm::Win32DisplayOrientation display;
    MemoryStore store;
    qm::SendInputPointerOutput pointer;
    qm::NamedPipeServer pipe;
    qm::CQmTabMgr manager{{backend, watcher, display, store, pointer, pipe}};

    // Starts the service and plugs the pen; false when either fails.
    bool StartWith(const std::shared_ptr<qm::VirtualHidDevice>& pen) {
        if (!manager.StartService())
            return false;
        watcher.Plug(pen);
        return watcher.WaitIdle(5000) && manager.DeviceCount() == 1;
    }
};

}  // namespace winetest
