// The shipped Windows binaries: machine type, exactly the exports and ordinals that callers
// bind to, and no MinGW runtime DLL among the imports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "PeImage.h"

namespace qm::test {
namespace {

constexpr uint16_t kAmd64 = 0x8664;
constexpr uint16_t kI386 = 0x014C;

struct Binary {
    const char* build;  // environment variable naming the build folder
    const char* file;
    uint16_t machine;
    bool dll;
    std::vector<PeExport> exports;
};

const Binary kBinaries[] = {
    {"QMHID_WIN64_DIR", "QmHidSrv.exe", kAmd64, false, {}},
    {"QMHID_WIN64_DIR", "QmHidCal.exe", kAmd64, false, {}},
    {"QMHID_WIN64_DIR", "QmWinTab.dll", kAmd64, true, {{"ScreenRotate", 1}}},
    {"QMHID_WIN64_DIR",
     "QmCoIns2.dll",
     kAmd64,
     true,
     {{"QmiClassInstaller", 1}, {"QmiDeviceInstaller", 2}}},
    {"QMHID_WIN64_DIR",
     "QmCoIns1.dll",
     kAmd64,
     true,
     {{"ClassInstaller", 1}, {"DeviceInstaller", 2}}},
    {"QMHID_WIN32_DIR",
     "QmCoIns2.dll",
     kI386,
     true,
     {{"QmiClassInstaller", 1}, {"QmiDeviceInstaller", 2}}},
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

class WindowsBinaries : public testing::TestWithParam<Binary> {};

TEST_P(WindowsBinaries, MachineExportsAndImports) {
    const Binary& b = GetParam();
    const char* dir = std::getenv(b.build);
    if (dir == nullptr)
        GTEST_SKIP() << b.build << " is not set; scripts/test sets it";
    const std::string path = std::string(dir) + "/" + b.file;
    const auto image = ReadPeImage(path);
    ASSERT_TRUE(image.has_value()) << path;
    EXPECT_EQ(image->machine, b.machine);
    EXPECT_EQ(image->isDll, b.dll);
    EXPECT_EQ(image->exports, b.exports);
    EXPECT_FALSE(image->imports.empty());
    for (const std::string& import : image->imports) {
        const std::string name = Lower(import);
        EXPECT_EQ(name.find("libgcc"), std::string::npos) << import;
        EXPECT_EQ(name.find("libstdc++"), std::string::npos) << import;
        EXPECT_EQ(name.find("libwinpthread"), std::string::npos) << import;
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, WindowsBinaries, testing::ValuesIn(kBinaries), [](const auto& p) {
    std::string n = std::string(p.param.file) + (p.param.machine == kI386 ? "_i686" : "_x64");
    std::replace(n.begin(), n.end(), '.', '_');
    return n;
});

}  // namespace
}  // namespace qm::test
