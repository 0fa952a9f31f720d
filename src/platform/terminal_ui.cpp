// Linux's messages: lines on standard output and error, and the progress line.
#include "platform/terminal_ui.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace quelvar {

TerminalUi::TerminalUi() : progress_on_tty_(::isatty(STDERR_FILENO) == 1) {}

void TerminalUi::ShowMessage(std::string_view text, Icon, std::string_view title) {
  EraseProgress();
  std::string line(title);
  line.append(": ").append(text).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void TerminalUi::ShowFailureNotice(const Failure& failure) {
  EraseProgress();
  const std::string line = NoticeText(failure) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void TerminalUi::SetMousePointer(MousePointer pointer) {
  busy_ = pointer == MousePointer::kHourglass;
  if (!busy_) EraseProgress();
}

void TerminalUi::ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) {
  // Called for every line: the clock is read only every 128 calls.
  if (!busy_ || !progress_on_tty_ || (++calls_ & 127) != 1) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  drawn_ = true;
  std::string line = "Importando actividades: " + std::to_string(lines_read) + " líneas leídas, " +
                     std::to_string(lines_rejected) + " rechazadas";
  // Within the terminal's width, or it wraps and the erasing misses a part.
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;
      if (++characters == size.ws_col) {
        line.resize(i);
        break;
      }
    }
  }
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
}

void TerminalUi::ShowWaitNotice(std::string_view text) {
  if (waiting_) return;
  waiting_ = true;
  EraseProgress();
  std::fprintf(stdout, "%s: %.*s\n", kAppTitle.data(), static_cast<int>(text.size()), text.data());
  std::fflush(stdout);
}

void TerminalUi::HideWaitNotice() { waiting_ = false; }

void TerminalUi::EraseProgress() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace quelvar
