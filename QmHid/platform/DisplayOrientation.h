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
    // Whether tablets follow this display at all. Where they do (Windows), a tablet takes the
    // display's rotation when it arrives, 0 while none was reported; where they do not (Linux
    // has no display orientation of its own), each tablet keeps the rotation stored for it.
    virtual bool Followed() const { return true; }
};

// A display whose orientation a test sets (-1: none reported yet).
class FixedDisplayOrientation final : public IDisplayOrientation {
public:
    bool Read(int32_t& orientation) override {
        const int32_t v = value.load();
        if (v < 0)
            return false;
        orientation = v;
        return true;
    }
    bool Followed() const override { return followed.load(); }
    std::atomic<int32_t> value{-1};
    std::atomic<bool> followed{true};
};

// No display orientation at all: tablets keep their own rotation.
class NoDisplayOrientation final : public IDisplayOrientation {
public:
    bool Read(int32_t&) override { return false; }
    bool Followed() const override { return false; }
};

}  // namespace qm
