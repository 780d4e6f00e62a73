// The manager side that a product tablet needs, for tests: settings in memory (or any store),
// pointer events recorded, pushes counted and answered as told.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "QmHidSrv/QmTablet.h"
#include "platform/virtual/RecordingPointerOutput.h"

namespace qm::test {

class MemorySettingsStore final : public ISettingsStore {
public:
    bool Read(const std::string& path, const char* name, void* buffer, size_t size) override {
        LockGuard g(lock_);
        auto it = values_.find(Key(path, name));
        if (it == values_.end() || it->second.size() != size)
            return false;
        std::copy(it->second.begin(), it->second.end(), static_cast<uint8_t*>(buffer));
        return true;
    }
    bool Write(const std::string& path, const char* name, const void* data, size_t size) override {
        LockGuard g(lock_);
        ++writes;
        const auto* p = static_cast<const uint8_t*>(data);
        values_[Key(path, name)] = std::vector<uint8_t>(p, p + size);
        return true;
    }
    void Put(const std::string& path, const char* name, std::vector<uint8_t> bytes) {
        LockGuard g(lock_);
        values_[Key(path, name)] = std::move(bytes);
    }
    bool Has(const std::string& path, const char* name) {
        LockGuard g(lock_);
        return values_.count(Key(path, name)) != 0;
    }
    int writes = 0;  // guarded by lock_

private:
    static std::string Key(std::string path, const char* name) {
        for (char& c : path)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return path + "|" + name;
    }
    Mutex lock_;
    std::map<std::string, std::vector<uint8_t>> values_;
};

class TestHost final : public ITabletHost {
public:
    explicit TestHost(ISettingsStore& store) : store_(store) {}
    void SetStatusCode(uint32_t code) override { status = code; }
    void SetActiveDevice(CHidDevice* device) override { active = device; }
    bool PushToClient(const uint8_t* message, uint32_t length) override {
        LockGuard g(lock_);
        pushes.emplace_back(message, message + length);
        return pushSucceeds;
    }
    ISettingsStore& Settings() override { return store_; }
    IPointerOutput& Pointer() override { return output; }

    std::vector<std::vector<uint8_t>> Pushes() {
        LockGuard g(lock_);
        return pushes;
    }
    void SetPushSucceeds(bool ok) {
        LockGuard g(lock_);
        pushSucceeds = ok;
    }

    std::atomic<uint32_t> status{0};
    std::atomic<CHidDevice*> active{nullptr};
    RecordingPointerOutput output{100000};

private:
    ISettingsStore& store_;
    Mutex lock_;
    std::vector<std::vector<uint8_t>> pushes;  // guarded by lock_
    bool pushSucceeds = false;                 // guarded by lock_
};

}  // namespace qm::test
