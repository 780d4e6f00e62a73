// The forwarding co-installer: QmCoIns1.dll (path in winetest::Arg(1)) against no QmCoIns2.dll, one
// without the entry points (winetest::Arg(2), a folder) and one that answers (winetest::Arg(3), a
// folder).
#include <windows.h>
#include <setupapi.h>

#include "tests/wine/ForwarderRecord.h"
#include "tests/wine/WineTest.h"

namespace {

using Entry = DWORD(CALLBACK*)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);

Entry Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const DI_FUNCTION kCodes[] = {DIF_SELECTDEVICE,
                              DIF_INSTALLDEVICE,
                              DIF_REMOVE,
                              DIF_PROPERTYCHANGE,
                              DIF_NEWDEVICEWIZARD_FINISHINSTALL,
                              0x7FFF};

}  // namespace

TEST(ForwarderUnderWine, ForwardsToQmCoIns2) {
    WINETEST_NEEDS_ARGS(3, "forwarder_test QmCoIns1.dll NOENTRY_DIR ECHO_DIR");
    HMODULE forwarder = LoadLibraryA(winetest::Arg(1));
    EXPECT_TRUE(forwarder != nullptr);
    if (forwarder == nullptr)
        return;
    Entry classInstaller = Lookup(forwarder, "ClassInstaller");
    Entry deviceInstaller = Lookup(forwarder, "DeviceInstaller");
    EXPECT_TRUE(classInstaller != nullptr);
    EXPECT_TRUE(deviceInstaller != nullptr);
    EXPECT_TRUE(Lookup(forwarder, MAKEINTRESOURCEA(1)) == classInstaller);
    EXPECT_TRUE(Lookup(forwarder, MAKEINTRESOURCEA(2)) == deviceInstaller);
    Entry entries[] = {classInstaller, deviceInstaller};

    ForwarderRecord record;
    COINSTALLER_CONTEXT_DATA context{};
    context.PrivateData = &record;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    auto* const set = reinterpret_cast<HDEVINFO>(static_cast<ULONG_PTR>(0x1234));

    // No QmCoIns2.dll anywhere on the search path: the load's error, whatever the code.
    for (Entry entry : entries)
        for (DI_FUNCTION code : kCodes)
            EXPECT_EQ(entry(code, set, &data, &context), 126u);
    EXPECT_EQ(record.calls, 0);

    // A QmCoIns2.dll without the entry points: the lookup's error, and the library unloaded.
    EXPECT_TRUE(SetDllDirectoryA(winetest::Arg(2)));
    for (Entry entry : entries) {
        EXPECT_EQ(entry(DIF_INSTALLDEVICE, set, &data, &context), 127u);
        EXPECT_TRUE(GetModuleHandleA("QmCoIns2.dll") == nullptr);
    }

    // A QmCoIns2.dll that answers: its result bit for bit, the arguments as given, and the
    // library unloaded after every call.
    EXPECT_TRUE(SetDllDirectoryA(winetest::Arg(3)));
    const ForwarderRecord::Entry kinds[] = {ForwarderRecord::Class, ForwarderRecord::Device};
    for (int i = 0; i < 2; ++i) {
        for (DI_FUNCTION code : kCodes) {
            record = ForwarderRecord{};
            EXPECT_EQ(entries[i](code, set, &data, &context),
                      ForwarderRecord::ResultFor(kinds[i], code));
            EXPECT_EQ(record.calls, 1);
            EXPECT_EQ(static_cast<int>(record.entry), static_cast<int>(kinds[i]));
            EXPECT_EQ(record.installFunction, code);
            EXPECT_TRUE(record.deviceInfoSet == set);
            EXPECT_TRUE(record.deviceInfoData == &data);
            EXPECT_TRUE(record.context == &context);
            EXPECT_TRUE(GetModuleHandleA("QmCoIns2.dll") == nullptr);
        }
    }
    // The two phases of an installation are two calls with a load each; null device data
    // and context pass through as null.
    context.PostProcessing = TRUE;
    record = ForwarderRecord{};
    EXPECT_EQ(deviceInstaller(DIF_INSTALLDEVICE, set, &data, &context), 0xE0000226u);
    EXPECT_EQ(record.calls, 1);
    EXPECT_EQ(deviceInstaller(DIF_REMOVE, nullptr, nullptr, nullptr),
              ForwarderRecord::ResultFor(ForwarderRecord::Device, DIF_REMOVE));

    FreeLibrary(forwarder);
}
