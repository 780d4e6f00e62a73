#include "PeImage.h"

#include <fstream>
#include <iterator>

namespace qm::test {

namespace {

struct Bytes {
    std::vector<unsigned char> data;

    bool Has(size_t offset, size_t size) const {
        return offset <= data.size() && size <= data.size() - offset;
    }
    uint32_t U16(size_t o) const { return Has(o, 2) ? data[o] | data[o + 1] << 8 : 0; }
    uint32_t U32(size_t o) const {
        return Has(o, 4) ? static_cast<uint32_t>(data[o] | data[o + 1] << 8 | data[o + 2] << 16) |
                               static_cast<uint32_t>(data[o + 3]) << 24
                         : 0;
    }
    std::string Str(size_t o) const {
        std::string s;
        while (o < data.size() && data[o] != 0)
            s += static_cast<char>(data[o++]);
        return s;
    }
};

struct Section {
    uint32_t va, size, raw;
};

}  // namespace

std::optional<PeImage> ReadPeImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    Bytes b{std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {})};
    if (b.U16(0) != 0x5A4D)
        return std::nullopt;  // "MZ"
    const size_t pe = b.U32(0x3C);
    if (b.U32(pe) != 0x00004550)
        return std::nullopt;  // "PE\0\0"
    PeImage image;
    const size_t coff = pe + 4;
    image.machine = static_cast<uint16_t>(b.U16(coff));
    const uint32_t sections = b.U16(coff + 2);
    const uint32_t optionalSize = b.U16(coff + 16);
    image.isDll = (b.U16(coff + 18) & 0x2000) != 0;
    const size_t opt = coff + 20;
    const uint32_t magic = b.U16(opt);
    if (magic != 0x10B && magic != 0x20B)
        return std::nullopt;
    const size_t dirs = opt + (magic == 0x20B ? 112 : 96);

    std::vector<Section> table;
    for (uint32_t i = 0; i < sections; ++i) {
        const size_t s = opt + optionalSize + i * 40;
        table.push_back({b.U32(s + 12), b.U32(s + 8), b.U32(s + 20)});
    }
    auto offsetOf = [&](uint32_t rva) -> size_t {
        for (const Section& s : table)
            if (rva >= s.va && rva < s.va + s.size)
                return rva - s.va + s.raw;
        return SIZE_MAX;
    };

    const size_t exportDir = offsetOf(b.U32(dirs));
    if (b.U32(dirs) != 0 && b.Has(exportDir, 40)) {
        const uint32_t base = b.U32(exportDir + 16);
        const uint32_t names = b.U32(exportDir + 24);
        const size_t nameTable = offsetOf(b.U32(exportDir + 32));
        const size_t ordinalTable = offsetOf(b.U32(exportDir + 36));
        for (uint32_t i = 0; i < names; ++i)
            image.exports.push_back(
                {b.Str(offsetOf(b.U32(nameTable + 4 * i))), base + b.U16(ordinalTable + 2 * i)});
    }
    const size_t importDir = offsetOf(b.U32(dirs + 8));
    if (b.U32(dirs + 8) != 0) {
        for (size_t d = importDir; b.Has(d, 20) && b.U32(d + 12) != 0; d += 20)
            image.imports.push_back(b.Str(offsetOf(b.U32(d + 12))));
    }
    return image;
}

}  // namespace qm::test
