// The real platform, whichever the program was built for: the system's
// services, written once, with what each system's own file supplies
// (env_posix.cpp, env_windows.cpp); and the user interface each system makes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "platform/user_interface.h"

namespace quelvar {

// The system itself: the application folder, text files on disk, the
// user's number format read once per run, the engine made on first use.
class RealSystem final : public System {
 public:
  std::string AppPath() override;
  std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                           std::size_t held_characters) override;
  std::unique_ptr<LineWriter> OpenForOutput(const std::string& path, const TextFormat& format,
                                            const std::string& like) override;
  std::unique_ptr<Scratch> NewScratch() override;
  const NumberFormat& RegionalSettings() override;
  DBEngine& Engine() override;
  Who WhoRuns() override;
  Moment Now() override;

 private:
  std::optional<NumberFormat> number_format_;
  std::unique_ptr<DBEngine> engine_;
};

// The folder that holds the running executable, links resolved, without a
// trailing separator.
std::string ExecutableFolder();

// Each system's own, in its file:
// the running executable's path, or nothing when it is longer than
// `capacity` characters;
std::optional<std::string> ExecutablePath(std::size_t capacity);
// the user's decimal separator, from the system's regional settings;
NumberFormat UserNumberFormat();
// who runs the program, and where;
Who CurrentUser();
// the moment now, in UTC and on the user's clock.
Moment CurrentMoment();

// First thing in the program, so that it runs however it was started. On
// Linux, standard input, output or error that was closed is opened on
// /dev/null (otherwise the next file or the display connection takes its
// number and receives the message lines), and a write to a pipe nobody
// reads, or past the file-size limit, fails like any other write instead of
// killing the program.
void SetUpProcess();

// What the user is shown: on Linux, dialogs when a display can be opened
// and terminal lines otherwise; on Windows, message boxes.
std::unique_ptr<UserInterface> NewUserInterface();

// Text (UTF-8, lines ending in "\n") for a user who started the program
// from a console or a script: on Linux, standard output (standard error when
// `error`); on Windows, the file or pipe that output was redirected to, else
// the console the program was started from. False where there is neither
// (a Windows program started by a double-click); a write that fails (a full
// disk, a pipe nobody reads) is thrown.
bool WriteToConsole(std::string_view text, bool error);

// Tells the user about the program itself (its usage, its version), before
// any run: on the console, else (on Windows) in a message box. A write that
// fails is thrown.
void TellAboutProgram(std::string_view text, bool error);

}  // namespace quelvar
