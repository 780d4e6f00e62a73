// A virtual tablet that replays a hid-recorder recording at its recorded pace, and stays
// attached when the recording ends (or starts it over).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "hid/HidRecording.h"
#include "platform/Sync.h"
#include "platform/virtual/VirtualHid.h"

namespace qm {

class ReplayTablet {
public:
    // Reads the recording and makes the device of its pen collection at `path`, with the
    // recording's name as its product string and no manufacturer or serial-number string.
    // Null with *error set when the file or its descriptor is malformed.
    static std::unique_ptr<ReplayTablet> Load(const std::string& file, const std::string& path,
                                              std::string* error);
    ~ReplayTablet();

    const std::shared_ptr<VirtualHidDevice>& Device() const { return device_; }
    bool Start(bool loop);
    void Stop();
    // Reports fed so far.
    size_t Fed() const { return fed_.load(); }

private:
    ReplayTablet() = default;
    static void Run(void* self);

    HidRecording recording_;
    std::shared_ptr<VirtualHidDevice> device_;
    Thread thread_;
    Event stop_{true};
    bool loop_ = false;
    std::atomic<size_t> fed_{0};
};

}  // namespace qm
