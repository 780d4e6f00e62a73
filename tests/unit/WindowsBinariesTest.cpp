// The shipped Windows binaries: machine type, exactly the exports and ordinals that callers
// bind to, and no MinGW runtime DLL among the imports.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <cctype>
#include <cstdlib>

#include "PeImage.h"

namespace qm::test {
namespace {

constexpr uint16_t kAmd64 = 0x8664;
constexpr uint16_t kI386 = 0x014C;

struct Binary {
    const char* build;  // the cross build's preset and folder under build/
    const char* file;
    uint16_t machine;
    bool dll;
    std::vector<PeExport> exports;
};

const Binary kBinaries[] = {
    {"win64", "QmHidSrv.exe", kAmd64, false, {}},
    {"win64", "QmHidCal.exe", kAmd64, false, {}},
    {"win64", "QmWinTab.dll", kAmd64, true, {{"ScreenRotate", 1}}},
    {"win64", "QmCoIns2.dll", kAmd64, true, {{"QmiClassInstaller", 1}, {"QmiDeviceInstaller", 2}}},
    {"win64", "QmCoIns1.dll", kAmd64, true, {{"ClassInstaller", 1}, {"DeviceInstaller", 2}}},
    {"win32", "QmCoIns2.dll", kI386, true, {{"QmiClassInstaller", 1}, {"QmiDeviceInstaller", 2}}},
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

class WindowsBinaries : public testing::TestWithParam<Binary> {};

TEST_P(WindowsBinaries, MachineExportsAndImports) {
    const Binary& b = GetParam();
    const char* root = std::getenv("QMHID_BUILD_ROOT");
    if (root == nullptr)
        GTEST_SKIP() << "QMHID_BUILD_ROOT is not set; ctest sets it";
    const std::string path = std::string(root) + "/" + b.build + "/" + b.file;
    if (!std::ifstream(path))
        GTEST_SKIP() << path << " is not built; cmake --build --preset " << b.build << " makes it";
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
