#include "tests/wine/WineTest.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace winetest {
namespace {
std::vector<std::string> g_args;
}  // namespace

size_t ArgCount() {
    return g_args.size();
}

const char* Arg(size_t i) {
    return i < g_args.size() ? g_args[i].c_str() : "";
}

void* StartProgram(const std::string& exe, const std::string& args) {
    std::string line = "\"" + exe + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

int RunTests(int argc, char** argv) {
    // Output as the program writes it, even when a test ends the process.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    for (int i = 0; i < argc; ++i)
        g_args.emplace_back(argv[i]);
    return RUN_ALL_TESTS();
}

}  // namespace winetest
