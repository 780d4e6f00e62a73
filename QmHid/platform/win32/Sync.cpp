// Events, locks and threads over Windows kernel objects.
#include "platform/Sync.h"

#include <windows.h>

#include <new>

namespace qm {

namespace {
HANDLE H(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
}  // namespace

Event::Event(bool manualReset, bool initiallySet) : manualReset_(manualReset) {
    HANDLE h =
        CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr);
    handle_ = h != nullptr ? reinterpret_cast<intptr_t>(h) : kInvalid;
}

Event::~Event() {
    if (Valid())
        CloseHandle(H(handle_));
}

void Event::Set() {
    SetEvent(H(handle_));
}
void Event::Reset() {
    ResetEvent(H(handle_));
}

bool Event::Wait(uint32_t timeoutMs) {
    return WaitForSingleObject(H(handle_), timeoutMs) == WAIT_OBJECT_0;
}

WaitResult WaitForEither(Event& first, Event& second, uint32_t timeoutMs) {
    HANDLE set[2] = {H(first.NativeHandle()), H(second.NativeHandle())};
    const DWORD r = WaitForMultipleObjects(2, set, FALSE, timeoutMs);
    switch (r) {
        case WAIT_OBJECT_0:
            return WaitResult::First;
        case WAIT_OBJECT_0 + 1:
            return WaitResult::Second;
        case WAIT_TIMEOUT:
            return WaitResult::Timeout;
        default:
            return WaitResult::Failed;
    }
}

static_assert(sizeof(SRWLOCK) <= 64);

Mutex::Mutex() {
    InitializeSRWLock(new (storage_) SRWLOCK);
}
Mutex::~Mutex() = default;
void Mutex::Lock() {
    AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_));
}
void Mutex::Unlock() {
    ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_));
}

static_assert(sizeof(CRITICAL_SECTION) <= 64);

RecursiveMutex::RecursiveMutex() {
    InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}
RecursiveMutex::~RecursiveMutex() {
    DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void RecursiveMutex::Lock() {
    EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void RecursiveMutex::Unlock() {
    LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}
uint64_t MonotonicMs() {
    return GetTickCount64();
}
uint32_t GetLastErrorCode() {
    return GetLastError();
}
void SetLastErrorCode(uint32_t code) {
    SetLastError(code);
}

namespace {
struct ThreadStart {
    Thread::Entry entry;
    void* arg;
};

DWORD WINAPI Trampoline(LPVOID p) {
    ThreadStart s = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    s.entry(s.arg);
    return 0;
}
}  // namespace

Thread::~Thread() {
    if (Running())
        Detach();
}

bool Thread::Start(Entry entry, void* arg) {
    if (Running())
        return false;
    auto* s = new (std::nothrow) ThreadStart{entry, arg};
    if (s == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    HANDLE h = CreateThread(nullptr, 0, Trampoline, s, 0, nullptr);
    if (h == nullptr) {
        const DWORD e = GetLastError();
        delete s;
        SetLastError(e);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool Thread::Join(uint32_t timeoutMs) {
    if (!Running())
        return true;
    if (WaitForSingleObject(H(handle_), timeoutMs) != WAIT_OBJECT_0)
        return false;
    CloseHandle(H(handle_));
    handle_ = 0;
    return true;
}

void Thread::Detach() {
    if (!Running())
        return;
    CloseHandle(H(handle_));
    handle_ = 0;
}

}  // namespace qm
