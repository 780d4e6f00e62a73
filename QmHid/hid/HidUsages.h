// The usage pages and usages that this system reads, after the HID Usage Tables. One list for
// the parser, the tablets, the outputs, the tools and the tests.
#pragma once

#include <cstdint>

namespace qm::hid {

// Usage pages.
inline constexpr uint16_t kPageGenericDesktop = 0x01;
inline constexpr uint16_t kPageButton = 0x09;
inline constexpr uint16_t kPageDigitizer = 0x0D;

// Generic Desktop page.
inline constexpr uint16_t kUsagePointer = 0x01;
inline constexpr uint16_t kUsageMouse = 0x02;
inline constexpr uint16_t kUsageKeyboard = 0x06;
inline constexpr uint16_t kUsageX = 0x30;
inline constexpr uint16_t kUsageY = 0x31;

// Digitizer page.
inline constexpr uint16_t kUsageDigitizer = 0x01;
inline constexpr uint16_t kUsagePen = 0x02;
inline constexpr uint16_t kUsageTouchScreen = 0x04;
inline constexpr uint16_t kUsageTouchPad = 0x05;
inline constexpr uint16_t kUsageStylus = 0x20;
inline constexpr uint16_t kUsageTipPressure = 0x30;
inline constexpr uint16_t kUsageInRange = 0x32;
inline constexpr uint16_t kUsageInvert = 0x3C;
inline constexpr uint16_t kUsageXTilt = 0x3D;
inline constexpr uint16_t kUsageYTilt = 0x3E;
inline constexpr uint16_t kUsageTipSwitch = 0x42;
inline constexpr uint16_t kUsageBarrelSwitch = 0x44;
inline constexpr uint16_t kUsageEraser = 0x45;
inline constexpr uint16_t kUsageSecondaryBarrelSwitch = 0x5A;
inline constexpr uint16_t kUsageTransducerSerialNumber = 0x5B;

}  // namespace qm::hid
