// Where the service keeps its pipe and settings, and where clients look for it: never a
// shared folder, never one that someone else owns or may write to.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/UnixPipe.h"
#include "support/TempFolder.h"

namespace qm {
namespace {

class PrivateFolder : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }
    test::TempFolder folder_{"qmhid-folder"};
    const std::string dir_ = folder_.Path();
};

TEST_F(PrivateFolder, OwnAndClosedIsTaken) {
    std::string why;
    EXPECT_TRUE(IsPrivateFolder(dir_, why)) << why;
}

TEST_F(PrivateFolder, OneAnyoneMayWriteIsRefused) {
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
    std::string why;
    EXPECT_FALSE(IsPrivateFolder(dir_, why));
    EXPECT_NE(why.find("anyone"), std::string::npos) << why;
}

TEST_F(PrivateFolder, ALinkToAFolderIsRefused) {
    const std::string link = dir_ + "/link";
    ASSERT_EQ(symlink(dir_.c_str(), link.c_str()), 0);
    std::string why;
    EXPECT_FALSE(IsPrivateFolder(link, why));
}

TEST_F(PrivateFolder, AMissingFolderSaysWhy) {
    std::string why;
    EXPECT_FALSE(IsPrivateFolder(dir_ + "/none", why));
    EXPECT_NE(why.find(dir_ + "/none"), std::string::npos) << why;
}

TEST(PrivateFolders, AnotherUsersFolderIsRefused) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root owns / itself; the case needs an ordinary user";
    std::string why;
    EXPECT_FALSE(IsPrivateFolder("/", why));
    EXPECT_NE(why.find("another user"), std::string::npos) << why;
}

// The environment of a user without a runtime folder, and with one.
TEST(PipeDefaults, NeverASharedFolder) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = runtime != nullptr ? runtime : "";
    unsetenv("XDG_RUNTIME_DIR");
    struct stat st {};
    const bool systemPipe = lstat("/run/qmhidsrv/pipe", &st) == 0;
    if (geteuid() == 0) {
        EXPECT_EQ(UnixPipeServer::DefaultPath(), "/run/qmhidsrv/pipe");
    } else {
        EXPECT_EQ(UnixPipeServer::DefaultPath(), "");
        // A client with nowhere of its own looks for the system service.
        EXPECT_EQ(UnixPipeClient::DefaultPath(), "/run/qmhidsrv/pipe");
        setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
        EXPECT_EQ(UnixPipeServer::DefaultPath(), "/run/user/4242/qmhidsrv.pipe");
        EXPECT_EQ(UnixPipeClient::DefaultPath(),
                  systemPipe ? "/run/qmhidsrv/pipe" : "/run/user/4242/qmhidsrv.pipe");
    }
    if (runtime != nullptr)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace qm
