// Control-pipe messages: little-endian fields at fixed offsets, read and written byte by byte,
// so no layout depends on struct packing or the host's byte order. One table says what each
// request is; typed encoders and decoders write and read each message's fields.
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

inline constexpr size_t kMaxMessage = 1024;

// The header of every message: type at 0, length at 2, device token at 8.
inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kTypeOffset = 0;
inline constexpr size_t kLengthOffset = 2;
inline constexpr size_t kTokenOffset = 8;

// Message types.
enum : uint8_t {
    kGetCalibration = 1,
    kRawPenReport = 2,  // pushed to the client in raw mode
    kSetRawMode = 3,
    kSetRotation = 4,
    kSetCalibration = 5,
    kEnumerateDevices = 6,
    kGetDeviceStrings = 7,
    kFindDeviceByPath = 8,
    kGetLastActiveDevice = 9,
};

inline constexpr size_t kRawPenReportSize = 32;
inline constexpr size_t kGetCalibrationSize = 32;
inline constexpr size_t kSetRawModeSize = 24;
inline constexpr size_t kSetRotationSize = 24;
inline constexpr size_t kSetCalibrationSize = 32;
inline constexpr size_t kEnumerateDevicesSize = 24;
inline constexpr size_t kGetDeviceStringsSize = 1024;
inline constexpr size_t kFindDeviceByPathSize = 1024;
inline constexpr size_t kGetLastActiveDeviceSize = 16;

// What the service accepts: one row per request type. A request is taken only at exactly its
// size with a length field that says so, and, where it needs a listed device, with a token
// that names one; the reply, where there is one, is the request with its fields overwritten.
struct RequestRule {
    uint8_t type;
    uint16_t size;
    bool needsDevice;
    bool hasReply;
};
inline constexpr RequestRule kRequestRules[] = {
    {kGetCalibration, kGetCalibrationSize, true, true},
    {kSetRawMode, kSetRawModeSize, true, false},
    {kSetRotation, kSetRotationSize, true, false},
    {kSetCalibration, kSetCalibrationSize, true, false},
    {kEnumerateDevices, kEnumerateDevicesSize, false, true},
    {kGetDeviceStrings, kGetDeviceStringsSize, true, true},
    {kFindDeviceByPath, kFindDeviceByPathSize, true, true},
    {kGetLastActiveDevice, kGetLastActiveDeviceSize, false, true},
};

// The rule of a request type; null for type 0, raw pen reports and undefined types.
constexpr const RequestRule* FindRequestRule(uint8_t type) {
    for (const RequestRule& r : kRequestRules)
        if (r.type == type)
            return &r;
    return nullptr;
}

// Field offsets past the header.
inline constexpr size_t kValueOffset = 16;        // raw mode byte, angle, index, calibration
inline constexpr size_t kDeviceCountOffset = 20;  // enumerate reply
inline constexpr size_t kStringFieldSize = 336;
inline constexpr size_t kManufacturerOffset = 16;
inline constexpr size_t kProductOffset = 352;
inline constexpr size_t kSerialNumberOffset = 688;
inline constexpr size_t kPathOffset = 16;
inline constexpr size_t kPathFieldSize = 1008;
inline constexpr size_t kRawXOffset = 16;
inline constexpr size_t kRawYOffset = 20;
inline constexpr size_t kRawButtonsOffset = 24;

// The header.
inline uint8_t TypeOf(const uint8_t* m) {
    return m[kTypeOffset];
}
inline uint16_t LengthOf(const uint8_t* m) {
    return Get16(m + kLengthOffset);
}
inline uint64_t TokenOf(const uint8_t* m) {
    return Get64(m + kTokenOffset);
}
inline void PutToken(uint8_t* m, uint64_t token) {
    Put64(m + kTokenOffset, token);
}

// A request of `size` bytes with its header filled in and the rest zero.
inline void BeginRequest(uint8_t* m, size_t size, uint8_t type, uint64_t token) {
    for (size_t i = 0; i < size; ++i)
        m[i] = 0;
    m[kTypeOffset] = type;
    Put16(m + kLengthOffset, static_cast<uint16_t>(size));
    PutToken(m, token);
}

