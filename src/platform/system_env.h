// The real platform on Linux.
#pragma once

#include <memory>

#include "platform/env.h"

namespace quelvar {

// Message boxes become lines on standard output ("<title>: <text>") that wait
// for nobody, so the program also runs unattended from scripts; the failure
// notice goes to standard error. While the pointer is the hourglass and
// standard error is a terminal, one live progress line stands there.
std::unique_ptr<Env> NewTerminalEnv();

}  // namespace quelvar
