// Absolute pointer output: the one operation that the mapping needs of the platform.
#pragma once

#include <cstdint>

namespace qm {

// Mouse event flags, with the values Windows gives them.
inline constexpr uint32_t kMouseMove = 0x0001;
inline constexpr uint32_t kMouseLeftDown = 0x0002;
inline constexpr uint32_t kMouseLeftUp = 0x0004;
inline constexpr uint32_t kMouseRightDown = 0x0008;
inline constexpr uint32_t kMouseRightUp = 0x0010;
inline constexpr uint32_t kMouseVirtualDesk = 0x4000;
inline constexpr uint32_t kMouseAbsolute = 0x8000;

// One absolute pointer event: dx and dy in 0..65535 over the virtual desktop.
struct PointerEvent {
    int32_t dx = 0;
    int32_t dy = 0;
    uint32_t flags = 0;
    friend bool operator==(const PointerEvent&, const PointerEvent&) = default;
};

class IPointerOutput {
public:
    virtual ~IPointerOutput() = default;
    // Injects one event; returns the number of events injected (0 or 1). Must not allocate.
    virtual uint32_t Inject(const PointerEvent& event) = 0;
};

}  // namespace qm
