// The forwarding co-installer: QmCoIns1.dll (path in argv[1]) against no QmCoIns2.dll, one
// without the entry points (argv[2], a folder) and one that answers (argv[3], a folder).
#include <windows.h>
#include <setupapi.h>

#include "tests/wine/ForwarderRecord.h"
#include "tests/wine/WineCheck.h"

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

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: ForwarderTest QmCoIns1.dll NOENTRY_DIR ECHO_DIR\n");
        return 2;
    }
    HMODULE forwarder = LoadLibraryA(argv[1]);
    CHECK(forwarder != nullptr);
    if (forwarder == nullptr)
        return winetest::Finish();
    Entry classInstaller = Lookup(forwarder, "ClassInstaller");
    Entry deviceInstaller = Lookup(forwarder, "DeviceInstaller");
    CHECK(classInstaller != nullptr);
    CHECK(deviceInstaller != nullptr);
    CHECK(Lookup(forwarder, MAKEINTRESOURCEA(1)) == classInstaller);
    CHECK(Lookup(forwarder, MAKEINTRESOURCEA(2)) == deviceInstaller);
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
            CHECK_EQ(entry(code, set, &data, &context), 126u);
    CHECK_EQ(record.calls, 0);

    // A QmCoIns2.dll without the entry points: the lookup's error, and the library unloaded.
    CHECK(SetDllDirectoryA(argv[2]));
    for (Entry entry : entries) {
        CHECK_EQ(entry(DIF_INSTALLDEVICE, set, &data, &context), 127u);
        CHECK(GetModuleHandleA("QmCoIns2.dll") == nullptr);
    }

    // A QmCoIns2.dll that answers: its result bit for bit, the arguments as given, and the
    // library unloaded after every call.
    CHECK(SetDllDirectoryA(argv[3]));
    const ForwarderRecord::Entry kinds[] = {ForwarderRecord::Class, ForwarderRecord::Device};
    for (int i = 0; i < 2; ++i) {
        for (DI_FUNCTION code : kCodes) {
            record = ForwarderRecord{};
            CHECK_EQ(entries[i](code, set, &data, &context),
                     ForwarderRecord::ResultFor(kinds[i], code));
            CHECK_EQ(record.calls, 1);
            CHECK_EQ(static_cast<int>(record.entry), static_cast<int>(kinds[i]));
            CHECK_EQ(record.installFunction, code);
            CHECK(record.deviceInfoSet == set);
            CHECK(record.deviceInfoData == &data);
            CHECK(record.context == &context);
            CHECK(GetModuleHandleA("QmCoIns2.dll") == nullptr);
        }
    }
    // The two phases of an installation are two calls with a load each; null device data
    // and context pass through as null.
    context.PostProcessing = TRUE;
    record = ForwarderRecord{};
    CHECK_EQ(deviceInstaller(DIF_INSTALLDEVICE, set, &data, &context), 0xE0000226u);
    CHECK_EQ(record.calls, 1);
    CHECK_EQ(deviceInstaller(DIF_REMOVE, nullptr, nullptr, nullptr),
             ForwarderRecord::ResultFor(ForwarderRecord::Device, DIF_REMOVE));

    FreeLibrary(forwarder);
    return winetest::Finish();
}
