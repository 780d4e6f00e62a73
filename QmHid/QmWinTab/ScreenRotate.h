// ScreenRotate over any control-pipe client: rotates every tablet of the running service.
#pragma once

#include <cstdint>

#include "platform/MessagePipe.h"

namespace qm {

// -1 when the pipe cannot be opened, or when the service never answers the first request (a
// connection that ends, or stays silent, before its first reply was not served: the service
// was busy or gone); otherwise the result of closing it (nonzero on success), whether or not
// any tablet was listed.
int ScreenRotateWith(IPipeClient& pipe, uint16_t angle);

}  // namespace qm
