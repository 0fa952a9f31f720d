// The real platform, whichever the program was built for.
#pragma once

#include <memory>
#include <string_view>

#include "platform/env.h"

namespace quelvar {

// First thing in the program, so that it runs however it was started. On
// Linux, standard input, output or error that was closed is opened on
// /dev/null (otherwise the next file or the display connection takes its
// number and receives the message lines), and a write to a pipe nobody
// reads, or past the file-size limit, fails like any other write instead of
// killing the program.
void SetUpProcess();

// The platform for a run: on Linux, dialogs when a display can be opened and
// terminal lines otherwise; on Windows, message boxes.
std::unique_ptr<Env> NewSystemEnv();

// Text (UTF-8, lines ending in "\n") for a user who started the program
// from a console or a script: on Linux, standard output (standard error when
// `error`); on Windows, the file or pipe that output was redirected to, else
// the console the program was started from. False where there is neither
// (a Windows program started by a double-click).
bool WriteToConsole(std::string_view text, bool error);

// Tells the user about the program itself (its usage, its version), before
// any run: on the console, else (on Windows) in a message box.
void TellAboutProgram(std::string_view text, bool error);

}  // namespace quelvar
