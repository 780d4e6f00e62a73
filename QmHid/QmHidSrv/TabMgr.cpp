#include "QmHidSrv/TabMgr.h"

#include <iterator>
#include <new>

#include "QmHidSrv/HidDevice.h"
#include "hid/HidUsages.h"
#include "shared/PipeMessages.h"

namespace qm {

namespace {

bool ContainsMarker(const char16_t* s) {
    static constexpr char16_t kMarker[] = u"QUILLMARK";
    constexpr size_t kLength = sizeof kMarker / sizeof kMarker[0] - 1;
    for (size_t i = 0; s[i] != 0; ++i) {
        size_t k = 0;
        for (; k < kLength && s[i + k] != 0; ++k) {
            char16_t c = s[i + k];
            if (c >= u'a' && c <= u'z')
                c = static_cast<char16_t>(c - u'a' + u'A');
            if (c != kMarker[k])
                break;
        }
        if (k == kLength)
            return true;
    }
    return false;
}

uint16_t DegreesOf(int32_t orientation) {
    switch (orientation) {
        case 1:
            return 90;
        case 2:
            return 180;
        case 3:
            return 270;
        default:
            return 0;
    }
}

}  // namespace

CHidTabMgr::CHidTabMgr(IHidBackend& backend, IDeviceWatcher& watcher, IDisplayOrientation& display)
    : CHidDevMgr(backend, watcher), display_(display) {}

bool CHidTabMgr::Start(const char16_t* manufacturer, const char16_t* product,
                       const char16_t* serial) {
    orientation_ = -1;
    RefreshOrientation();
    return CHidDevMgr::Start(hid::kPageDigitizer, manufacturer, product, serial);
}

void CHidTabMgr::RefreshOrientation() {
    int32_t orientation = 0;
    if (!display_.Read(orientation) || orientation == orientation_.load())
        return;
    orientation_ = orientation;
    OnOrientationChanged(orientation);
}

bool CHidTabMgr::OnWindowMessage(uint32_t message, uintptr_t, intptr_t, intptr_t&) {
    if (message == kWmDisplayChange)
        RefreshOrientation();
    return false;
}

void CHidTabMgr::OnOrientationChanged(int32_t) {}

CQmTabMgr::CQmTabMgr(const ServicePlatform& platform)
    : CHidTabMgr(platform.hid, platform.watcher, platform.display), platform_(platform) {}

CQmTabMgr::~CQmTabMgr() {
    StopPipeThread();
    Stop();
}

void CQmTabMgr::OnDeviceArrival(const char* path) {
    char16_t text[260];
    QueryManufacturerString(Backend(), path, text, sizeof text);
    text[259] = 0;
    if (!acceptAny_ && !ContainsMarker(text)) {
        QueryProductString(Backend(), path, text, sizeof text);
        text[259] = 0;
        if (!ContainsMarker(text)) {
            OnDeviceSkipped(path, "neither its manufacturer nor its product names QUILLMARK");
            return;
        }
    }
    auto* tablet = new (std::nothrow) CQmTablet(*this, *this, path);
    if (tablet != nullptr && !tablet->Configured())
        OnDeviceSkipped(path, "it has no X and Y that a pen could use, or cannot be read");
    // Without a display to follow, the tablet keeps the rotation stored for it.
    if (DisplayFollowed() || CachedOrientation() >= 0)
        ApplyRotation(CachedOrientation(), tablet);
}

void CQmTabMgr::ApplyRotation(int32_t orientation, CQmTablet* tablet) {
    const uint16_t degrees = DegreesOf(orientation);
    if (tablet != nullptr) {
        tablet->SetRotation(degrees);
        return;
    }
    RecursiveLockGuard guard(ListLock());
    for (uint16_t i = 0; CQmTablet* t = TabletAt(i); ++i)
        t->SetRotation(degrees);
}

void CQmTabMgr::OnOrientationChanged(int32_t orientation) {
    ApplyRotation(orientation, nullptr);
}

bool CQmTabMgr::StartService() {
    if (!pipeThread_.Running()) {
        stopEvent_.Reset();
        if (!pipeThread_.Start(&CQmTabMgr::PipeServerThread, this)) {
            statusCode_ = kStatusWindowsApiError;
            lastError = GetLastErrorCode();
            return false;
        }
    }
    if (!Start(nullptr, nullptr, nullptr)) {
        StopPipeThread();
        statusCode_ = kStatusTabletActivationFailure;
        return false;
    }
    return true;
}

bool CQmTabMgr::StopPipeThread() {
    if (!pipeThread_.Running())
        return true;
    stopEvent_.Set();
    platform_.pipe.Interrupt();
    if (pipeThread_.Join(kPipeThreadStopMs))
        return true;
    // Every wait of the pipe thread watches the stop event and every write is bounded, so
    // this is a thread stuck in the system. It keeps the manager, which is then not destroyed.
    pipeThread_.Detach();
    pipeThreadLeft_ = true;
    return false;
}

bool CQmTabMgr::StopService() {
    const bool pipeEnded = StopPipeThread();
    const bool devicesEnded = Stop();  // false too when the window thread was left
    return pipeEnded && devicesEnded;
}

void CQmTabMgr::SetActiveDevice(CHidDevice* device) {
    lastActive_.store(device != nullptr ? device->token : 0, std::memory_order_relaxed);
}

bool CQmTabMgr::PushToClient(const uint8_t* message, uint32_t length) {
    LockGuard guard(pushLock_);
    if (!pipeOpen_)
        return false;
    return platform_.pipe.Push(message, length, kPushTimeoutMs);
}

void CQmTabMgr::PipeServerThread(void* p) {
    auto* m = static_cast<CQmTabMgr*>(p);
    IPipeServer& pipe = m->platform_.pipe;
    if (!m->CreatePipe())
        return;
    uint8_t buffer[pipe::kMaxMessage];
    bool stop = false;
    while (!stop) {
        if (pipe.WaitForClient(m->stopEvent_) == PipeResult::Stop)
            break;
        uint32_t failures = 0;
        for (;;) {
            uint32_t got = 0;
            const PipeResult r = pipe.Read(buffer, sizeof buffer, got, m->stopEvent_);
            if (r == PipeResult::Stop) {
                stop = true;
                break;
            }
            if (r == PipeResult::Broken)
                break;
            if (r == PipeResult::Failed) {
                // A read error that persists must not spin the thread.
                if (++failures > 3 && m->stopEvent_.Wait(100)) {
                    stop = true;
                    break;
                }
                continue;
            }
            failures = 0;
            if (got == 0)
                continue;
            const uint32_t reply = DispatchRequest(*m, buffer, got);
            if (reply == 0)
                continue;
            // A client that does not take its reply in time is let go: it would hold the
            // one instance for good.
            const PipeResult w = pipe.Write(buffer, reply, kReplyTimeoutMs, m->stopEvent_);
            if (w == PipeResult::Stop) {
                stop = true;
                break;
            }
            if (w == PipeResult::Broken)
                break;
        }
        LockGuard guard(m->pushLock_);
        pipe.Disconnect();
    }
    LockGuard guard(m->pushLock_);
    pipe.Close();
    m->pipeOpen_ = false;
}

bool CQmTabMgr::CreatePipe() {
    bool logged = false;
    for (;;) {
        {
            LockGuard guard(pushLock_);
            pipeOpen_ = platform_.pipe.Create();
            if (pipeOpen_)
                return true;
        }
        // The name is held by an earlier run's client or by a stranger: said once, then tried
        // again until the pipe is had or the service stops.
        if (!logged && platform_.log != nullptr)
            platform_.log->Error(kStatusWindowsApiError, "CreateNamedPipe");
        logged = true;
        if (stopEvent_.Wait(kPipeRetryMs))
            return false;
    }
}

namespace {

// One handler per request type, on a request that the table has accepted. Each returns the
// size of its reply, or 0 for none.
using Handler = uint32_t (*)(CQmTabMgr& manager, CQmTablet* device, uint8_t* m);

uint32_t HandleGetCalibration(CQmTabMgr&, CQmTablet* device, uint8_t* m) {
    const Calibration c = device->GetCalibration();
    pipe::PutCalibration(m, {c.xOrigin, c.yOrigin, c.xExtent, c.yExtent});
    return pipe::kGetCalibrationSize;
}

uint32_t HandleSetRawMode(CQmTabMgr&, CQmTablet* device, uint8_t* m) {
    device->SetRawMode(pipe::RawModeOf(m));
    return 0;
}

uint32_t HandleSetRotation(CQmTabMgr&, CQmTablet* device, uint8_t* m) {
    // The pipe's quarter turns run against the display's: 90 and 270 swap.
    uint16_t angle = pipe::AngleOf(m);
    if (angle == 90) {
        angle = 270;
    } else if (angle == 270) {
        angle = 90;
    }
    device->SetRotation(angle);
    return 0;
}

uint32_t HandleSetCalibration(CQmTabMgr&, CQmTablet* device, uint8_t* m) {
    const pipe::CalibrationValues c = pipe::CalibrationOf(m);
    device->SetCalibration(c.xOrigin, c.yOrigin, c.xExtent, c.yExtent);
    return 0;
}

uint32_t HandleEnumerateDevices(CQmTabMgr& manager, CQmTablet*, uint8_t* m) {
    CHidDevice* at = manager.DeviceAt(pipe::IndexOf(m));
    pipe::PutToken(m, at != nullptr ? at->token : 0);
    pipe::PutDeviceCount(m, static_cast<uint32_t>(manager.DeviceCount()));
    return pipe::kEnumerateDevicesSize;
}

uint32_t HandleGetDeviceStrings(CQmTabMgr&, CQmTablet* device, uint8_t* m) {
    // Each string is read into its own field; what follows its terminator keeps the request's
    // bytes. The fields are not aligned for char16_t, hence the copy.
    char16_t text[pipe::kStringFieldSize / 2];
    for (int i = 0; i < 3; ++i) {
        uint8_t* field = m + pipe::kStringOffsets[i];
        for (size_t k = 0; k < pipe::kStringFieldSize / 2; ++k)
            text[k] = static_cast<char16_t>(pipe::Get16(field + 2 * k));
        if (i == 0)
            device->GetManufacturerString(text, pipe::kStringFieldSize);
        if (i == 1)
            device->GetProductString(text, pipe::kStringFieldSize);
        if (i == 2)
            device->GetSerialNumberString(text, pipe::kStringFieldSize);
        for (size_t k = 0; k < pipe::kStringFieldSize / 2; ++k) {
            pipe::Put16(field + 2 * k, static_cast<uint16_t>(text[k]));
            if (text[k] == 0)
                break;
        }
    }
    return pipe::kGetDeviceStringsSize;
}

uint32_t HandleFindDeviceByPath(CQmTabMgr& manager, CQmTablet*, uint8_t* m) {
    // The path ends at its zero byte or at the end of its field.
    char path[pipe::kPathFieldSize + 1];
    pipe::PathOf(m, path);
    CHidDevice* found = manager.FindDeviceByPath(path);
    pipe::PutToken(m, found != nullptr ? found->token : 0);
    return pipe::kFindDeviceByPathSize;
}

uint32_t HandleGetLastActiveDevice(CQmTabMgr& manager, CQmTablet*, uint8_t* m) {
    // Only a token the service handed out; it is not cleared when the tablet goes.
    pipe::PutToken(m, manager.LastActiveToken());
    return pipe::kGetLastActiveDeviceSize;
}

// The handlers by request type; every rule of the protocol table has one.
constexpr Handler kHandlers[] = {
    nullptr,                    // 0: not defined
    HandleGetCalibration,       // 1
    nullptr,                    // 2: raw pen reports go to the client only
    HandleSetRawMode,           // 3
    HandleSetRotation,          // 4
    HandleSetCalibration,       // 5
    HandleEnumerateDevices,     // 6
    HandleGetDeviceStrings,     // 7
    HandleFindDeviceByPath,     // 8
    HandleGetLastActiveDevice,  // 9
};

constexpr bool EveryRuleHasAHandler() {
    for (const pipe::RequestRule& r : pipe::kRequestRules)
        if (r.type >= std::size(kHandlers) || kHandlers[r.type] == nullptr)
            return false;
    return true;
}
static_assert(EveryRuleHasAHandler());

}  // namespace

uint32_t DispatchRequest(CQmTabMgr& manager, uint8_t* buffer, uint32_t n) {
    // The list lock keeps the request's tablet alive until the reply is made.
    RecursiveLockGuard guard(manager.ListLock());
    CQmTablet* device =
        n >= pipe::kHeaderSize ? manager.TabletByToken(pipe::TokenOf(buffer)) : nullptr;
    if (n < 1)
        return 0;
    // Undefined types, and raw pen reports sent by a client, have no rule.
    const pipe::RequestRule* rule = pipe::FindRequestRule(pipe::TypeOf(buffer));
    if (rule == nullptr || n != rule->size || pipe::LengthOf(buffer) != n)
        return 0;
    if (rule->needsDevice && device == nullptr)
        return 0;
    const uint32_t reply = kHandlers[rule->type](manager, device, buffer);
    return rule->hasReply ? reply : 0;
}

}  // namespace qm
