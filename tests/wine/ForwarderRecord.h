// What the stand-in co-installer saw of one call, written into the record that the test
// passes as the context's PrivateData.
#pragma once

#include <windows.h>
#include <setupapi.h>

struct ForwarderRecord {
    enum Entry { None = 0, Class = 1, Device = 2 };
    Entry entry = None;
    DI_FUNCTION installFunction = 0;
    HDEVINFO deviceInfoSet = nullptr;
    PSP_DEVINFO_DATA deviceInfoData = nullptr;
    PCOINSTALLER_CONTEXT_DATA context = nullptr;
    int calls = 0;

    // A result per entry and code: the post-processing request for an installation's first
    // phase, else a value with high bits set that tells the two entry points apart.
    static DWORD ResultFor(Entry which, DI_FUNCTION f) {
        if (which == Device && f == DIF_INSTALLDEVICE)
            return 0xE0000226u;
        return (which == Class ? 0xA5000000u : 0x5A000000u) | static_cast<DWORD>(f);
    }
};
