// The real platform on Linux: messages on the terminal.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/env.h"

namespace quelvar {

// The folder that holds the running executable, links resolved, without a
// trailing separator.
std::string ExecutableFolder();

// Message boxes become lines on standard output ("<title>: <text>") that wait
// for nobody, so the program also runs unattended from scripts; the failure
// notice goes to standard error. While the pointer is the hourglass and
// standard error is a terminal, one live progress line stands there.
class TerminalEnv : public Env {
 public:
  TerminalEnv();

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override;
  void ShowFailureNotice(const Failure& failure) override;
  void SetMousePointer(MousePointer pointer) override;
  void ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) override;
  // The notice is a line on standard output, as a message is.
  void ShowWaitNotice(std::string_view text) override;
  void HideWaitNotice() override;
  std::string AppPath() override;
  std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                           std::size_t held_characters) override;
  std::unique_ptr<LineWriter> OpenForOutput(const std::string& path,
                                            const TextFormat& format) override;
  const NumberFormat& RegionalSettings() override;
  DBEngine& Engine() override;

 private:
  void EraseProgress();

  const bool progress_on_tty_;
  bool busy_ = false;
  bool drawn_ = false;
  bool waiting_ = false;
  unsigned calls_ = 0;
  std::chrono::steady_clock::time_point last_draw_{};
  std::optional<NumberFormat> number_format_;
  std::unique_ptr<DBEngine> engine_;
};

}  // namespace quelvar
