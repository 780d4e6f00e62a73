// The service's status codes and their texts: the manager's start failures, the event
// identifiers of its message table (made from the rows below at build time), and the lines
// that the Linux service logs. One row a line, in this form, for the table's generator.
#pragma once

#include <cstdint>

namespace qm {

inline constexpr uint32_t kStatusWindowsApiError = 0xC0050001;
inline constexpr uint32_t kStatusDriverAccessError = 0xC0050002;
inline constexpr uint32_t kStatusTabletActivationFailure = 0xC0050003;
inline constexpr uint32_t kStatusFailedToClaimTablet = 0xC0050004;
inline constexpr uint32_t kStatusFailedToGetTabletInfo = 0xC0050005;

struct StatusCode {
    uint32_t code;
    const char* symbol;  // the message table's symbolic name
    const char* text;
};

// clang-format off
inline constexpr StatusCode kStatusCodes[] = {
    {kStatusWindowsApiError, "QMHID_WINDOWS_API_ERROR", "Windows API error."},
    {kStatusDriverAccessError, "QMHID_DRIVER_ACCESS_ERROR", "Driver access error."},
    {kStatusTabletActivationFailure, "QMHID_TABLET_ACTIVATION_FAILURE", "Tablet activation failure."},
    {kStatusFailedToClaimTablet, "QMHID_FAILED_TO_CLAIM_TABLET", "Failed to claim tablet."},
    {kStatusFailedToGetTabletInfo, "QMHID_FAILED_TO_GET_TABLET_INFO", "Failed to get tablet information."},
};
// clang-format on

inline const char* StatusText(uint32_t code) {
    for (const StatusCode& s : kStatusCodes)
        if (s.code == code)
            return s.text;
    return "Unknown status.";
}

}  // namespace qm
