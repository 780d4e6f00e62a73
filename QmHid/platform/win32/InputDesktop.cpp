#include "platform/InputDesktop.h"

#include <windows.h>

namespace qm {

void InputDesktop::Attach() {
    GetDesktopWindow();
    oldStation_ = reinterpret_cast<intptr_t>(GetProcessWindowStation());
    oldDesktop_ = reinterpret_cast<intptr_t>(GetThreadDesktop(GetCurrentThreadId()));
    attached_ = true;
    HWINSTA station = OpenWindowStationA("WinSta0", FALSE, MAXIMUM_ALLOWED);
    if (station == nullptr)
        return;
    station_ = reinterpret_cast<intptr_t>(station);
    SetProcessWindowStation(station);
    HDESK desktop = OpenInputDesktop(DF_ALLOWOTHERACCOUNTHOOK, FALSE, MAXIMUM_ALLOWED);
    if (desktop == nullptr)
        return;
    desktop_ = reinterpret_cast<intptr_t>(desktop);
    SetThreadDesktop(desktop);
}

void InputDesktop::Reattach() {
    HDESK desktop = OpenInputDesktop(DF_ALLOWOTHERACCOUNTHOOK, FALSE, MAXIMUM_ALLOWED);
    if (desktop == nullptr)
        return;
    SetThreadDesktop(desktop);
    // Exactly one input-desktop handle stays open: the one the thread is now on.
    if (desktop_ != 0)
        CloseDesktop(reinterpret_cast<HDESK>(desktop_));
    desktop_ = reinterpret_cast<intptr_t>(desktop);
}

void InputDesktop::Restore() {
    if (!attached_)
        return;
    attached_ = false;
    if (oldDesktop_ != 0)
        SetThreadDesktop(reinterpret_cast<HDESK>(oldDesktop_));
    if (oldStation_ != 0)
        SetProcessWindowStation(reinterpret_cast<HWINSTA>(oldStation_));
    if (desktop_ != 0)
        CloseDesktop(reinterpret_cast<HDESK>(desktop_));
    if (station_ != 0)
        CloseWindowStation(reinterpret_cast<HWINSTA>(station_));
    oldDesktop_ = oldStation_ = desktop_ = station_ = 0;
}

}  // namespace qm
