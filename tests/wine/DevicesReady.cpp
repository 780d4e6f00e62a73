// Exits 0 once Wine lists its two HID interfaces (virtual mouse and keyboard) as present: a
// fresh prefix's bus driver adds them a moment after the session starts.
#include <cstdio>

#include "tests/wine/PresentHid.h"

int main() {
    const size_t n = winetest::PresentHidInterfaces().size();
    std::printf("%zu HID interfaces present\n", n);
    return n >= 2 ? 0 : 1;
}
