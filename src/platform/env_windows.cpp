// The real platform on Windows: every message is a message box; nothing is
// ever written to a console, which a program of the graphical subsystem does
// not have.
#include <optional>

#include "platform/system_env.h"
#include "platform/windows_text.h"

namespace quelvar {
namespace {

void Box(std::string_view text, std::string_view title, UINT icon) {
  // Modal for the whole program, and in front: it has no window of its own.
  ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(title).c_str(),
                MB_OK | icon | MB_TASKMODAL | MB_SETFOREGROUND);
}

class WindowsEnv final : public Env {
 public:
  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override {
    Box(text, title,
        icon == Icon::kInformation ? MB_ICONINFORMATION
        : icon == Icon::kCritical  ? MB_ICONERROR
                                   : 0);
  }

  void ShowFailureNotice(const Failure& failure) override {
    Box("Error " + std::to_string(failure.number()) + ": " + failure.description(), kAppTitle,
        MB_ICONERROR);
  }

  // The wait cursor shows only over a window of the program's own, and the
  // program never shows one: the pointer stays as it is, as on Linux.
  void SetMousePointer(MousePointer) override {}
  void ReportProgress(std::int32_t, std::int32_t) override {}

  std::string AppPath() override {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (n == 0) throw LastErrorFailure("GetModuleFileNameW");
      if (n < path.size()) {
        path.resize(n);
        break;
      }
      path.resize(path.size() * 2);
    }
    return Utf8(path.substr(0, path.find_last_of(L"\\/")));
  }

  std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                           std::size_t held_characters) override {
    return OpenFileForInput(path, held_characters);
  }
  std::unique_ptr<LineWriter> OpenForOutput(const std::string& path,
                                            const TextFormat& format) override {
    return OpenFileForOutput(path, format);
  }

  // The user's decimal separator, read once per run.
  const NumberFormat& RegionalSettings() override {
    if (!number_format_) {
      number_format_.emplace();
      wchar_t decimal[8] = {};
      if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8) > 1) {
        number_format_->decimal_separator = Utf8(decimal);
      }
    }
    return *number_format_;
  }

  DBEngine& Engine() override {
    if (!engine_) engine_ = NewSqlCipherEngine();
    return *engine_;
  }

 private:
  std::optional<NumberFormat> number_format_;
  std::unique_ptr<DBEngine> engine_;
};

}  // namespace

void SetUpProcess() {
  // Nothing is written to standard streams on Windows; a box never fails
  // for want of them. Every library loaded from here on, by the program or
  // by Windows for it (the themes of a message box among them), comes from
  // the system folder only, never from the program's, where anyone may
  // put a file.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::unique_ptr<Env> NewSystemEnv() { return std::make_unique<WindowsEnv>(); }

void TellAboutProgram(std::string_view text, bool error) {
  Box(text, kAppTitle, error ? MB_ICONERROR : MB_ICONINFORMATION);
}

}  // namespace quelvar
