// The platform with a graphical display: every message box is a real modal
// dialog, and the terminal lines are still written.
#pragma once

#include <memory>

#include "platform/env.h"

namespace quelvar {

// Nothing when no display can be opened.
std::unique_ptr<Env> NewDesktopEnv();

}  // namespace quelvar
