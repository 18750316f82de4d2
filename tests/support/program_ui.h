// Options of the headless windowing driver that give it the program's own dialog templates and
// menus (data/ui), for tests of windows the program ships.
#pragma once

#include "platform/gui/driver.h"

namespace sqtest {

gui::testing::Driver::Options ProgramUiOptions();

}  // namespace sqtest
