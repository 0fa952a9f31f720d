// What the user is shown on Linux with a graphical display: every message
// box is a real modal dialog, and the terminal lines are still written.
#pragma once

#include <memory>

#include "platform/user_interface.h"

namespace quelvar {

// The dialogs come from the module "quelvar-dialogos.so" beside the program.
// Nothing when there is no display, no module, or the display cannot be opened.
std::unique_ptr<UserInterface> NewDesktopUi();

}  // namespace quelvar
