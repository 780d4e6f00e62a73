// make-recording: adds pen reports to a recording that holds only a descriptor. For each
// top-level collection with X and Y it plays one stroke (hover, tip down with pressure, a
// move, the barrel, tip up, out of range), packing each field where the descriptor puts it:
// the first field of each usage in the collection. The last line is a cut-short report.
//   make-recording IN.hidrec > OUT.hidrec
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "hid/HidDescriptor.h"
#include "hid/HidRecording.h"

namespace {

using qm::HidCollection;

struct Sample {
    int xEighths, yEighths;  // position in eighths of the logical maximum
    int pressureHalves;      // 0, 1 or 2 halves of the pressure maximum
    bool tip, barrel, inRange;
};

const Sample kStroke[] = {
    {2, 3, 0, false, false, true}, {3, 3, 1, true, false, true}, {5, 6, 2, true, false, true},
    {5, 6, 1, true, true, true},   {6, 2, 0, false, true, true}, {0, 0, 0, false, false, false},
};

// Writes value into the first field of (page, usage); false when the collection has none.
bool Put(const HidCollection& c, uint8_t id, uint16_t page, uint16_t usage, int64_t value,
         std::vector<uint8_t>& report) {
    for (const qm::HidInputCap& cap : c.inputCaps) {
        if (cap.reportId != id || cap.usagePage != page || cap.isArray || usage < cap.usageMin ||
            usage > cap.usageMax)
            continue;
        const uint32_t index = cap.isRange ? usage - cap.usageMin : 0;
        const uint32_t bit = cap.bitOffset + index * cap.bitSize;
        for (uint32_t b = 0; b < cap.bitSize; ++b) {
            const uint32_t at = bit + b;
            if (at / 8 >= report.size())
                return false;
            if ((static_cast<uint64_t>(value) >> b) & 1)
                report[at / 8] |= static_cast<uint8_t>(1u << (at % 8));
        }
        return true;
    }
    return false;
}

const qm::HidInputCap* Find(const HidCollection& c, uint16_t page, uint16_t usage) {
    for (const qm::HidInputCap& cap : c.inputCaps)
        if (cap.usagePage == page && !cap.isArray && usage >= cap.usageMin && usage <= cap.usageMax)
            return &cap;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make-recording IN.hidrec\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1]);
    std::stringstream text;
    text << in.rdbuf();
    qm::HidRecording rec;
    std::string error;
    std::istringstream parseIn(text.str());
    if (!qm::ParseHidRecording(parseIn, rec, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const qm::HidDescriptorParse parse =
        qm::ParseReportDescriptor(rec.descriptor.data(), rec.descriptor.size());
    if (!parse.ok) {
        std::fprintf(stderr, "%s\n", parse.error.c_str());
        return 2;
    }
    std::cout << text.str();
    unsigned tick = 0;
    std::vector<uint8_t> last;
    for (const HidCollection& c : parse.collections) {
        const qm::HidInputCap* x = Find(c, 0x01, 0x30);
        const qm::HidInputCap* y = Find(c, 0x01, 0x31);
        if (x == nullptr || y == nullptr)
            continue;
        const uint8_t id = x->reportId;
        const qm::HidInputCap* p = Find(c, 0x0D, 0x30);
        for (const Sample& s : kStroke) {
            std::vector<uint8_t> report(c.caps.inputReportByteLength, 0);
            report[0] = id;
            Put(c, id, 0x01, 0x30, x->logicalMax / 8 * s.xEighths, report);
            Put(c, id, 0x01, 0x31, y->logicalMax / 8 * s.yEighths, report);
            if (p != nullptr)
                Put(c, id, 0x0D, 0x30, p->logicalMax / 2 * s.pressureHalves, report);
            Put(c, id, 0x0D, 0x42, s.tip, report);
            Put(c, id, 0x0D, 0x44, s.barrel, report);
            Put(c, id, 0x0D, 0x32, s.inRange, report);
            // As hidraw gives it: no leading zero byte without report IDs.
            const size_t skip = c.usesReportIds ? 0 : 1;
            char stamp[64];
            std::snprintf(stamp, sizeof stamp, "E: %06u.%06u %zu", tick / 1000000, tick % 1000000,
                          report.size() - skip);
            tick += 7000;
            std::cout << stamp;
            for (size_t i = skip; i < report.size(); ++i) {
                char b[4];
                std::snprintf(b, sizeof b, " %02x", report[i]);
                std::cout << b;
            }
            std::cout << "\n";
            last.assign(report.begin() + static_cast<long>(skip), report.end());
        }
    }
    if (last.size() > 2) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "E: %06u.%06u %zu", tick / 1000000, tick % 1000000,
                      last.size() / 2);
        std::cout << stamp;
        for (size_t i = 0; i < last.size() / 2; ++i) {
            char b[4];
            std::snprintf(b, sizeof b, " %02x", last[i]);
            std::cout << b;
        }
        std::cout << "\n";
    }
    return 0;
}
