#include "platform/virtual/VirtualHid.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace qm {

namespace {
constexpr size_t kQueuedReports = 32;
}

class VirtualHidFile final : public IHidFile {
public:
    VirtualHidFile(std::shared_ptr<VirtualHidDevice> device, HidOpenMode mode)
        : device_(std::move(device)),
          mode_(mode),
          length_(device_->Collection().caps.inputReportByteLength),
          ring_(kQueuedReports * (length_ == 0 ? 1 : length_)) {
        device_->Attach(this);
    }
    ~VirtualHidFile() override { device_->Detach(this); }

    HidReadResult Read(uint8_t* buffer, uint32_t length) override {
        uint32_t stall = 0;
        {
            LockGuard guard(device_->lock_);
            stall = device_->stallMs_;
            ++device_->readsStarted_;
        }
        if (stall != 0)
            SleepMs(stall);
        LockGuard guard(device_->lock_);
        if (device_->vanished_ || device_->failReads_) {
            SetLastErrorCode(device_->vanished_ ? kErrorDeviceNotConnected : kErrorGenFailure);
            return HidReadResult::Failed;
        }
        if (count_ > 0) {
            CopyOut(&ring_[head_ * length_], buffer, length);
            head_ = (head_ + 1) % kQueuedReports;
            --count_;
            return HidReadResult::Completed;
        }
        pending_ = buffer;
        pendingLength_ = length;
        SetLastErrorCode(kErrorIoPending);
        return HidReadResult::Pending;
    }

    HidWait WaitForRead(Event& stop, uint32_t timeoutMs) override {
        switch (WaitForEither(stop, completed_, timeoutMs)) {
            case WaitResult::First:
                return HidWait::Stop;
            case WaitResult::Second: {
                LockGuard guard(device_->lock_);
                return completion_;
            }
            case WaitResult::Timeout:
                return HidWait::Timeout;
            default:
                return HidWait::WaitFailed;
        }
    }

    void CancelRead() override {
        LockGuard guard(device_->lock_);
        pending_ = nullptr;
    }

    bool GetString(HidStringKind kind, char16_t* buffer, uint32_t bytes) override {
        LockGuard guard(device_->lock_);
        if (device_->vanished_) {
            SetLastErrorCode(kErrorDeviceNotConnected);
            return false;
        }
        const auto& value = device_->strings_[static_cast<int>(kind)];
        if (!value) {
            SetLastErrorCode(kErrorGenFailure);
            return false;
        }
        const size_t need = (value->size() + 1) * sizeof(char16_t);
        if (bytes < need) {
            SetLastErrorCode(kErrorInvalidUserBuffer);
            return false;
        }
        std::memcpy(buffer, value->c_str(), need);
        return true;
    }

    std::unique_ptr<IHidReportParser> GetPreparsedData() override {
        LockGuard guard(device_->lock_);
        if (device_->failPreparsed_ || device_->vanished_) {
            SetLastErrorCode(kErrorGenFailure);
            return nullptr;
        }
        if (device_->parserSource_)
            return device_->parserSource_();
        return std::make_unique<HidCollection>(device_->Collection());
    }

    // With the device lock held: a new report completes the pending read or joins the queue.
    void Deliver(const uint8_t* report) {
        if (mode_ != HidOpenMode::Reading)
            return;
        if (pending_ != nullptr) {
            CopyOut(report, pending_, pendingLength_);
            pending_ = nullptr;
            completion_ = HidWait::Completed;
            completed_.Set();
            return;
        }
        if (count_ == kQueuedReports) {  // the oldest report is dropped
            head_ = (head_ + 1) % kQueuedReports;
            --count_;
        }
        std::memcpy(&ring_[((head_ + count_) % kQueuedReports) * length_], report, length_);
        ++count_;
    }

    // With the device lock held: the device is gone.
    void EndPendingRead() {
        if (pending_ == nullptr)
            return;
        pending_ = nullptr;
        completion_ = HidWait::Failed;
        completed_.Set();
    }

private:
    void CopyOut(const uint8_t* report, uint8_t* buffer, uint32_t length) const {
        const uint32_t n = std::min<uint32_t>(length, length_);
        std::memcpy(buffer, report, n);
        if (length > n)
            std::memset(buffer + n, 0, length - n);
    }

    std::shared_ptr<VirtualHidDevice> device_;
    HidOpenMode mode_;
    uint32_t length_;
    // The queue and the pending read are guarded by the device lock.
    std::vector<uint8_t> ring_;
    size_t head_ = 0;
    size_t count_ = 0;
    uint8_t* pending_ = nullptr;
    uint32_t pendingLength_ = 0;
    HidWait completion_ = HidWait::Completed;
    Event completed_{false};
};

VirtualHidDevice::VirtualHidDevice(std::string path, HidCollection collection)
    : path_(std::move(path)), collection_(std::move(collection)) {}

