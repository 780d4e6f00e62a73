// The calibration program's procedure, without a window: four targets in turn (two that
// calibrate, two that check), a tap at each (the mean raw position while the tip is down),
// the fit, and a check of the prediction; at most three rounds.
#pragma once

#include <cstdint>
#include <optional>

#include "QmHidSrv/CalibrationFit.h"

namespace qm {

// Targets in fractions of the virtual desktop: 10 %/10 % and 90 %/90 % calibrate, 90 %/10 %
// and 10 %/90 % check.
inline constexpr double kTargetFractions[4][2] = {{0.1, 0.1}, {0.9, 0.9}, {0.9, 0.1}, {0.1, 0.9}};
inline constexpr double kCheckTolerance = 0.02;  // of the desktop
inline constexpr int kMaxRounds = 3;

class CalibrationRounds {
public:
    enum class State { Target, Saved, Failed };
    explicit CalibrationRounds(uint32_t rotation) : rotation_(rotation) {}

    // One raw sample: tip down adds to the tap, tip up after samples ends it.
    State OnSample(int32_t x, int32_t y, bool tipDown);

    State state() const { return state_; }
    int Target() const { return target_; }  // 0..3 while State::Target
    int Round() const { return round_; }    // 1..3
    // The check error of the last finished round, in fractions of the desktop.
    double LastError() const { return lastError_; }
    std::optional<Calibration> Result() const { return result_; }
    static ScreenPoint TargetPoint(int target);

private:
    void FinishRound();

    uint32_t rotation_;
    State state_ = State::Target;
    int target_ = 0;
    int round_ = 1;
    double sumX_ = 0, sumY_ = 0;
    uint64_t samples_ = 0;
    RawPoint taps_[4];
    double lastError_ = 0;
    std::optional<Calibration> result_;
};

}  // namespace qm
