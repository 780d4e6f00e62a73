#include "QmHidSrv/PointerMapping.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/virtual/RecordingPointerOutput.h"

namespace qm {
namespace {

constexpr uint32_t kIdle = kMouseAbsolute | kMouseVirtualDesk;  // 0xC000
constexpr uint32_t kMoved = kIdle | kMouseMove;                 // 0xC001
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

struct MappingCase {
    const char* name;
    Calibration calibration;
    uint32_t rotation;
    PointerState before;
    int32_t x, y;
    uint8_t buttons;
    bool force;
    PointerEvent expected;
};

// Identity calibration: raw values are already 0..65535.
constexpr Calibration kUnit{0, 0, 65535, 65535};
constexpr Calibration k4096{0, 0, 4096, 4096};

const MappingCase kCases[] = {
    {"example_truncates", k4096, 0, {}, 2048, 1024, 0, false, {32767, 16383, kMoved}},
    {"same_sample_again_is_idle",
     k4096,
     0,
     {32767, 16383, 0},
     2048,
     1024,
     0,
     false,
     {32767, 16383, kIdle}},
    {"first_sample_at_origin_is_idle", kUnit, 0, {}, 0, 0, 0, false, {0, 0, kIdle}},
    {"below_origin_clamps_to_0", {100, 100, 1000, 1000}, 0, {}, 50, 100, 0, false, {0, 0, kIdle}},
    {"beyond_extent_clamps_to_max",
     {100, 100, 1000, 1000},
     0,
     {},
     2000,
     5000,
     0,
     false,
     {65535, 65535, kMoved}},
    {"rotation_0", kUnit, 0, {}, 100, 200, 0, false, {100, 200, kMoved}},
    {"rotation_1_is_90", kUnit, 1, {}, 100, 200, 0, false, {65535 - 200, 100, kMoved}},
    {"rotation_2_is_180", kUnit, 2, {}, 100, 200, 0, false, {65535 - 100, 65535 - 200, kMoved}},
    {"rotation_3_is_270", kUnit, 3, {}, 100, 200, 0, false, {200, 65535 - 100, kMoved}},
    {"rotation_out_of_range_is_0", kUnit, 4, {}, 100, 200, 0, false, {100, 200, kMoved}},
    {"rotation_huge_is_0", kUnit, 0xFFFFFFFFu, {}, 100, 200, 0, false, {100, 200, kMoved}},
    // Origin at the raw maximum with a negative extent reads the axis from the other end.
    {"negative_extent_raw_min", {4096, 4096, -4096, -4096}, 0, {}, 0, 0, 0, false, {0, 0, kIdle}},
    {"negative_extent_raw_max",
     {4096, 4096, -4096, -4096},
     0,
     {},
     4096,
     4096,
     0,
     false,
     {65535, 65535, kMoved}},
    {"negative_extent_inside",
     {4096, 0, -4096, 4096},
     0,
     {},
     1024,
     1024,
     0,
     false,
     {16384, 16383, kMoved}},
    {"negative_extent_beyond_clamps",
     {4096, 0, -4096, 4096},
     0,
     {},
     5000,
     0,
     0,
     false,
     {65535, 0, kMoved}},
    // 50000 × 65535 wraps to a negative 32-bit product, which then clamps to 0; a 15-bit
    // digitizer range never wraps.
    {"product_wraps_at_32_bits",
     {0, 0, 100000, 100000},
     0,
     {1, 1, 0},
     50000,
     50000,
     0,
     false,
     {0, 0, kMoved}},
    {"fifteen_bit_range_does_not_wrap",
     {0, 0, 32767, 32767},
     0,
     {},
     32767,
     16384,
     0,
     false,
     {65535, 32768, kMoved}},
    // The quotient that does not fit (INT32_MIN / -1) and a wrapping difference stay defined.
    {"most_negative_over_minus_one",
     {0, 0, -1, 1},
     0,
     {5, 5, 0},
     kMin,
     0,
     0,
     false,
     {0, 0, kMoved}},
    {"difference_wraps", {-1, 0, 65535, 65535}, 0, {}, kMax, 0, 0, false, {0, 0, kIdle}},
    // An extent of 0 leaves its axis at 0.
    {"zero_x_extent", {0, 0, 0, 4096}, 0, {}, 2048, 2048, 0, false, {0, 32767, kMoved}},
    {"zero_extents", {0, 0, 0, 0}, 0, {7, 7, 0}, 123, 456, 0, false, {0, 0, kMoved}},
    {"zero_extent_rotated", {0, 0, 0, 0}, 1, {}, 123, 456, 0, false, {65535, 0, kMoved}},
    // Buttons: each transition once; unchanged buttons carry no flag.
    {"tip_down", kUnit, 0, {}, 0, 0, 1, false, {0, 0, kIdle | kMouseLeftDown}},
    {"tip_held", kUnit, 0, {0, 0, 1}, 0, 0, 1, false, {0, 0, kIdle}},
    {"tip_up", kUnit, 0, {0, 0, 1}, 0, 0, 0, false, {0, 0, kIdle | kMouseLeftUp}},
    {"barrel_down_tip_held", kUnit, 0, {0, 0, 1}, 0, 0, 3, false, {0, 0, kIdle | kMouseRightDown}},
    {"barrel_up", kUnit, 0, {0, 0, 2}, 0, 0, 0, false, {0, 0, kIdle | kMouseRightUp}},
    {"both_down_together",
     kUnit,
     0,
     {},
     0,
     0,
     3,
     false,
     {0, 0, kIdle | kMouseLeftDown | kMouseRightDown}},
    {"both_up_together",
     kUnit,
     0,
     {0, 0, 3},
     0,
     0,
     0,
     false,
     {0, 0, kIdle | kMouseLeftUp | kMouseRightUp}},
    {"tip_down_barrel_up_together",
     kUnit,
     0,
     {0, 0, 2},
     0,
     0,
     1,
     false,
     {0, 0, kIdle | kMouseLeftDown | kMouseRightUp}},
    {"other_bits_have_no_effect", kUnit, 0, {}, 0, 0, 0xFC, false, {0, 0, kIdle}},
    {"move_and_tip_down", kUnit, 0, {}, 10, 20, 1, false, {10, 20, kMoved | kMouseLeftDown}},
    // A forced sample carries the move and an explicit state of both buttons.
    {"forced_both_up_unchanged",
     kUnit,
     0,
     {0, 0, 0},
     0,
     0,
     0,
     true,
     {0, 0, kMoved | kMouseLeftUp | kMouseRightUp}},
    {"forced_both_down_unchanged",
     kUnit,
     0,
     {0, 0, 3},
     0,
     0,
     3,
     true,
     {0, 0, kMoved | kMouseLeftDown | kMouseRightDown}},
    {"forced_tip_down_barrel_up",
     kUnit,
     0,
     {9, 9, 0},
     9,
     9,
     1,
     true,
     {9, 9, kMoved | kMouseLeftDown | kMouseRightUp}},
};

class MappingTable : public testing::TestWithParam<MappingCase> {};

TEST_P(MappingTable, MapsOneSample) {
    const MappingCase& c = GetParam();
    PointerState state = c.before;
    const PointerEvent event =
        MapSample(c.calibration, c.rotation, state, c.x, c.y, c.buttons, c.force);
    EXPECT_EQ(event.dx, c.expected.dx);
    EXPECT_EQ(event.dy, c.expected.dy);
    EXPECT_EQ(event.flags, c.expected.flags) << std::hex << event.flags;
    // The last buttons are always the sample's; the last position only moves with a move.
    EXPECT_EQ(state.lastButtons, c.buttons);
    if (event.flags & kMouseMove) {
        EXPECT_EQ(state.lastX, event.dx);
        EXPECT_EQ(state.lastY, event.dy);
    } else {
        EXPECT_EQ(state.lastX, c.before.lastX);
        EXPECT_EQ(state.lastY, c.before.lastY);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MappingTable, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A stroke through the output: state carries from sample to sample, one event per sample.
TEST(MapAndEmit, StrokeCarriesStateAndEmitsEverySample) {
    RecordingPointerOutput output(16);
    PointerState state;
    struct Sample {
        int32_t x, y;
        uint8_t buttons;
        bool force;
    };
    const Sample stroke[] = {{1024, 1024, 0, true},
                             {1024, 1024, 0, false},
                             {1024, 1024, 1, false},
                             {2048, 1024, 1, false},
                             {2048, 1024, 0, false}};
    for (const Sample& s : stroke)
        EXPECT_EQ(MapAndEmit(output, k4096, 0, state, s.x, s.y, s.buttons, s.force), 1u);
    const std::vector<PointerEvent> expected = {
        {16383, 16383, kMoved | kMouseLeftUp | kMouseRightUp},
        {16383, 16383, kIdle},
        {16383, 16383, kIdle | kMouseLeftDown},
        {32767, 16383, kMoved},
        {32767, 16383, kIdle | kMouseLeftUp},
    };
    EXPECT_EQ(output.Events(), expected);
}

TEST(NormaliseAxis, ExamplesOfTheArithmetic) {
    EXPECT_EQ(NormaliseAxis(2048, 0, 4096), 32767);
    EXPECT_EQ(NormaliseAxis(-1, 0, 4096), -15);  // truncation toward zero, before clamping
    EXPECT_EQ(NormaliseAxis(0, 4096, -4096), 0);
    EXPECT_EQ(NormaliseAxis(50000, 0, 100000), -10182);
    EXPECT_EQ(NormaliseAxis(5, 0, 0), 0);
}

}  // namespace
}  // namespace qm
