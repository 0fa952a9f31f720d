// The real platform on Windows: every message is a message box; nothing is
// ever written to a console, which a program of the graphical subsystem does
// not have.

#include <cstdio>

#include "platform/real_system.h"
#include "platform/windows_text.h"

namespace quelvar {
namespace {

void Box(std::string_view text, std::string_view title, UINT icon) {
  // Modal for the whole program, and in front: it has no window of its own.
  ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(title).c_str(),
                MB_OK | icon | MB_TASKMODAL | MB_SETFOREGROUND);
}

// Hands on every message waiting for the program's windows, so that they are
// drawn while the run does not wait in a message loop.
void HandMessagesOn() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// The waiting notice: a small window of the program's own, not modal, with a
// title and no button, that closing does not take away.
class WaitWindow {
 public:
  WaitWindow() = default;
  WaitWindow(const WaitWindow&) = delete;
  WaitWindow& operator=(const WaitWindow&) = delete;
  ~WaitWindow() { Hide(); }

  void Show(std::string_view text) {
    if (window_ == nullptr) Create(Wide(text));
    HandMessagesOn();
  }
  void Hide() {
    if (window_ == nullptr) return;
    ::DestroyWindow(window_);
    window_ = nullptr;
    if (font_ != nullptr) ::DeleteObject(font_);
    font_ = nullptr;
    HandMessagesOn();
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CLOSE) return 0;
    return ::DefWindowProcW(window, message, w, l);
  }

  void Create(const std::wstring& text) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW type{};
    type.cbSize = sizeof(type);
    type.lpfnWndProc = &Procedure;
    type.hInstance = instance;
    type.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));  // IDC_WAIT, in wide form
    type.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    type.lpszClassName = L"QuelvarEspera";
    ::RegisterClassExW(&type);  // fails harmlessly once registered

    // The text in the font of message boxes, wrapped to a fixed width.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
      font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
    }
    RECT area{0, 0, 360, 0};
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ previous =
        ::SelectObject(dc, font_ != nullptr ? font_ : ::GetStockObject(DEFAULT_GUI_FONT));
    ::DrawTextW(dc, text.c_str(), -1, &area, DT_CALCRECT | DT_WORDBREAK);
    ::SelectObject(dc, previous);
    ::ReleaseDC(nullptr, dc);

    const int margin = 18;
    RECT frame{0, 0, area.right + 2 * margin, area.bottom + 2 * margin};
    const DWORD style = WS_POPUP | WS_CAPTION;
    ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_TOPMOST);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    window_ = ::CreateWindowExW(WS_EX_TOPMOST, L"QuelvarEspera", Wide(kAppTitle).c_str(), style,
                                (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                                nullptr, nullptr, instance, nullptr);
    if (window_ == nullptr) return;
    HWND label =
        ::CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, margin,
                          margin, area.right, area.bottom, window_, nullptr, instance, nullptr);
    if (label != nullptr && font_ != nullptr) {
      ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::UpdateWindow(window_);
  }

  HWND window_ = nullptr;
  HFONT font_ = nullptr;
};

class WindowsUi final : public UserInterface {
 public:
  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override {
    Box(text, title,
        icon == Icon::kInformation ? MB_ICONINFORMATION
        : icon == Icon::kCritical  ? MB_ICONERROR
                                   : 0);
  }

  void ShowFailureNotice(const Failure& failure) override {
    Box(NoticeText(failure), kAppTitle, MB_ICONERROR);
  }

  // The wait cursor shows only over a window of the program's own, and the
  // program never shows one: the pointer stays as it is, as on Linux.
  void SetMousePointer(MousePointer) override {}
  void ReportProgress(std::int32_t, std::int32_t) override {}

  void ShowWaitNotice(std::string_view text) override {
    try {
      wait_window_.Show(text);
    } catch (...) {
      // Out of memory for the text: the wait goes on unseen, as before.
    }
  }
  void HideWaitNotice() override { wait_window_.Hide(); }

 private:
  WaitWindow wait_window_;
};

}  // namespace

std::optional<std::string> ExecutablePath(std::size_t capacity) {
  std::wstring path(capacity, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0) throw LastErrorFailure("GetModuleFileNameW");
  if (n >= path.size()) return std::nullopt;
  path.resize(n);
  return Utf8(path);
}

NumberFormat UserNumberFormat() {
  NumberFormat format;
  wchar_t decimal[8] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8) > 1) {
    format.decimal_separator = Utf8(decimal);
  }
  return format;
}

Who CurrentUser() {
  Who who;
  wchar_t name[512] = {};
  DWORD size = 512;
  if (::GetUserNameW(name, &size)) who.user = Utf8(name);
  size = 512;
  if (::GetComputerNameW(name, &size)) who.machine = Utf8(name);
  size = ::GetEnvironmentVariableW(L"USERDOMAIN", name, 512);
  if (size > 0 && size < 512) who.domain = Utf8(name);
  return who;
}

Moment CurrentMoment() {
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  ::GetSystemTime(&utc);
  ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  // The offset, from the two readings of one moment.
  FILETIME u{};
  FILETIME l{};
  ::SystemTimeToFileTime(&utc, &u);
  ::SystemTimeToFileTime(&local, &l);
  const long long diferencia =
      (static_cast<long long>(ULARGE_INTEGER{{l.dwLowDateTime, l.dwHighDateTime}}.QuadPart) -
       static_cast<long long>(ULARGE_INTEGER{{u.dwLowDateTime, u.dwHighDateTime}}.QuadPart)) /
      600000000;  // minutes
  char texto[64];
  Moment moment;
  std::snprintf(texto, sizeof texto, "%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth,
                utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
  moment.utc = texto;
  std::snprintf(texto, sizeof texto, "%04u-%02u-%02u %02u:%02u:%02u %c%02lld:%02lld", local.wYear,
                local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                diferencia < 0 ? '-' : '+', (diferencia < 0 ? -diferencia : diferencia) / 60,
                (diferencia < 0 ? -diferencia : diferencia) % 60);
  moment.local = texto;
  return moment;
}

void SetUpProcess() {
  // Nothing is written to standard streams on Windows; a box never fails
  // for want of them. Every library loaded from here on, by the program or
  // by Windows for it (the themes of a message box among them), comes from
  // the system folder only, never from the program's, where anyone may
  // put a file.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::unique_ptr<UserInterface> NewUserInterface() { return std::make_unique<WindowsUi>(); }

bool WriteToConsole(std::string_view text, bool error) {
  // A program of the graphical subsystem has no console of its own: its
  // standard handles are set only when its output was redirected; otherwise
  // it may borrow the console of whoever started it.
  HANDLE out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    static const HANDLE console = [] {
      if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return INVALID_HANDLE_VALUE;
      return ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }();
    out = console;
  }
  if (out == INVALID_HANDLE_VALUE) return false;
  std::string lines;
  for (char c : text) {
    if (c == '\n') lines.push_back('\r');
    lines.push_back(c);
  }
  DWORD mode = 0;
  DWORD written = 0;
  bool wrote;
  if (::GetConsoleMode(out, &mode)) {
    // The console's own characters, whatever its code page: accents and "¬" right.
    const std::wstring wide = Wide(lines);
    wrote = ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    wrote = ::WriteFile(out, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
            written == lines.size();
  }
  if (!wrote) throw LastErrorFailure(error ? "la salida de errores" : "la salida estándar");
  return true;
}

void TellAboutProgram(std::string_view text, bool error) {
  if (!WriteToConsole(text, error)) Box(text, kAppTitle, error ? MB_ICONERROR : MB_ICONINFORMATION);
}

}  // namespace quelvar
