// The texts of the service's status codes, as its message table gives them.
#pragma once

#include <cstdint>

namespace qm {

inline const char* StatusText(uint32_t code) {
    switch (code) {
        case 0xC0050001:
            return "Windows API error.";
        case 0xC0050002:
            return "Driver access error.";
        case 0xC0050003:
            return "Tablet activation failure.";
        case 0xC0050004:
            return "Failed to claim tablet.";
        case 0xC0050005:
            return "Failed to get tablet information.";
        default:
            return "Unknown status.";
    }
}

}  // namespace qm
