// Every platform service the program uses, behind one interface, so that the
// whole run can be driven by a test double without a display or a real disk.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/database.h"
#include "platform/failure.h"
#include "platform/file_system.h"
#include "platform/text_file.h"

namespace quelvar {

// The title of a message box that is given none.
inline constexpr std::string_view kAppTitle = "Quelvar";

enum class Icon { kNone, kInformation, kCritical };
enum class MousePointer { kDefault, kHourglass };

// The parts of the user's regional settings that number parsing needs.
// Grouping separators are never accepted in a number, so only the decimal
// separator matters.
struct NumberFormat {
  std::string decimal_separator = ".";  // UTF-8
};

class Env {
 public:
  virtual ~Env() = default;

  // A modal box with one OK button; returns once the user has pressed it.
  void MsgBox(std::string_view text, Icon icon,
              std::optional<std::string_view> title = std::nullopt) {
    ShowMessage(text, icon, title.value_or(kAppTitle));
  }
  virtual void ShowMessage(std::string_view text, Icon icon, std::string_view title) = 0;

  // What the user sees for a failure that nothing handled; the program then ends.
  virtual void ShowFailureNotice(const Failure& failure) = 0;

  // The application-wide pointer. While it is the hourglass, progress reports
  // may be shown; they are cheap enough to make for every line.
  virtual void SetMousePointer(MousePointer pointer) = 0;
  virtual void ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) = 0;

  // A notice that the run is waiting, and for what: shown without waiting
  // for the user, asking nothing, until HideWaitNotice. Called again and
  // again while the wait lasts, so that a window of its own keeps being
  // drawn; only the first call shows it. Neither may throw.
  virtual void ShowWaitNotice(std::string_view text) = 0;
  virtual void HideWaitNotice() = 0;

  // The folder that holds the running executable, without a trailing separator.
  virtual std::string AppPath() = 0;

  // A text file to read, its lines held up to `held_characters` characters.
  virtual std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                                   std::size_t held_characters) = 0;
  // A new text file to write in `format`, put in the place of whatever
  // `path` names, which is never opened; its permission bits, where the
  // system has them, are those of the file `like`.
  virtual std::unique_ptr<LineWriter> OpenForOutput(const std::string& path,
                                                    const TextFormat& format,
                                                    const std::string& like) = 0;

  // Consulted for every number parsed, as the user's settings may be.
  virtual const NumberFormat& RegionalSettings() = 0;

  // The database engine, created on first use.
  virtual DBEngine& Engine() = 0;
};

}  // namespace quelvar
