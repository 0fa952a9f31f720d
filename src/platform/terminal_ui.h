// What the user is shown on Linux without a display: lines on the terminal.
#pragma once

#include <chrono>

#include "platform/user_interface.h"

namespace quelvar {

// Message boxes become lines on standard output ("<title>: <text>") that wait
// for nobody, so the program also runs unattended from scripts; the failure
// notice goes to standard error. While the pointer is the hourglass and
// standard error is a terminal, one live progress line stands there.
class TerminalUi final : public UserInterface {
 public:
  TerminalUi();

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override;
  void ShowFailureNotice(const Failure& failure) override;
  void SetMousePointer(MousePointer pointer) override;
  void ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) override;
  // The notice is a line on standard output, as a message is.
  void ShowWaitNotice(std::string_view text) override;
  void HideWaitNotice() override;

 private:
  void EraseProgress();

  const bool progress_on_tty_;
  bool busy_ = false;
  bool drawn_ = false;
  bool waiting_ = false;
  unsigned calls_ = 0;
  std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace quelvar
