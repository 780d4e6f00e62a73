#include "platform/virtual/RecordingPointerOutput.h"

namespace qm {

RecordingPointerOutput::RecordingPointerOutput(size_t capacity) {
    events_.reserve(capacity);
}

uint32_t RecordingPointerOutput::Inject(const PointerEvent& event) {
    {
        LockGuard guard(lock_);
        if (events_.size() < events_.capacity())
            events_.push_back(event);
        ++total_;
    }
    injected_.Set();
    return 1;
}

std::vector<PointerEvent> RecordingPointerOutput::Events() {
    LockGuard guard(lock_);
    return events_;
}

size_t RecordingPointerOutput::Count() {
    LockGuard guard(lock_);
    return total_;
}

bool RecordingPointerOutput::WaitForCount(size_t count, uint32_t timeoutMs) {
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        if (Count() >= count)
            return true;
        const uint64_t now = MonotonicMs();
        if (now >= deadline)
            return false;
        injected_.Wait(static_cast<uint32_t>(deadline - now));
    }
}

void RecordingPointerOutput::Clear() {
    LockGuard guard(lock_);
    events_.clear();
    total_ = 0;
}

}  // namespace qm
