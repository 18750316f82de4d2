#include "support/program_ui.h"

#include <gtest/gtest.h>

#include "engine/prefs/preffiles.h"
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

bool UseProgramDefinitionsAndUi() {
    const int loaded = LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs");
    EXPECT_EQ(loaded, 0) << "the shipped preference definitions";
    auto folder = std::make_shared<gui::XmlResourceFolder>();
    std::string error;
    const bool ui = folder->Load(DataFile("ui"), error);
    EXPECT_TRUE(ui) << error;
    gui::SetResourceProvider(folder);
    return loaded == 0 && ui;
}

}  // namespace sqtest
