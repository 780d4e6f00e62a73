#include "platform/posix/PrintPointerOutput.h"

#include <cstdio>
#include <unistd.h>

namespace qm {

uint32_t PrintPointerOutput::Inject(const PointerEvent& event) {
    char line[96];
    const int n = std::snprintf(line, sizeof line, "{\"dx\":%d,\"dy\":%d,\"flags\":%u}\n",
                                static_cast<int>(event.dx), static_cast<int>(event.dy),
                                static_cast<unsigned>(event.flags));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof line)
        return 0;
    return write(fd_, line, static_cast<size_t>(n)) == n ? 1u : 0u;
}

}  // namespace qm
