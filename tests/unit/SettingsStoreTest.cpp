#include "platform/posix/FileSettingsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace qm {
namespace {

class FileSettingsStoreTest : public testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qmhid-settings-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string dir_;
};

TEST_F(FileSettingsStoreTest, ValuesRoundTripPerInterfaceIgnoringCase) {
    FileSettingsStore store(dir_ + "/state");
    const uint8_t slot[20] = {1, 0, 0, 0, 1, 2, 3, 4};
    ASSERT_TRUE(store.Write("\\\\?\\HID#VID_1&PID_2#x", "Calibrate0", slot, sizeof slot));
    uint8_t back[20] = {};
    ASSERT_TRUE(store.Read("\\\\?\\hid#vid_1&pid_2#X", "Calibrate0", back, sizeof back));
    EXPECT_EQ(0, std::memcmp(slot, back, sizeof slot));
    EXPECT_FALSE(store.Read("\\\\?\\hid#vid_1&pid_2#Y", "Calibrate0", back, sizeof back));
    EXPECT_FALSE(store.Read("\\\\?\\hid#vid_1&pid_2#x", "Rotation", back, 1));
}

TEST_F(FileSettingsStoreTest, AValueOfAnotherSizeIsAbsent) {
    FileSettingsStore store(dir_);
    const uint8_t sixteen[16] = {};
    ASSERT_TRUE(store.Write("virtual/pen", "Calibrate2", sixteen, sizeof sixteen));
    uint8_t slot[20];
    EXPECT_FALSE(store.Read("virtual/pen", "Calibrate2", slot, sizeof slot));
    uint8_t less[8];
    EXPECT_FALSE(store.Read("virtual/pen", "Calibrate2", less, sizeof less));
}

TEST_F(FileSettingsStoreTest, AFailedWriteKeepsTheValueStoredBefore) {
    FileSettingsStore store(dir_);
    const uint8_t one = 1, three = 3;
    ASSERT_TRUE(store.Write("virtual/pen", "Rotation", &one, 1));
    // The temporary file cannot be made: the write fails before anything is replaced.
    const std::string blocker = store.InterfaceDirectory("virtual/pen") + "/Rotation.tmp";
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    EXPECT_FALSE(store.Write("virtual/pen", "Rotation", &three, 1));
    uint8_t back = 0;
    ASSERT_TRUE(store.Read("virtual/pen", "Rotation", &back, 1));
    EXPECT_EQ(back, 1);
    rmdir(blocker.c_str());
    EXPECT_TRUE(store.Write("virtual/pen", "Rotation", &three, 1));
    ASSERT_TRUE(store.Read("virtual/pen", "Rotation", &back, 1));
    EXPECT_EQ(back, 3);
}

TEST_F(FileSettingsStoreTest, PathsAndNamesCannotEscapeTheFolder) {
    FileSettingsStore store(dir_ + "/state");
    const uint8_t v = 5;
    EXPECT_FALSE(store.Write("virtual/pen", "../../escape", &v, 1));
    EXPECT_FALSE(store.Write("virtual/pen", "", &v, 1));
    ASSERT_TRUE(store.Write("../..", "Rotation", &v, 1));
    const std::string dir = store.InterfaceDirectory("../..");
    EXPECT_EQ(dir.find("/../"), std::string::npos) << dir;
    EXPECT_EQ(dir.rfind(dir_ + "/state/", 0), 0u) << dir;
}

}  // namespace
}  // namespace qm
