// What Linux adds to the shared platform: the executable's path, the user's
// locale, the process's standard streams, and a user interface with a
// display or without.
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/desktop_ui.h"
#include "platform/real_system.h"
#include "platform/terminal_ui.h"

namespace quelvar {

std::optional<std::string> ExecutablePath(std::size_t capacity) {
  std::string path(capacity, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n < 0) throw FileFailure(errno, "/proc/self/exe");
  if (static_cast<std::size_t>(n) >= path.size()) return std::nullopt;
  path.resize(static_cast<std::size_t>(n));
  return path;
}

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

Who CurrentUser() {
  Who who;
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    who.user = found->pw_name;
  } else {
    who.user = std::to_string(::geteuid());
  }
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) who.machine = host;
  return who;
}

Moment CurrentMoment() {
  const std::time_t now = std::time(nullptr);
  struct tm utc {};
  struct tm local {};
  ::gmtime_r(&now, &utc);
  ::localtime_r(&now, &local);
  char texto[64];
  Moment moment;
  std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", &utc);
  moment.utc = texto;
  std::strftime(texto, sizeof texto, "%Y-%m-%d %H:%M:%S", &local);
  const long offset = local.tm_gmtoff / 60;
  char zona[48];
  std::snprintf(zona, sizeof zona, " %c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                std::labs(offset) % 60);
  moment.local = std::string(texto) + zona;
  return moment;
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

std::unique_ptr<UserInterface> NewUserInterface() {
  std::unique_ptr<UserInterface> ui = NewDesktopUi();
  if (!ui) ui = std::make_unique<TerminalUi>();
  return ui;
}

bool WriteToConsole(std::string_view text, bool error) {
  std::FILE* out = error ? stderr : stdout;
  if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
    const int cause = errno;
    std::clearerr(out);
    throw FileFailure(cause, error ? "la salida de errores" : "la salida estándar");
  }
  return true;
}

void TellAboutProgram(std::string_view text, bool error) { WriteToConsole(text, error); }

}  // namespace quelvar
