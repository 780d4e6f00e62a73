// qmhid-uhid: a pen made of a recording, as the kernel's uhid presents it: the descriptor, a
// name and a serial (uniq); then commands on standard input, one a line:
//   play            the recording's reports, 10 ms apart
//   report HEX...   one report (hidraw form)
//   quit            (or the end of input) destroys the device
// Prints "created" once the device exists and "played N" after each play.
//   qmhid-uhid [--name NAME] [--uniq UNIQ] [--descriptor HEX] RECORDING
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <linux/uhid.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "hid/HidRecording.h"

namespace {

bool Send(int fd, const uhid_event& e) {
    return write(fd, &e, sizeof e) == static_cast<ssize_t>(sizeof e);
}

bool Input(int fd, const std::vector<uint8_t>& bytes) {
    uhid_event e{};
    e.type = UHID_INPUT2;
    e.u.input2.size = static_cast<__u16>(std::min<size_t>(bytes.size(), UHID_DATA_MAX));
    std::memcpy(e.u.input2.data, bytes.data(), e.u.input2.size);
    return Send(fd, e);
}

std::vector<uint8_t> Hex(std::istream& in) {
    std::vector<uint8_t> out;
    for (std::string b; in >> b;)
        out.push_back(static_cast<uint8_t>(std::strtoul(b.c_str(), nullptr, 16)));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string name = "QUILLMARK Pen", uniq = "QM-0001", descriptorHex, path;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--name" && i + 1 < argc) {
            name = argv[++i];
        } else if (a == "--uniq" && i + 1 < argc) {
            uniq = argv[++i];
        } else if (a == "--descriptor" && i + 1 < argc) {
            descriptorHex = argv[++i];
        } else {
            path = a;
        }
    }
    std::ifstream file(path);
    qm::HidRecording rec;
    std::string error;
    if (!qm::ParseHidRecording(file, rec, error)) {
        std::fprintf(stderr, "qmhid-uhid: %s: %s\n", path.c_str(), error.c_str());
        return 2;
    }
    if (!descriptorHex.empty()) {
        std::istringstream in(descriptorHex);
        rec.descriptor = Hex(in);
    }
    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "qmhid-uhid: /dev/uhid: %s\n", std::strerror(errno));
        return 1;
    }
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::strncpy(reinterpret_cast<char*>(create.u.create2.name), name.c_str(),
                 sizeof create.u.create2.name - 1);
    std::strncpy(reinterpret_cast<char*>(create.u.create2.uniq), uniq.c_str(),
                 sizeof create.u.create2.uniq - 1);
    create.u.create2.rd_size = static_cast<__u16>(rec.descriptor.size());
    create.u.create2.bus = 3;  // USB
    create.u.create2.vendor = rec.vendor;
    create.u.create2.product = rec.product;
    std::memcpy(create.u.create2.rd_data, rec.descriptor.data(), rec.descriptor.size());
    if (!Send(fd, create)) {
        std::fprintf(stderr, "qmhid-uhid: create: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("created\n");
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "quit")
            break;
        if (command == "play") {
            size_t n = 0;
            for (const qm::HidRecordedReport& r : rec.reports) {
                n += Input(fd, r.bytes) ? 1 : 0;
                usleep(10000);
            }
            std::printf("played %zu\n", n);
        } else if (command == "report") {
            std::printf(Input(fd, Hex(in)) ? "sent\n" : "not sent\n");
        }
        std::fflush(stdout);
    }
    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    Send(fd, destroy);
    close(fd);
    return 0;
}
