#include "platform/posix/FileSettingsStore.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {
namespace {

class FileSettingsStoreTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }
    test::TempFolder folder_{"qmhid-settings"};
    const std::string dir_ = folder_.Path();
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

namespace qm {
namespace {

std::string ReadFileText(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return "";
    char text[64] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    return std::string(text, n);
}

// A link planted where the temporary file goes is removed, never written through.
TEST_F(FileSettingsStoreTest, APlantedLinkAtTheTemporaryNameIsNotFollowed) {
    FileSettingsStore store(dir_ + "/state");
    const uint8_t zero = 0;
    ASSERT_TRUE(store.Write("virtual/pen", "Rotation", &zero, 1));
    const std::string victim = dir_ + "/victim";
    FILE* f = std::fopen(victim.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("precious", f);
    std::fclose(f);
    const std::string folder = store.InterfaceDirectory("virtual/pen");
    ASSERT_EQ(symlink(victim.c_str(), (folder + "/Rotation.tmp").c_str()), 0);
    const uint8_t three = 3;
    EXPECT_TRUE(store.Write("virtual/pen", "Rotation", &three, 1));
    EXPECT_EQ(ReadFileText(victim), "precious");
    uint8_t back = 0;
    ASSERT_TRUE(store.Read("virtual/pen", "Rotation", &back, 1));
    EXPECT_EQ(back, 3);
}

struct NotAFile {
    const char* name;
    int (*make)(const char* path, const char* target);
};

// Whatever stands in place of a settings file that is not a regular file counts as absent,
// at once: a FIFO no writer opens, or a link.
const NotAFile kNotAFile[] = {
    {"fifo", [](const char* path, const char*) { return mkfifo(path, 0600); }},
    {"link_to_a_file", [](const char* path, const char* target) { return symlink(target, path); }},
};

class SettingsInPlaceOfAFile : public FileSettingsStoreTest,
                               public testing::WithParamInterface<NotAFile> {};

TEST_P(SettingsInPlaceOfAFile, IsAbsentAndNeverWaitedFor) {
    FileSettingsStore store(dir_ + "/state");
    const uint8_t two = 2;
    ASSERT_TRUE(store.Write("virtual/pen", "Calibrate0", &two, 1));  // makes the folder
    const std::string folder = store.InterfaceDirectory("virtual/pen");
    const std::string target = folder + "/Calibrate0";
    ASSERT_EQ(GetParam().make((folder + "/Rotation").c_str(), target.c_str()), 0);
    uint8_t back = 0;
    const auto start = std::time(nullptr);
    EXPECT_FALSE(store.Read("virtual/pen", "Rotation", &back, 1));
    EXPECT_LE(std::time(nullptr) - start, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsInPlaceOfAFile, testing::ValuesIn(kNotAFile),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(SettingsDefaults, NeverASharedFolder) {
    if (geteuid() == 0)
        GTEST_SKIP() << "as root the folder is /var/lib/qmhidsrv, whatever the environment";
    const char* home = std::getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string savedState = state != nullptr ? state : "";
    unsetenv("XDG_STATE_HOME");
    unsetenv("HOME");
    EXPECT_EQ(FileSettingsStore::DefaultDirectory(), "");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(FileSettingsStore::DefaultDirectory(), "/home/someone/.local/state/qmhidsrv");
    setenv("XDG_STATE_HOME", "/home/someone/st", 1);
    EXPECT_EQ(FileSettingsStore::DefaultDirectory(), "/home/someone/st/qmhidsrv");
    if (home != nullptr)
        setenv("HOME", savedHome.c_str(), 1);
    if (state != nullptr)
        setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace qm
