// Power actions: without a reachable login manager every request fails with a reason, in bounded
// time, and never touches the machine; an installed control takes the requests instead.
#include "platform/power/power.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/tempdir.h"

namespace {

TEST(Power, WithoutASystemBusEveryActionFailsWithAReason) {
    sqtest::TempDir dir;
    const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = old ? old : "";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
    auto control = platform::MakeLogindPowerControl();
    for (auto action : {platform::PowerAction::PowerOff, platform::PowerAction::Hibernate, platform::PowerAction::Suspend,
                        platform::PowerAction::Reboot, platform::PowerAction::LogOff}) {
        std::string error;
        EXPECT_FALSE(control->Request(action, &error));
        EXPECT_FALSE(error.empty());
    }
    if (old) setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    else unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST(Power, AnInstalledControlTakesTheRequests) {
    struct Recorder : platform::PowerControl {
        bool Request(platform::PowerAction action, std::string*) override {
            last = action;
            return true;
        }
        platform::PowerAction last = platform::PowerAction::PowerOff;
    } recorder;
    platform::SetPowerControl(&recorder);
    EXPECT_TRUE(platform::GetPowerControl().Request(platform::PowerAction::Suspend, nullptr));
    EXPECT_EQ(recorder.last, platform::PowerAction::Suspend);
    platform::SetPowerControl(nullptr);
    EXPECT_NE(&platform::GetPowerControl(), &recorder);
}

}  // namespace
