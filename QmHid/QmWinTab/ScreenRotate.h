// ScreenRotate over any control-pipe client: rotates every tablet of the running service.
#pragma once

#include <cstdint>

#include "platform/MessagePipe.h"

namespace qm {

// -1 when the pipe cannot be opened; otherwise the result of closing it (nonzero on success),
// whether or not any tablet was reached.
int ScreenRotateWith(IPipeClient& pipe, uint16_t angle);

}  // namespace qm
