// Options of the headless windowing driver that give it the program's own dialog templates and
// menus (data/ui), for tests of windows the program ships.
#pragma once

#include "platform/gui/driver.h"

namespace sqtest {

gui::testing::Driver::Options ProgramUiOptions();

// Loads the shipped preference definitions and makes the program's templates and menus the
// windowing layer's resources, for tests that open the program's dialogs themselves.
// False (with the reason reported) when either cannot be loaded.
bool UseProgramDefinitionsAndUi();

}  // namespace sqtest
