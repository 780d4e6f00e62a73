// The sample INF read by Wine's own INF parser (setupapi): for each platform, the install
// section Setup picks has its .Services and .CoInstallers sections, and the co-installer is
// registered with that platform's library and entry point.
//   inf_wine_test INF
#include <windows.h>
// clang-format off
#include <setupapi.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/wine/WineTest.h"

namespace {

struct Platform {
    const char* name;
    WORD architecture;
    const char* library;  // "library,entry point" of the device co-installer
};

const Platform kPlatforms[] = {
    {"x86", PROCESSOR_ARCHITECTURE_INTEL, "QmCoIns2.dll,QmiDeviceInstaller"},
    {"x64", PROCESSOR_ARCHITECTURE_AMD64, "QmCoIns1.dll,DeviceInstaller"},
};

bool HasSection(HINF inf, const std::string& section) {
    return SetupGetLineCountA(inf, section.c_str()) >= 0;
}

// The value named in `key` of `section` ("AddReg = X"): X, or "".
std::string Field(HINF inf, const std::string& section, const char* key) {
    INFCONTEXT ctx;
    char value[256] = {};
    if (!SetupFindFirstLineA(inf, section.c_str(), key, &ctx) ||
        !SetupGetStringFieldA(&ctx, 1, value, sizeof value, nullptr))
        return "";
    return value;
}

// The CoInstallers32 value that an AddReg section writes under HKR.
std::string CoInstallerValue(HINF inf, const std::string& addReg) {
    INFCONTEXT ctx;
    if (!SetupFindFirstLineA(inf, addReg.c_str(), nullptr, &ctx))
        return "";
    do {
        char root[16] = {}, name[64] = {}, value[256] = {};
        SetupGetStringFieldA(&ctx, 1, root, sizeof root, nullptr);
        SetupGetStringFieldA(&ctx, 3, name, sizeof name, nullptr);
        if (std::strcmp(root, "HKR") == 0 && std::strcmp(name, "CoInstallers32") == 0 &&
            SetupGetStringFieldA(&ctx, 5, value, sizeof value, nullptr))
            return value;
    } while (SetupFindNextLine(&ctx, &ctx));
    return "";
}

}  // namespace

TEST(SampleInfUnderWine, SetupApiReadsIt) {
    WINETEST_NEEDS_ARGS(1, "inf_wine_test INF");
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(winetest::Arg(1), nullptr, INF_STYLE_WIN4, &errorLine);
    EXPECT_TRUE(inf != INVALID_HANDLE_VALUE);
    if (inf == INVALID_HANDLE_VALUE) {
        std::printf("SetupOpenInfFile: error %lu at line %u\n", GetLastError(), errorLine);
        return;
    }
    for (const Platform& p : kPlatforms) {
        SP_ALTPLATFORM_INFO_V2 alt{};
        alt.cbSize = sizeof alt;
        alt.Platform = VER_PLATFORM_WIN32_NT;
        alt.MajorVersion = 6;
        alt.MinorVersion = 1;
        alt.ProcessorArchitecture = p.architecture;
        char section[256] = {};
        DWORD required = 0;
        char* extension = nullptr;
        const BOOL ok = SetupDiGetActualSectionToInstallExA(
            inf, "QmPen_Install", reinterpret_cast<SP_ALTPLATFORM_INFO*>(&alt), section,
            sizeof section, &required, &extension, nullptr);
        std::printf("%s: actual install section %s (%s)\n", p.name, ok ? section : "-",
                    ok ? "from SetupDiGetActualSectionToInstallEx" : "refused");
        EXPECT_TRUE(ok);
        if (!ok)
            continue;
        const std::string want = std::string("QmPen_Install.NT") +
                                 (p.architecture == PROCESSOR_ARCHITECTURE_AMD64 ? "amd64" : "x86");
        // Wine answers for its own processor: checked there, reported for the other.
        if (p.architecture == PROCESSOR_ARCHITECTURE_AMD64) {
            EXPECT_EQ(std::string(section), want);
        }
        if (std::string(section) != want)
            std::printf(
                "  Wine answered %s for %s, not %s: its setupapi does not decorate for "
                "another platform's processor\n",
                section, p.name, want.c_str());
        // What the platform's Setup would read, checked by the decorated name either way.
        EXPECT_TRUE(HasSection(inf, want));
        EXPECT_TRUE(HasSection(inf, want + ".Services"));
        EXPECT_TRUE(HasSection(inf, want + ".CoInstallers"));
        const std::string addReg = Field(inf, want + ".CoInstallers", "AddReg");
        EXPECT_TRUE(!addReg.empty());
        const std::string value = CoInstallerValue(inf, addReg);
        std::printf("  %s.CoInstallers: AddReg %s writes CoInstallers32 = %s\n", want.c_str(),
                    addReg.c_str(), value.c_str());
        EXPECT_TRUE(value == p.library);
        EXPECT_TRUE(!Field(inf, want, "CopyFiles").empty());
        // The undecorated section is gone, so no platform falls back to it.
        EXPECT_TRUE(!HasSection(inf, "QmPen_Install.NT.CoInstallers"));
    }
    // The files a service install copies include the calibration program.
    INFCONTEXT ctx;
    EXPECT_TRUE(SetupFindFirstLineA(inf, "QmPen_ServiceFiles", "QmHidCal.exe", &ctx) ||
                SetupFindFirstLineA(inf, "SourceDisksFiles", "QmHidCal.exe", &ctx));
    SetupCloseInfFile(inf);
}
