// A pointer output that prints each event as one JSON line to a file descriptor.
#pragma once

#include "platform/PointerOutput.h"

namespace qm {

class PrintPointerOutput final : public IPointerOutput {
public:
    explicit PrintPointerOutput(int fd = 1) : fd_(fd) {}
    // Writes {"dx":..,"dy":..,"flags":..} and a newline with one write, from a stack buffer.
    uint32_t Inject(const PointerEvent& event) override;

private:
    int fd_;
};

}  // namespace qm
