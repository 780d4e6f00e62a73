#include "hid/HidRecording.h"

#include <cstdlib>
#include <sstream>

namespace qm {

namespace {

bool ParseHexByte(const std::string& token, uint8_t& out) {
    if (token.empty() || token.size() > 2)
        return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(token.c_str(), &end, 16);
    if (*end != 0)
        return false;
    out = static_cast<uint8_t>(v);
    return true;
}

// "<count> <hex> <hex> ...": exactly count bytes.
bool ParseCountedBytes(std::istringstream& s, std::vector<uint8_t>& bytes, std::string& why) {
    std::string token;
    if (!(s >> token)) {
        why = "missing byte count";
        return false;
    }
    char* end = nullptr;
    const unsigned long count = std::strtoul(token.c_str(), &end, 10);
    if (*end != 0 || token[0] == '-' || count > 65536) {
        why = "bad byte count '" + token + "'";
        return false;
    }
    bytes.clear();
    while (s >> token) {
        uint8_t b = 0;
        if (!ParseHexByte(token, b)) {
            why = "bad byte '" + token + "'";
            return false;
        }
        bytes.push_back(b);
    }
    if (bytes.size() != count) {
        why = "byte count " + std::to_string(count) + " but " + std::to_string(bytes.size()) +
              " bytes";
        return false;
    }
    return true;
}

bool ParseTimestamp(const std::string& token, uint64_t& micros) {
    const size_t dot = token.find('.');
    if (dot == std::string::npos || dot == 0 || token.size() - dot - 1 != 6)
        return false;
    for (size_t i = 0; i < token.size(); ++i)
        if (i != dot && (token[i] < '0' || token[i] > '9'))
            return false;
    if (dot > 12)
        return false;
    micros = std::strtoull(token.substr(0, dot).c_str(), nullptr, 10) * 1000000u +
             std::strtoull(token.substr(dot + 1).c_str(), nullptr, 10);
    return true;
}

}  // namespace

bool ParseHidRecording(std::istream& in, HidRecording& out, std::string& error) {
    out = HidRecording{};
    std::string text;
    size_t number = 0;
    bool haveDescriptor = false;
    while (std::getline(in, text)) {
        ++number;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.size() < 2 || text[1] != ':')
            continue;
        const char kind = text[0];
        std::istringstream s(text.substr(2));
        std::string why;
        auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(number) + ": " + what;
            return false;
        };
        switch (kind) {
            case 'N': {
                size_t first = text.find_first_not_of(' ', 2);
                out.name = first == std::string::npos ? "" : text.substr(first);
                break;
            }
            case 'I': {
                std::string bus, vendor, product;
                if (!(s >> bus >> vendor >> product))
                    return fail("I: needs bus, vendor, product");
                char* e1 = nullptr;
                char* e2 = nullptr;
                char* e3 = nullptr;
                out.bus = static_cast<uint32_t>(std::strtoul(bus.c_str(), &e1, 16));
                out.vendor = static_cast<uint32_t>(std::strtoul(vendor.c_str(), &e2, 16));
                out.product = static_cast<uint32_t>(std::strtoul(product.c_str(), &e3, 16));
                if (*e1 != 0 || *e2 != 0 || *e3 != 0)
                    return fail("I: values must be hexadecimal");
                break;
            }
            case 'R':
                if (haveDescriptor)
                    return fail("a second report descriptor");
                if (!ParseCountedBytes(s, out.descriptor, why))
                    return fail("R: " + why);
                if (out.descriptor.empty())
                    return fail("R: empty report descriptor");
                haveDescriptor = true;
                out.descriptorLine = number;
                break;
            case 'E': {
                std::string stamp;
                HidRecordedReport report;
                if (!(s >> stamp) || !ParseTimestamp(stamp, report.micros))
                    return fail("E: bad timestamp (seconds.micros)");
                if (!ParseCountedBytes(s, report.bytes, why))
                    return fail("E: " + why);
                if (report.bytes.empty())
                    return fail("E: empty report");
                if (!haveDescriptor)
                    return fail("E: report before the report descriptor");
                report.line = number;
                out.reports.push_back(std::move(report));
                break;
            }
            default:
                break;
        }
    }
    if (!haveDescriptor) {
        error = "line " + std::to_string(number) + ": no report descriptor (R:)";
        return false;
    }
    return true;
}

}  // namespace qm
