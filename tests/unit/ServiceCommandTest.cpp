#include "QmHidSrv/ServiceCommand.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(ServiceCommand, OnlyTheWholeInstallSwitchInAnyCaseInstalls) {
    struct Case {
        const char* line;
        bool install;
    };
    const Case cases[] = {{"/install", true},    {"-install", true},   {"/INSTALL", true},
                          {"-InStAlL", true},    {"", false},          {nullptr, false},
                          {"/install x", false}, {" /install", false}, {"/instal", false},
                          {"install", false},    {"/installx", false}};
    for (const Case& c : cases)
        EXPECT_EQ(IsInstallCommand(c.line), c.install) << (c.line ? c.line : "(null)");
}

}  // namespace
}  // namespace qm
