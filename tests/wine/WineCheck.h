// A small check harness for the Windows test programs that run under Wine (no test framework
// is built for MinGW here). Each program prints its failures and "N passed, N failed".
#pragma once

#include <cstdio>

namespace winetest {

inline int g_passed = 0;
inline int g_failed = 0;

inline void Record(bool ok, const char* what, const char* file, int line) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAILED %s:%d: %s\n", file, line, what);
        std::fflush(stdout);
    }
}

inline int Finish() {
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    std::fflush(stdout);
    return g_failed == 0 && g_passed > 0 ? 0 : 1;
}

}  // namespace winetest

#define CHECK(cond) ::winetest::Record(static_cast<bool>(cond), #cond, __FILE__, __LINE__)
#define CHECK_EQ(a, b)                                                                            \
    do {                                                                                          \
        const auto va_ = (a);                                                                     \
        const auto vb_ = (b);                                                                     \
        ::winetest::Record(va_ == vb_, #a " == " #b, __FILE__, __LINE__);                         \
        if (!(va_ == vb_))                                                                        \
            std::printf("    left %llu (0x%llx), right %llu (0x%llx)\n", (unsigned long long)va_, \
                        (unsigned long long)va_, (unsigned long long)vb_,                         \
                        (unsigned long long)vb_);                                                 \
    } while (0)
