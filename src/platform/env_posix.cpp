#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/desktop_env.h"
#include "platform/system_env.h"
#include "platform/terminal_env.h"

namespace quelvar {

std::string ExecutableFolder() {
  std::string path(4096, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) throw FileFailure(errno, "/proc/self/exe");
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      break;
    }
    path.resize(path.size() * 2);
  }
  std::size_t slash = path.rfind('/');
  return slash == 0 ? std::string() : path.substr(0, slash);
}

void SetUpProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // open() takes the lowest free number: this one.
      ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

std::unique_ptr<Env> NewSystemEnv() {
  std::unique_ptr<Env> env = NewDesktopEnv();
  if (!env) env = std::make_unique<TerminalEnv>();
  return env;
}

bool WriteToConsole(std::string_view text, bool error) {
  std::FILE* out = error ? stderr : stdout;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return true;
}

void TellAboutProgram(std::string_view text, bool error) { WriteToConsole(text, error); }

namespace {

NumberFormat UserNumberFormat() {
  NumberFormat format;
  // A locale object of its own leaves the process locale, and so every other
  // conversion in the program, untouched.
  locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return format;
  // Lines are compared as UTF-8 text. A separator in another code set that is
  // no ASCII character is not taken: no line could be read as holding it.
  const char* decimal = ::nl_langinfo_l(RADIXCHAR, user);
  Utf8Check valid;
  if (decimal != nullptr) valid.Feed(decimal);
  if (decimal != nullptr && *decimal != '\0' && valid.Valid()) format.decimal_separator = decimal;
  ::freelocale(user);
  return format;
}

}  // namespace

TerminalEnv::TerminalEnv() : progress_on_tty_(::isatty(STDERR_FILENO) == 1) {}

void TerminalEnv::ShowMessage(std::string_view text, Icon, std::string_view title) {
  EraseProgress();
  std::string line(title);
  line.append(": ").append(text).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void TerminalEnv::ShowFailureNotice(const Failure& failure) {
  EraseProgress();
  std::fprintf(stderr, "Error %d: %s\n", failure.number(), failure.what());
  std::fflush(stderr);
}

void TerminalEnv::SetMousePointer(MousePointer pointer) {
  busy_ = pointer == MousePointer::kHourglass;
  if (!busy_) EraseProgress();
}

void TerminalEnv::ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) {
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

void TerminalEnv::ShowWaitNotice(std::string_view text) {
  if (waiting_) return;
  waiting_ = true;
  EraseProgress();
  std::fprintf(stdout, "%s: %.*s\n", kAppTitle.data(), static_cast<int>(text.size()), text.data());
  std::fflush(stdout);
}

void TerminalEnv::HideWaitNotice() { waiting_ = false; }

void TerminalEnv::EraseProgress() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

std::string TerminalEnv::AppPath() { return ExecutableFolder(); }

std::unique_ptr<LineReader> TerminalEnv::OpenForInput(const std::string& path,
                                                      std::size_t held_characters) {
  return OpenFileForInput(path, held_characters);
}

std::unique_ptr<LineWriter> TerminalEnv::OpenForOutput(const std::string& path,
                                                       const TextFormat& format) {
  return OpenFileForOutput(path, format);
}

const NumberFormat& TerminalEnv::RegionalSettings() {
  if (!number_format_) number_format_ = UserNumberFormat();
  return *number_format_;
}

DBEngine& TerminalEnv::Engine() {
  if (!engine_) engine_ = NewSqlCipherEngine();
  return *engine_;
}

}  // namespace quelvar
