// A pointer output that records: the tests' and the replay mode's stand-in for injection.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/PointerOutput.h"
#include "platform/Sync.h"

namespace qm {

// Keeps the first `capacity` events (room is reserved up front, so Inject never allocates) and
// counts the rest. Inject may run on any thread; the lock guards the record.
class RecordingPointerOutput final : public IPointerOutput {
public:
    explicit RecordingPointerOutput(size_t capacity = 4096);
    uint32_t Inject(const PointerEvent& event) override;

    // A copy of what was recorded so far.
    std::vector<PointerEvent> Events();
    size_t Count();
    // Waits until at least `count` events were injected, at most timeoutMs; true when they were.
    bool WaitForCount(size_t count, uint32_t timeoutMs);
    void Clear();

private:
    Mutex lock_;
    Event injected_{false};
    std::vector<PointerEvent> events_;  // guarded by lock_
    size_t total_ = 0;                  // guarded by lock_
};

}  // namespace qm
