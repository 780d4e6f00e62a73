#include "shared/ControlClient.h"

namespace qm {

using namespace pipe;

bool ControlClient::Send(const uint8_t* message, uint32_t length) {
    return pipe_.TimedWrite(message, length, timeoutMs_);
}

bool ControlClient::Exchange(uint8_t* message, uint32_t length, uint32_t replyTimeoutMs) {
    return pipe_.TimedWrite(message, length, timeoutMs_) &&
           pipe_.TimedRead(message, length, replyTimeoutMs != 0 ? replyTimeoutMs : timeoutMs_);
}

uint64_t ControlClient::TokenAt(uint16_t index, uint32_t* count) {
    uint64_t token = 0;
    uint32_t listed = 0;
    if (!Enumerate(index, token, listed))
        return 0;
    if (count != nullptr)
        *count = listed;
    return token;
}

bool ControlClient::Enumerate(uint16_t index, uint64_t& token, uint32_t& count) {
    uint8_t m[kEnumerateDevicesSize];
    EncodeEnumerateDevices(m, index);
    if (!Exchange(m, sizeof m))
        return false;
    token = TokenOf(m);
    count = DeviceCountOf(m);
    return true;
}

uint64_t ControlClient::FindByPath(uint64_t token, const char* path) {
    uint8_t m[kFindDeviceByPathSize];
    EncodeFindDeviceByPath(m, token, path);
    return Exchange(m, sizeof m) ? TokenOf(m) : 0;
}

uint64_t ControlClient::LastActive() {
    uint8_t m[kGetLastActiveDeviceSize];
    EncodeGetLastActiveDevice(m);
    return Exchange(m, sizeof m) ? TokenOf(m) : 0;
}

bool ControlClient::GetCalibration(uint64_t token, CalibrationValues& out,
                                   uint32_t replyTimeoutMs) {
    uint8_t m[kGetCalibrationSize];
    EncodeGetCalibration(m, token);
    if (!Exchange(m, sizeof m, replyTimeoutMs))
        return false;
    out = CalibrationOf(m);
    return true;
}

bool ControlClient::SetCalibration(uint64_t token, const CalibrationValues& values) {
    uint8_t m[kSetCalibrationSize];
    EncodeSetCalibration(m, token, values);
    return Send(m, sizeof m);
}

bool ControlClient::SetRawMode(uint64_t token, bool on) {
    uint8_t m[kSetRawModeSize];
    EncodeSetRawMode(m, token, on);
    return Send(m, sizeof m);
}

bool ControlClient::SetRotation(uint64_t token, uint16_t angle) {
    uint8_t m[kSetRotationSize];
    EncodeSetRotation(m, token, angle);
    return Send(m, sizeof m);
}

bool ControlClient::ReadRawReport(RawPenReport& report, uint32_t timeoutMs) {
    uint8_t m[kRawPenReportSize];
    if (!pipe_.TimedRead(m, sizeof m, timeoutMs) || TypeOf(m) != kRawPenReport)
        return false;
    report = RawPenReportOf(m);
    return true;
}

}  // namespace qm
