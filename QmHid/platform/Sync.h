// Threads, events, locks and bounded waits: what the core needs of the operating system to run
// and stop its threads. Implemented by win32/Sync.cpp (kernel objects) and posix/Sync.cpp
// (eventfd and pthreads). No operating-system type appears here.
#pragma once

#include <cstdint>

namespace qm {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// The result of a bounded wait on one or two events.
enum class WaitResult { First = 0, Second = 1, Timeout = 258, Failed = -1 };

// A kernel event. A manual-reset event stays signalled until Reset; an auto-reset event is
// consumed by the one wait that returns it.
class Event {
public:
    explicit Event(bool manualReset, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool Valid() const { return handle_ != kInvalid; }
    void Set();
    void Reset();
    // Waits up to timeoutMs (kWaitForever for no bound); true when the event was signalled.
    bool Wait(uint32_t timeoutMs);
    bool IsSet() { return Wait(0); }
    bool ManualReset() const { return manualReset_; }
    // The backend's handle (a HANDLE on Windows, a file descriptor elsewhere), for backends that
    // wait on an event together with their own objects.
    intptr_t NativeHandle() const { return handle_; }

private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t handle_ = kInvalid;
    bool manualReset_;
};

// Waits until either event is signalled (First before Second when both are), at most timeoutMs.
WaitResult WaitForEither(Event& first, Event& second, uint32_t timeoutMs);

// A non-recursive lock.
class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void Lock();
    void Unlock();

private:
    alignas(16) unsigned char storage_[64];
};

// A lock that the thread holding it may take again.
class RecursiveMutex {
public:
    RecursiveMutex();
    ~RecursiveMutex();
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;
    void Lock();
    void Unlock();

private:
    alignas(16) unsigned char storage_[64];
};

template <typename M>
class BasicLockGuard {
public:
    explicit BasicLockGuard(M& m) : m_(m) { m_.Lock(); }
    ~BasicLockGuard() { m_.Unlock(); }
    BasicLockGuard(const BasicLockGuard&) = delete;
    BasicLockGuard& operator=(const BasicLockGuard&) = delete;

private:
    M& m_;
};

using LockGuard = BasicLockGuard<Mutex>;
using RecursiveLockGuard = BasicLockGuard<RecursiveMutex>;

void SleepMs(uint32_t ms);
// Milliseconds of a monotonic clock.
uint64_t MonotonicMs();

// The thread's last error code: GetLastError on Windows, a value of the thread's own elsewhere
// (backends store Windows-style codes into it so the core reads one kind of code).
uint32_t GetLastErrorCode();
void SetLastErrorCode(uint32_t code);

// A thread running one function. Join waits a bounded time; a thread that did not end can be
// detached, after which it must hold everything it still uses.
class Thread {
public:
    using Entry = void (*)(void* arg);
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool Start(Entry entry, void* arg);
    bool Running() const { return handle_ != 0; }
    // True when the thread ended within timeoutMs; its system object is then released.
    bool Join(uint32_t timeoutMs);
    // Forgets a thread that did not end; it releases its own system object when it ends.
    void Detach();

private:
    intptr_t handle_ = 0;
    void* start_ = nullptr;
};

}  // namespace qm
