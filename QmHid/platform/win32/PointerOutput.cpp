#include "platform/win32/PointerOutput.h"

#include <windows.h>

namespace qm {

uint32_t SendInputPointerOutput::Inject(const PointerEvent& event) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = event.dx;
    input.mi.dy = event.dy;
    input.mi.mouseData = 0;
    input.mi.dwFlags = event.flags;
    input.mi.time = 0;
    input.mi.dwExtraInfo = 0;
    return SendInput(1, &input, sizeof(INPUT));
}

}  // namespace qm