// Calibration (get reply, set request): four signed values from offset 16.
struct CalibrationValues {
    int32_t xOrigin = 0;
    int32_t yOrigin = 0;
    int32_t xExtent = 0;
    int32_t yExtent = 0;
    friend bool operator==(const CalibrationValues&, const CalibrationValues&) = default;
};
inline void PutCalibration(uint8_t* m, const CalibrationValues& c) {
    Put32(m + kValueOffset, static_cast<uint32_t>(c.xOrigin));
    Put32(m + kValueOffset + 4, static_cast<uint32_t>(c.yOrigin));
    Put32(m + kValueOffset + 8, static_cast<uint32_t>(c.xExtent));
    Put32(m + kValueOffset + 12, static_cast<uint32_t>(c.yExtent));
}
inline CalibrationValues CalibrationOf(const uint8_t* m) {
    return {static_cast<int32_t>(Get32(m + kValueOffset)),
            static_cast<int32_t>(Get32(m + kValueOffset + 4)),
            static_cast<int32_t>(Get32(m + kValueOffset + 8)),
            static_cast<int32_t>(Get32(m + kValueOffset + 12))};
}
inline void EncodeGetCalibration(uint8_t (&m)[kGetCalibrationSize], uint64_t token) {
    BeginRequest(m, sizeof m, kGetCalibration, token);
}
inline void EncodeSetCalibration(uint8_t (&m)[kSetCalibrationSize], uint64_t token,
                                 const CalibrationValues& c) {
    BeginRequest(m, sizeof m, kSetCalibration, token);
    PutCalibration(m, c);
}

// Set raw mode: one byte, 0 off, anything else on.
inline void EncodeSetRawMode(uint8_t (&m)[kSetRawModeSize], uint64_t token, bool on) {
    BeginRequest(m, sizeof m, kSetRawMode, token);
    m[kValueOffset] = on ? 1 : 0;
}
inline uint8_t RawModeOf(const uint8_t* m) {
    return m[kValueOffset];
}

// Set rotation: an angle in degrees.
inline void EncodeSetRotation(uint8_t (&m)[kSetRotationSize], uint64_t token, uint16_t angle) {
    BeginRequest(m, sizeof m, kSetRotation, token);
    Put16(m + kValueOffset, angle);
}
inline uint16_t AngleOf(const uint8_t* m) {
    return Get16(m + kValueOffset);
}

// Enumerate devices: an index in; the token at it and the device count back.
inline void EncodeEnumerateDevices(uint8_t (&m)[kEnumerateDevicesSize], uint16_t index) {
    BeginRequest(m, sizeof m, kEnumerateDevices, 0);
    Put16(m + kValueOffset, index);
}
inline uint16_t IndexOf(const uint8_t* m) {
    return Get16(m + kValueOffset);
}
inline void PutDeviceCount(uint8_t* m, uint32_t count) {
    Put32(m + kDeviceCountOffset, count);
}
inline uint32_t DeviceCountOf(const uint8_t* m) {
    return Get32(m + kDeviceCountOffset);
}

// Get device strings: three UTF-16LE fields of 336 bytes.
inline constexpr size_t kStringOffsets[3] = {kManufacturerOffset, kProductOffset,
                                             kSerialNumberOffset};
inline void EncodeGetDeviceStrings(uint8_t (&m)[kGetDeviceStringsSize], uint64_t token) {
    BeginRequest(m, sizeof m, kGetDeviceStrings, token);
}

// Find device by path: an 8-bit path, ended by a zero byte or by its field.
inline void EncodeFindDeviceByPath(uint8_t (&m)[kFindDeviceByPathSize], uint64_t token,
                                   const char* path) {
    BeginRequest(m, sizeof m, kFindDeviceByPath, token);
    for (size_t i = 0; i + 1 < kPathFieldSize && path[i] != 0; ++i)
        m[kPathOffset + i] = static_cast<uint8_t>(path[i]);
}
// Copies the path into out (kPathFieldSize + 1 chars), always ended by a zero.
inline void PathOf(const uint8_t* m, char (&out)[kPathFieldSize + 1]) {
    size_t length = 0;
    while (length < kPathFieldSize && m[kPathOffset + length] != 0) {
        out[length] = static_cast<char>(m[kPathOffset + length]);
        ++length;
    }
    out[length] = 0;
}

// Get last active device: the header alone.
inline void EncodeGetLastActiveDevice(uint8_t (&m)[kGetLastActiveDeviceSize]) {
    BeginRequest(m, sizeof m, kGetLastActiveDevice, 0);
}

// Raw pen report, pushed to the client in raw mode; reserved bytes are zero.
struct RawPenReport {
    uint64_t token = 0;
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t buttons = 0;
};
inline void EncodeRawPenReport(uint8_t (&m)[kRawPenReportSize], uint64_t token, uint32_t x,
                               uint32_t y, uint8_t buttons) {
    BeginRequest(m, sizeof m, kRawPenReport, token);
    Put32(m + kRawXOffset, x);
    Put32(m + kRawYOffset, y);
    Put32(m + kRawButtonsOffset, buttons);
}
inline RawPenReport RawPenReportOf(const uint8_t* m) {
    return {TokenOf(m), Get32(m + kRawXOffset), Get32(m + kRawYOffset),
            Get32(m + kRawButtonsOffset)};
}

}  // namespace qm::pipe
