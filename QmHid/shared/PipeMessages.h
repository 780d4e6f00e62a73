// Control-pipe messages: little-endian fields at fixed offsets, read and written byte by byte,
// so no layout depends on struct packing or the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::pipe {

inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Get32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
inline uint64_t Get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// The header of every message: type at 0, length at 2, device token at 8.
inline constexpr size_t kTypeOffset = 0;
inline constexpr size_t kLengthOffset = 2;
inline constexpr size_t kTokenOffset = 8;

// Message type 2, pushed to the client in raw mode: 32 bytes.
inline constexpr uint8_t kRawPenReport = 2;
inline constexpr size_t kRawPenReportSize = 32;
inline constexpr size_t kRawXOffset = 16;
inline constexpr size_t kRawYOffset = 20;
inline constexpr size_t kRawButtonsOffset = 24;

// Fills a raw pen report; reserved bytes are zero.
inline void EncodeRawPenReport(uint8_t (&m)[kRawPenReportSize], uint64_t token, uint32_t x,
                               uint32_t y, uint8_t buttons) {
    for (uint8_t& b : m)
        b = 0;
    m[kTypeOffset] = kRawPenReport;
    Put16(m + kLengthOffset, kRawPenReportSize);
    Put64(m + kTokenOffset, token);
    Put32(m + kRawXOffset, x);
    Put32(m + kRawYOffset, y);
    Put32(m + kRawButtonsOffset, buttons);
}

}  // namespace qm::pipe

namespace qm::pipe {

inline constexpr size_t kMaxMessage = 1024;
inline constexpr size_t kHeaderSize = 16;

// Request types and their sizes.
enum : uint8_t {
    kGetCalibration = 1,
    kSetRawMode = 3,
    kSetRotation = 4,
    kSetCalibration = 5,
    kEnumerateDevices = 6,
    kGetDeviceStrings = 7,
    kFindDeviceByPath = 8,
    kGetLastActiveDevice = 9,
};
inline constexpr size_t kGetCalibrationSize = 32;
inline constexpr size_t kSetRawModeSize = 24;
inline constexpr size_t kSetRotationSize = 24;
inline constexpr size_t kSetCalibrationSize = 32;
inline constexpr size_t kEnumerateDevicesSize = 24;
inline constexpr size_t kGetDeviceStringsSize = 1024;
inline constexpr size_t kFindDeviceByPathSize = 1024;
inline constexpr size_t kGetLastActiveDeviceSize = 16;

// Field offsets past the header.
inline constexpr size_t kValueOffset = 16;        // raw mode byte, angle, index, calibration
inline constexpr size_t kDeviceCountOffset = 20;  // enumerate reply
inline constexpr size_t kStringFieldSize = 336;
inline constexpr size_t kManufacturerOffset = 16;
inline constexpr size_t kProductOffset = 352;
inline constexpr size_t kSerialNumberOffset = 688;
inline constexpr size_t kPathOffset = 16;
inline constexpr size_t kPathFieldSize = 1008;

// A request of `size` bytes with its header filled in and the rest zero.
inline void BeginRequest(uint8_t* m, size_t size, uint8_t type, uint64_t token) {
    for (size_t i = 0; i < size; ++i)
        m[i] = 0;
    m[kTypeOffset] = type;
    Put16(m + kLengthOffset, static_cast<uint16_t>(size));
    Put64(m + kTokenOffset, token);
}

}  // namespace qm::pipe
