#include "decode/DecodeTool.h"

#include <cstdlib>
#include <fstream>
#include <optional>

#include "hid/HidDescriptor.h"
#include "hid/HidRecording.h"
#include "hid/HidUsages.h"
#include "QmHidSrv/HidTablet.h"
#include "QmHidSrv/PointerMapping.h"

namespace qm {

namespace {

constexpr const char* kUsage =
    "usage: qmhid-decode [--collection N] [--rotation 0|90|180|270] "
    "[--calibration X0,Y0,XE,YE] RECORDING";

bool ParseInt(const std::string& s, long long lo, long long hi, long long& out) {
    if (s.empty())
        return false;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != 0 || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool ParseCalibration(const std::string& s, Calibration& c) {
    int32_t v[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t comma = s.find(',', start);
        if ((i < 3) != (comma != std::string::npos))
            return false;
        long long value = 0;
        if (!ParseInt(s.substr(start, comma - start), INT32_MIN, INT32_MAX, value))
            return false;
        v[i] = static_cast<int32_t>(value);
        start = comma + 1;
    }
    c = {v[0], v[1], v[2], v[3]};
    return true;
}

}  // namespace

int RunDecodeTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  DecodeParserSource source) {
    std::optional<long long> collectionIndex;
    std::optional<uint32_t> rotation;
    std::optional<Calibration> calibration;
    std::string path;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        long long v = 0;
        if (a == "--collection" && hasValue) {
            if (!ParseInt(args[++i], 0, 1000, v)) {
                err << "qmhid-decode: --collection takes a number from 0\n";
                return 2;
            }
            collectionIndex = v;
        } else if (a == "--rotation" && hasValue) {
            if (!ParseInt(args[++i], 0, 270, v) || v % 90 != 0) {
                err << "qmhid-decode: --rotation takes 0, 90, 180 or 270\n";
                return 2;
            }
            rotation = static_cast<uint32_t>(v / 90);
        } else if (a == "--calibration" && hasValue) {
            Calibration c;
            if (!ParseCalibration(args[++i], c)) {
                err << "qmhid-decode: --calibration takes X0,Y0,XE,YE\n";
                return 2;
            }
            calibration = c;
        } else if (path.empty() && !a.empty() && a[0] != '-') {
            path = a;
        } else {
            err << kUsage << "\n";
            return 2;
        }
    }
    if (path.empty()) {
        err << kUsage << "\n";
        return 2;
    }
    std::ifstream file(path);
    if (!file) {
        err << "qmhid-decode: " << path << ": cannot open\n";
        return 2;
    }
    HidRecording rec;
    std::string error;
    if (!ParseHidRecording(file, rec, error)) {
        err << "qmhid-decode: " << path << ": " << error << "\n";
        return 2;
    }
    HidDescriptorParse parse = ParseReportDescriptor(rec.descriptor.data(), rec.descriptor.size());
    if (!parse.ok) {
        err << "qmhid-decode: " << path << ": line " << rec.descriptorLine << ": " << parse.error
            << "\n";
        return 2;
    }
    const size_t index = collectionIndex ? static_cast<size_t>(*collectionIndex)
                                         : ChoosePenCollection(parse.collections);
    if (index >= parse.collections.size()) {
        err << "qmhid-decode: " << path << ": line " << rec.descriptorLine << ": there are "
            << parse.collections.size() << " top-level collections\n";
        return 2;
    }
    std::unique_ptr<IHidReportParser> parser;
    if (source != nullptr) {
        parser = source(rec.descriptor, index, error);
        if (parser == nullptr) {
            err << "qmhid-decode: " << path << ": collection " << index << ": " << error << "\n";
            return 2;
        }
    } else {
        parser = std::make_unique<HidCollection>(parse.collections[index]);
    }
    const IHidReportParser& device = *parser;
    HidCaps caps;
    device.GetCaps(caps);
    PenDecoder decoder;
    decoder.Init(device, caps);
    // Reports carry their ID when the collection's X does; otherwise a read puts a zero first.
    std::vector<HidValueCaps> xCaps(caps.numberInputValueCaps + 1u);
    uint16_t xCount = static_cast<uint16_t>(xCaps.size());
    const bool usesReportIds =
        device.GetSpecificValueCaps(hid::kPageGenericDesktop, hid::kUsageX, xCaps.data(), xCount) ==
            HidStatus::Success &&
        xCount >= 1 && xCaps[0].reportId != 0;
    out << "{\"usagePage\":" << caps.usagePage << ",\"usage\":" << caps.usage
        << ",\"inputReportByteLength\":" << caps.inputReportByteLength
        << ",\"inputButtonCaps\":" << caps.numberInputButtonCaps
        << ",\"inputValueCaps\":" << caps.numberInputValueCaps << ",\"xMax\":" << decoder.xMax
        << ",\"yMax\":" << decoder.yMax << ",\"pressureMax\":" << decoder.pressureMax << "}\n";

    const bool mapping = rotation.has_value() || calibration.has_value();
    const Calibration cal = calibration.value_or(Calibration{0, 0, decoder.xMax, decoder.yMax});
    PointerState state;
    std::vector<uint8_t> report(caps.inputReportByteLength);
    for (const HidRecordedReport& r : rec.reports) {
        // As a Windows read would have it: the report ID byte first, zero without report IDs,
        // padded to the input report length.
        const size_t offset = usesReportIds ? 0 : 1;
        PenSample s;
        bool decoded = false;
        if (!report.empty() && r.bytes.size() + offset <= report.size()) {
            std::fill(report.begin(), report.end(), 0);
            std::copy(r.bytes.begin(), r.bytes.end(), report.begin() + static_cast<long>(offset));
            decoded =
                decoder.Decode(device, report.data(), static_cast<uint32_t>(report.size()), s);
        }
        if (!decoded) {
            out << "{\"dropped\":true}\n";
            continue;
        }
        out << "{\"x\":" << s.x << ",\"y\":" << s.y << ",\"pressure\":" << s.pressure
            << ",\"buttons\":" << s.buttons << ",\"inRange\":" << s.inRange;
        if (mapping) {
            const PointerEvent e =
                MapSample(cal, rotation.value_or(0), state, static_cast<int32_t>(s.x),
                          static_cast<int32_t>(s.y), static_cast<uint8_t>(s.buttons), false);
            out << ",\"dx\":" << e.dx << ",\"dy\":" << e.dy << ",\"flags\":" << e.flags;
        }
        out << "}\n";
    }
    return 0;
}

}  // namespace qm
