// libFuzzer target: a report descriptor and reports to it, through the parser and the decoder.
// Input: [descriptor length (1 byte)] [descriptor] [report bytes ...], the rest cut into reports
// of the chosen collection's input length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hid/HidDescriptor.h"
#include "QmHidSrv/HidTablet.h"
#include "QmHidSrv/PointerMapping.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t descriptorLength = data[0];
    if (size < 1 + descriptorLength)
        return 0;
    const qm::HidDescriptorParse parse = qm::ParseReportDescriptor(data + 1, descriptorLength);
    if (!parse.ok)
        return 0;
    const uint8_t* rest = data + 1 + descriptorLength;
    const size_t restSize = size - 1 - descriptorLength;
    for (const qm::HidCollection& c : parse.collections) {
        qm::PenDecoder decoder;
        decoder.Init(c, c.caps);
        qm::PointerState state;
        const size_t n = c.caps.inputReportByteLength;
        if (n == 0)
            continue;
        std::vector<uint8_t> report(n);
        std::vector<qm::UsageAndPage> all(c.caps.numberInputButtonCaps + 8u);
        for (size_t off = 0; off + n <= restSize; off += n) {
            std::copy(rest + off, rest + off + n, report.begin());
            qm::PenSample s;
            if (decoder.Decode(c, report.data(), static_cast<uint32_t>(n), s))
                qm::MapSample({0, 0, decoder.xMax, decoder.yMax}, s.buttons, state,
                              static_cast<int32_t>(s.x), static_cast<int32_t>(s.y),
                              static_cast<uint8_t>(s.buttons), false);
            uint32_t count = static_cast<uint32_t>(all.size());
            c.GetUsagesEx(all.data(), count, report.data(), static_cast<uint32_t>(n));
            uint32_t v = 0;
            c.GetUsageValue(report[0], report[n - 1], v, report.data(), static_cast<uint32_t>(n));
        }
    }
    return 0;
}
