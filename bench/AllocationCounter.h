// Counts global operator new calls, so a benchmark can show that a path allocates nothing.
#pragma once

#include <cstdint>

namespace qm::bench {
uint64_t AllocationCount();
}
