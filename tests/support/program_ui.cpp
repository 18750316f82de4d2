#include "support/program_ui.h"

#include <gtest/gtest.h>

#include "platform/gui/resources.h"
#include "support/shipped_data.h"

namespace sqtest {

gui::testing::Driver::Options ProgramUiOptions() {
    auto folder = std::make_shared<gui::XmlResourceFolder>();
    std::string error;
    EXPECT_TRUE(folder->Load(DataFile("ui"), error)) << error;
    gui::testing::Driver::Options o;
    o.resources = folder;
    return o;
}

}  // namespace sqtest
