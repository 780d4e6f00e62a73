// The display orientation of the primary display, as Windows codes it (DMDO_*: 0, 1 = 90°,
// 2 = 180°, 3 = 270°).
#pragma once

#include <atomic>
#include <cstdint>

namespace qm {

class IDisplayOrientation {
public:
    virtual ~IDisplayOrientation() = default;
    // False when the display reports no orientation.
    virtual bool Read(int32_t& orientation) = 0;
};

// No source of orientation (a display driver that never reports one); tests set one.
class FixedDisplayOrientation final : public IDisplayOrientation {
public:
    bool Read(int32_t& orientation) override {
        const int32_t v = value.load();
        if (v < 0)
            return false;
        orientation = v;
        return true;
    }
    std::atomic<int32_t> value{-1};
};

}  // namespace qm
