// Events over eventfd, locks and threads over pthreads.
#include "platform/Sync.h"

#include "platform/posix/Poll.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <new>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qm {

namespace {

int Fd(intptr_t h) {
    return static_cast<int>(h);
}

// An auto-reset event is consumed by reading its counter; a reader that loses the race to
// another waiter finds it empty (EAGAIN).
bool TryConsume(int fd) {
    uint64_t value = 0;
    return read(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

}  // namespace

Event::Event(bool manualReset, bool initiallySet) : manualReset_(manualReset) {
    const int fd = eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    handle_ = fd >= 0 ? fd : kInvalid;
}

Event::~Event() {
    if (Valid())
        close(Fd(handle_));
}

void Event::Set() {
    // The counter only matters as zero or not; Reset and a consuming wait read it back to zero.
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(Fd(handle_), &one, sizeof one);
}

void Event::Reset() {
    uint64_t value = 0;
    [[maybe_unused]] ssize_t n = read(Fd(handle_), &value, sizeof value);
}

bool Event::Wait(uint32_t timeoutMs) {
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        uint32_t left = timeoutMs;
        if (timeoutMs != kWaitForever) {
            const uint64_t now = MonotonicMs();
            left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
        }
        if (WaitReadyOrStop(Fd(handle_), POLLIN, -1, left) != PollResult::Ready)
            return false;
        if (manualReset_ || TryConsume(Fd(handle_)))
            return true;
        if (left == 0)
            return false;
    }
}

WaitResult WaitForEither(Event& first, Event& second, uint32_t timeoutMs) {
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    Event* events[2] = {&first, &second};
    for (;;) {
        uint32_t left = timeoutMs;
        if (timeoutMs != kWaitForever) {
            const uint64_t now = MonotonicMs();
            left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
        }
        // The first event has the stop's place: it wins when both are set.
        const PollResult r =
            WaitReadyOrStop(Fd(second.NativeHandle()), POLLIN, Fd(first.NativeHandle()), left);
        if (r == PollResult::Error)
            return WaitResult::Failed;
        if (r == PollResult::Timeout)
            return WaitResult::Timeout;
        const int i = r == PollResult::Stop ? 0 : 1;
        if (events[i]->ManualReset() || TryConsume(Fd(events[i]->NativeHandle())))
            return i == 0 ? WaitResult::First : WaitResult::Second;
        if (left == 0)
            return WaitResult::Timeout;
    }
}

static_assert(sizeof(pthread_mutex_t) <= 64);

Mutex::Mutex() {
    new (storage_) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER);
}
Mutex::~Mutex() {
    pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_));
}
void Mutex::Lock() {
    pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_));
}
void Mutex::Unlock() {
    pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

RecursiveMutex::RecursiveMutex() {
    auto* m = new (storage_) pthread_mutex_t;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
}
RecursiveMutex::~RecursiveMutex() {
    pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_));
}
void RecursiveMutex::Lock() {
    pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_));
}
void RecursiveMutex::Unlock() {
    pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

void SleepMs(uint32_t ms) {
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

uint64_t MonotonicMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

namespace {
thread_local uint32_t t_lastError = 0;

// Shared by the thread and its Thread object; the last of the two to let go frees it.
struct ThreadStart {
    Thread::Entry entry;
    void* arg;
    Event done{true};
    std::atomic<int> refs{2};
    pthread_t id{};
};

void Release(ThreadStart* s) {
    if (s->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete s;
}

void* Trampoline(void* p) {
    auto* s = static_cast<ThreadStart*>(p);
    s->entry(s->arg);
    s->done.Set();
    Release(s);
    return nullptr;
}
}  // namespace

uint32_t GetLastErrorCode() {
    return t_lastError;
}
void SetLastErrorCode(uint32_t code) {
    t_lastError = code;
}

Thread::~Thread() {
    if (Running())
        Detach();
}

bool Thread::Start(Entry entry, void* arg) {
    if (Running())
        return false;
    auto* s = new (std::nothrow) ThreadStart{entry, arg};
    if (s == nullptr || !s->done.Valid()) {
        delete s;
        SetLastErrorCode(8);  // not enough memory
        return false;
    }
    const int rc = pthread_create(&s->id, nullptr, Trampoline, s);
    if (rc != 0) {
        delete s;
        SetLastErrorCode(rc == EAGAIN ? 8u : 31u);  // not enough memory / general failure
        return false;
    }
    start_ = s;
    handle_ = 1;
    return true;
}

bool Thread::Join(uint32_t timeoutMs) {
    if (!Running())
        return true;
    auto* s = static_cast<ThreadStart*>(start_);
    if (!s->done.Wait(timeoutMs)) {
        SetLastErrorCode(258);  // wait timed out
        return false;
    }
    pthread_join(s->id, nullptr);
    Release(s);
    start_ = nullptr;
    handle_ = 0;
    return true;
}

void Thread::Detach() {
    if (!Running())
        return;
    auto* s = static_cast<ThreadStart*>(start_);
    pthread_detach(s->id);
    Release(s);
    start_ = nullptr;
    handle_ = 0;
}

}  // namespace qm
