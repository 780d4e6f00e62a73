// Recordings in the hid-recorder text format: "N:" name, "I:" bus vendor product, "R:" length
// and descriptor bytes, "E:" seconds.micros length and report bytes. Other lines are ignored.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace qm {

struct HidRecordedReport {
    uint64_t micros = 0;         // since the recording started
    std::vector<uint8_t> bytes;  // as hidraw delivered them
    size_t line = 0;
};

struct HidRecording {
    std::string name;
    uint32_t bus = 0;
    uint32_t vendor = 0;
    uint32_t product = 0;
    std::vector<uint8_t> descriptor;
    size_t descriptorLine = 0;
    std::vector<HidRecordedReport> reports;
};

// False with a one-line error naming the line when the text is malformed.
bool ParseHidRecording(std::istream& in, HidRecording& out, std::string& error);

}  // namespace qm
