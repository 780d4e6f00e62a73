#include "QmHidSrv/HidDevice.h"

#include <new>

#include "QmHidSrv/HidDevMgr.h"
#include "platform/InputDesktop.h"

namespace qm {

// What a read thread uses, shared between the device and the thread. A thread that does not
// end within its bound is detached: it keeps the file, the stop event and its buffer alive
// through this record, and no longer calls into the device once `detached` is set.
struct ReadSession {
    CHidDevice* device = nullptr;
    std::shared_ptr<IHidFile> file;
    std::shared_ptr<Event> stop;
    uint32_t length = 0;
    bool attach = false;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> detached{false};
    std::atomic<bool> inReport{false};
};

namespace {

// Hands one report to the device unless the device has let go of this thread. The two
// sequentially consistent flags make sure that a device which saw inReport false after
// setting detached is never entered again.
void Deliver(ReadSession& s, const uint8_t* buffer) {
    s.inReport.store(true);
    if (!s.detached.load())
        s.device->OnReport(buffer, s.length);
    s.inReport.store(false);
}

}  // namespace

CHidDevice::CHidDevice(CHidDevMgr& mgr, const char* path)
    : devicePath(path != nullptr ? path : ""), manager(mgr) {
    stopEvent = std::make_shared<Event>(true);
    usable = stopEvent->Valid();
    if (usable)
        OnHandleNotification(kDbtDeviceArrival);
    if (usable) {
        preparsedData = fileHandle->GetPreparsedData();
        usable = preparsedData != nullptr;
    }
    caps = HidCaps{};
    if (usable)
        usable = preparsedData->GetCaps(caps) == HidStatus::Success;
    if (!usable)
        RecordLastError();
    manager.AddDevice(this);
}

CHidDevice::~CHidDevice() {
    StopReading();
    manager.RemoveDevice(this);
    OnHandleNotification(kDbtDeviceRemoveComplete);
}

void CHidDevice::RecordLastError() {
    manager.lastError = GetLastErrorCode();
}

bool CHidDevice::StartReading(bool attach) {
    if (!usable) {
        SetLastErrorCode(kErrorBadDevice);
        RecordLastError();
        return false;
    }
    if (readThreadHandle.Running())
        return true;
    attachToInputDesktop = attach;
    stopEvent->Reset();

    auto session = std::make_shared<ReadSession>();
    session->device = this;
    {
        LockGuard guard(fileLock_);
        session->file = fileHandle;
    }
    session->stop = stopEvent;
    session->length = caps.inputReportByteLength;
    session->attach = attach;
    auto* holder = new (std::nothrow) std::shared_ptr<ReadSession>(session);
    if (holder == nullptr || !readThreadHandle.Start(&CHidDevice::ReadThread, holder)) {
        if (holder == nullptr)
            SetLastErrorCode(kErrorNotEnoughMemory);
        delete holder;
        RecordLastError();
        return false;
    }
    session_ = std::move(session);
    return true;
}

bool CHidDevice::StopReading() {
    if (!usable) {
        SetLastErrorCode(kErrorBadDevice);
        RecordLastError();
        return false;
    }
    if (!readThreadHandle.Running())
        return true;
    session_->stopRequested = true;
    stopEvent->Set();
    const bool ended = readThreadHandle.Join(kReadThreadStopMs);
    if (!ended) {
        const uint32_t error = GetLastErrorCode();
        // Let go of the thread: it may still be reading, but it must not enter this device
        // again, and a report it is handing over right now must finish first.
        session_->detached = true;
        while (session_->inReport.load())
            SleepMs(1);
        readThreadHandle.Detach();
        manager.lastError = error;
    }
    session_.reset();
    return ended;
}

int64_t CHidDevice::OnHandleNotification(uint32_t code) {
    switch (code) {
        case kDbtDeviceArrival:
        case kDbtDeviceQueryRemoveFailed:
            if (fileHandle == nullptr) {
                std::shared_ptr<IHidFile> file =
                    manager.Backend().Open(devicePath.c_str(), HidOpenMode::Reading);
                usable = file != nullptr;
                LockGuard guard(fileLock_);
                fileHandle = std::move(file);
            }
            if (code == kDbtDeviceQueryRemoveFailed && usable && resumeAfterQueryRemove)
                StartReading(attachToInputDesktop);
            break;
        case kDbtDeviceQueryRemove:
            resumeAfterQueryRemove = usable && readThreadHandle.Running();
            [[fallthrough]];
        case kDbtDeviceRemoveComplete:
            if (usable && readThreadHandle.Running())
                StopReading();
            if (fileHandle != nullptr) {
                LockGuard guard(fileLock_);
                fileHandle.reset();
            }
            break;
        default:
            break;
    }
    return 1;
}

char16_t* CHidDevice::GetString(HidStringKind kind, char16_t* buffer, uint32_t size) {
    const uint32_t bytes = size & 0xFFFFu;
    if (usable) {
        std::shared_ptr<IHidFile> file;
        {
            LockGuard guard(fileLock_);
            file = fileHandle;
        }
        if (file == nullptr)
            SetLastErrorCode(kErrorInvalidHandle);
        if (file != nullptr && file->GetString(kind, buffer, bytes))
            return buffer;
    } else {
        SetLastErrorCode(kErrorBadDevice);
    }
    RecordLastError();
    if (bytes >= sizeof(char16_t))
        buffer[0] = 0;
    return buffer;
}

bool CHidDevice::GetAttributes(HidAttributes& out) {
    std::shared_ptr<IHidFile> file;
    {
        LockGuard guard(fileLock_);
        file = fileHandle;
    }
    return file != nullptr && file->GetAttributes(out);
}

bool CHidDevice::PeekString(HidStringKind kind, char16_t* buffer, uint32_t bytes) {
    std::shared_ptr<IHidFile> file;
    {
        LockGuard guard(fileLock_);
        file = fileHandle;
    }
    return usable && file != nullptr && file->GetString(kind, buffer, bytes);
}

char16_t* CHidDevice::GetManufacturerString(char16_t* buffer, uint32_t size) {
    return GetString(HidStringKind::Manufacturer, buffer, size);
}
char16_t* CHidDevice::GetProductString(char16_t* buffer, uint32_t size) {
    return GetString(HidStringKind::Product, buffer, size);
}
char16_t* CHidDevice::GetSerialNumberString(char16_t* buffer, uint32_t size) {
    return GetString(HidStringKind::SerialNumber, buffer, size);
}

void CHidDevice::ReadThread(void* arg) {
    std::shared_ptr<ReadSession> s = std::move(*static_cast<std::shared_ptr<ReadSession>*>(arg));
    delete static_cast<std::shared_ptr<ReadSession>*>(arg);

    InputDesktop desktop;
    if (s->attach)
        desktop.Attach();
    // One buffer for every read of this thread.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[s->length + 1u]());
    IHidFile* file = s->file.get();
    bool pending = false;
    while (buffer != nullptr && file != nullptr) {
        if (!pending) {
            const HidReadResult r = file->Read(buffer.get(), s->length);
            if (r == HidReadResult::Completed) {
                Deliver(*s, buffer.get());
                // Reads that keep completing at once never wait, so the stop request is
                // looked at here too.
                if (s->stopRequested.load(std::memory_order_relaxed))
                    break;
                continue;
            }
            if (r == HidReadResult::Failed) {
                if (s->stop->Wait(kReadRetryMs))
                    break;
                continue;
            }
            pending = true;
        }
        const HidWait w = file->WaitForRead(*s->stop, kReadSilenceMs);
        if (w == HidWait::Stop)
            break;
        if (w == HidWait::Completed) {
            pending = false;
            Deliver(*s, buffer.get());
        } else if (w == HidWait::Failed) {
            // The read ended without a report (the device went away): try again later.
            pending = false;
            if (s->stop->Wait(kReadRetryMs))
                break;
        } else if (w == HidWait::Timeout) {
            if (s->attach)
                desktop.Reattach();
        } else if (s->stop->Wait(kReadRetryMs)) {
            break;
        }
    }
    desktop.Restore();
    if (file != nullptr)
        file->CancelRead();
}

bool QueryDeviceCaps(IHidBackend& backend, const char* path, HidCaps& out) {
    std::unique_ptr<IHidFile> file = backend.Open(path, HidOpenMode::Query);
    if (file == nullptr)
        return false;
    std::unique_ptr<IHidReportParser> parser = file->GetPreparsedData();
    if (parser == nullptr)
        return false;
    out = HidCaps{};
    return parser->GetCaps(out) == HidStatus::Success;
}

namespace {
char16_t* QueryString(IHidBackend& backend, const char* path, HidStringKind kind, char16_t* buffer,
                      uint32_t size) {
    const uint32_t bytes = size & 0xFFFFu;
    if (bytes >= sizeof(char16_t))
        buffer[0] = 0;
    std::unique_ptr<IHidFile> file = backend.Open(path, HidOpenMode::Query);
    if (file != nullptr)
        file->GetString(kind, buffer, bytes);
    return buffer;
}
}  // namespace

char16_t* QueryManufacturerString(IHidBackend& backend, const char* path, char16_t* buffer,
                                  uint32_t size) {
    return QueryString(backend, path, HidStringKind::Manufacturer, buffer, size);
}
char16_t* QueryProductString(IHidBackend& backend, const char* path, char16_t* buffer,
                             uint32_t size) {
    return QueryString(backend, path, HidStringKind::Product, buffer, size);
}
char16_t* QuerySerialNumberString(IHidBackend& backend, const char* path, char16_t* buffer,
                                  uint32_t size) {
    return QueryString(backend, path, HidStringKind::SerialNumber, buffer, size);
}

}  // namespace qm
