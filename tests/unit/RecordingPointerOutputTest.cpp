#include "platform/virtual/RecordingPointerOutput.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(RecordingPointerOutput, KeepsTheFirstEventsAndCountsAll) {
    RecordingPointerOutput out(2);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(out.Inject({i, i, 0x8000}), 1u);
    EXPECT_EQ(out.Count(), 5u);
    const std::vector<PointerEvent> kept = {{0, 0, 0x8000}, {1, 1, 0x8000}};
    EXPECT_EQ(out.Events(), kept);
}

TEST(RecordingPointerOutput, WaitForCountSeesAnotherThreadsEvents) {
    RecordingPointerOutput out(64);
    Thread t;
    ASSERT_TRUE(t.Start(
        [](void* p) {
            for (int i = 0; i < 50; ++i)
                static_cast<RecordingPointerOutput*>(p)->Inject({i, 0, 1});
        },
        &out));
    EXPECT_TRUE(out.WaitForCount(50, 5000));
    EXPECT_TRUE(t.Join(5000));
    EXPECT_FALSE(out.WaitForCount(51, 20));
    EXPECT_EQ(out.Events().back().dx, 49);
}

}  // namespace
}  // namespace qm
