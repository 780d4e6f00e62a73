// Reads what a test needs of a Windows PE image: the machine type, the exports with their
// ordinals and the names of the imported DLLs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::test {

struct PeExport {
    std::string name;
    uint32_t ordinal;
    friend bool operator==(const PeExport&, const PeExport&) = default;
};

struct PeImage {
    uint16_t machine = 0;  // 0x8664 x86-64, 0x014C i386
    bool isDll = false;
    std::vector<PeExport> exports;
    std::vector<std::string> imports;
};

// Empty when the file cannot be read or is not a well-formed PE image.
std::optional<PeImage> ReadPeImage(const std::string& path);

}  // namespace qm::test