VirtualHidDevice::~VirtualHidDevice() = default;

std::vector<std::shared_ptr<VirtualHidDevice>> VirtualHidDevice::FromDescriptor(
    const std::string& basePath, const std::vector<uint8_t>& descriptor, std::string* error) {
    std::vector<std::shared_ptr<VirtualHidDevice>> out;
    HidDescriptorParse parse = ParseReportDescriptor(descriptor.data(), descriptor.size());
    if (!parse.ok) {
        if (error != nullptr)
            *error = parse.error;
        return out;
    }
    const size_t n = parse.collections.size();
    for (size_t i = 0; i < n; ++i) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "&col%02zu", i + 1);
        out.push_back(std::make_shared<VirtualHidDevice>(n == 1 ? basePath : basePath + suffix,
                                                         std::move(parse.collections[i])));
    }
    return out;
}

void VirtualHidDevice::SetParserSource(std::function<std::unique_ptr<IHidReportParser>()> source) {
    LockGuard guard(lock_);
    parserSource_ = std::move(source);
}

void VirtualHidDevice::SetString(HidStringKind kind, std::optional<std::u16string> value) {
    LockGuard guard(lock_);
    strings_[static_cast<int>(kind)] = std::move(value);
}

bool VirtualHidDevice::Feed(const uint8_t* report, size_t length) {
    if (report == nullptr || length != collection_.caps.inputReportByteLength ||
        !collection_.HasInputReport(report[0]))
        return false;
    LockGuard guard(lock_);
    if (vanished_)
        return false;
    for (VirtualHidFile* f : files_)
        f->Deliver(report);
    return true;
}

bool VirtualHidDevice::FeedHidraw(const uint8_t* data, size_t length) {
    if (collection_.usesReportIds) {
        // hidraw gives a numbered report whole; a shorter one is padded as Windows pads it.
        std::vector<uint8_t> report(collection_.caps.inputReportByteLength, 0);
        if (length == 0 || length > report.size())
            return false;
        std::memcpy(report.data(), data, length);
        return Feed(report.data(), report.size());
    }
    std::vector<uint8_t> report(length + 1, 0);
    if (length > 0)
        std::memcpy(report.data() + 1, data, length);
    return Feed(report.data(), report.size());
}

void VirtualHidDevice::SetFailReads(bool fail) {
    LockGuard guard(lock_);
    failReads_ = fail;
}

void VirtualHidDevice::Vanish() {
    LockGuard guard(lock_);
    vanished_ = true;
    for (VirtualHidFile* f : files_)
        f->EndPendingRead();
}

bool VirtualHidDevice::Vanished() {
    LockGuard guard(lock_);
    return vanished_;
}

void VirtualHidDevice::SetReadStall(uint32_t ms) {
    LockGuard guard(lock_);
    stallMs_ = ms;
}

void VirtualHidDevice::SetFailPreparsedData(bool fail) {
    LockGuard guard(lock_);
    failPreparsed_ = fail;
}

size_t VirtualHidDevice::OpenFiles() {
    LockGuard guard(lock_);
    return files_.size();
}

size_t VirtualHidDevice::ReadsStarted() {
    LockGuard guard(lock_);
    return readsStarted_;
}

void VirtualHidDevice::Attach(VirtualHidFile* file) {
    LockGuard guard(lock_);
    files_.push_back(file);
}

void VirtualHidDevice::Detach(VirtualHidFile* file) {
    LockGuard guard(lock_);
    files_.erase(std::remove(files_.begin(), files_.end(), file), files_.end());
}

void VirtualHidBackend::Add(std::shared_ptr<VirtualHidDevice> device) {
    LockGuard guard(lock_);
    devices_.push_back(std::move(device));
}

void VirtualHidBackend::Remove(const std::string& path) {
    LockGuard guard(lock_);
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                  [&](const auto& d) { return PathsEqual(d->Path(), path); }),
                   devices_.end());
}

std::shared_ptr<VirtualHidDevice> VirtualHidBackend::Find(const std::string& path) {
    LockGuard guard(lock_);
    for (const auto& d : devices_)
        if (PathsEqual(d->Path(), path))
            return d;
    return nullptr;
}

std::vector<std::string> VirtualHidBackend::Paths() {
    LockGuard guard(lock_);
    std::vector<std::string> paths;
    for (const auto& d : devices_)
        paths.push_back(d->Path());
    return paths;
}

std::unique_ptr<IHidFile> VirtualHidBackend::Open(const char* path, HidOpenMode mode) {
    std::shared_ptr<VirtualHidDevice> device = path != nullptr ? Find(path) : nullptr;
    if (device == nullptr || device->Vanished()) {
        SetLastErrorCode(kErrorFileNotFound);
        return nullptr;
    }
    return std::make_unique<VirtualHidFile>(std::move(device), mode);
}

}  // namespace qm
