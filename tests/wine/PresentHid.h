// The HID interfaces that SetupAPI lists as present (Wine's virtual mouse and keyboard).
#pragma once

#include <windows.h>
// clang-format off
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>
// clang-format on

#include <string>
#include <vector>

namespace winetest {

inline std::vector<std::string> PresentHidInterfaces() {
    std::vector<std::string> paths;
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return paths;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        std::vector<char> buffer(size + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr))
            paths.emplace_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

}  // namespace winetest
