#include "QmHidCal/CalibrationRounds.h"

#include <algorithm>
#include <cmath>

namespace qm {

ScreenPoint CalibrationRounds::TargetPoint(int target) {
    return {kTargetFractions[target][0] * kAbsoluteMax, kTargetFractions[target][1] * kAbsoluteMax};
}

CalibrationRounds::State CalibrationRounds::OnSample(int32_t x, int32_t y, bool tipDown) {
    if (state_ != State::Target)
        return state_;
    if (tipDown) {
        sumX_ += x;
        sumY_ += y;
        ++samples_;
        return state_;
    }
    if (samples_ == 0)
        return state_;  // hovering: no tap yet
    taps_[target_] = {sumX_ / static_cast<double>(samples_), sumY_ / static_cast<double>(samples_)};
    sumX_ = sumY_ = 0;
    samples_ = 0;
    if (++target_ == 4)
        FinishRound();
    return state_;
}

void CalibrationRounds::FinishRound() {
    const auto fit = FitCalibration(TargetPoint(0), taps_[0], TargetPoint(1), taps_[1], rotation_);
    lastError_ = 1;
    if (fit) {
        lastError_ = 0;
        for (int check = 2; check < 4; ++check) {
            const ScreenPoint p = PredictScreen(*fit, rotation_, taps_[check]);
            const ScreenPoint t = TargetPoint(check);
            lastError_ = std::max({lastError_, std::fabs(p.x - t.x) / kAbsoluteMax,
                                   std::fabs(p.y - t.y) / kAbsoluteMax});
        }
    }
    if (fit && lastError_ <= kCheckTolerance) {
        result_ = fit;
        state_ = State::Saved;
        return;
    }
    if (round_ == kMaxRounds) {
        state_ = State::Failed;
        return;
    }
    ++round_;
    target_ = 0;
}

}  // namespace qm
