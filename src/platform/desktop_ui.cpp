#include "platform/desktop_ui.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "platform/real_system.h"
#include "platform/terminal_ui.h"

namespace quelvar {
namespace {

using Iniciar = int (*)();
using Dialogo = void (*)(const char* texto, const char* icono, const char* titulo);
using Aviso = void (*)(const char* texto);
using CerrarAviso = void (*)();

// The module's functions.
struct Ventanas {
  Dialogo dialogo;
  Aviso aviso;
  CerrarAviso cerrar_aviso;
};

// The terminal's lines, and a dialog for each.
class DesktopUi final : public UserInterface {
 public:
  explicit DesktopUi(Ventanas ventanas) : ventanas_(ventanas) {}

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override {
    terminal_.ShowMessage(text, icon, title);
    const char* icono = icon == Icon::kInformation ? "dialog-information"
                        : icon == Icon::kCritical  ? "dialog-error"
                                                   : nullptr;
    ventanas_.dialogo(std::string(text).c_str(), icono, std::string(title).c_str());
  }

  void ShowFailureNotice(const Failure& failure) override {
    terminal_.ShowFailureNotice(failure);
    ventanas_.dialogo(NoticeText(failure).c_str(), "dialog-error", std::string(kAppTitle).c_str());
  }

  void ShowWaitNotice(std::string_view text) override {
    terminal_.ShowWaitNotice(text);
    try {
      ventanas_.aviso(std::string(text).c_str());
    } catch (...) {
      // Out of memory for a copy of the text: the terminal line stands.
    }
  }
  void HideWaitNotice() override {
    terminal_.HideWaitNotice();
    ventanas_.cerrar_aviso();
  }

  // The program has no window of its own to show an hourglass over, so the
  // busy pointer stays as the terminal has it.
  void SetMousePointer(MousePointer pointer) override { terminal_.SetMousePointer(pointer); }
  void ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) override {
    terminal_.ReportProgress(lines_read, lines_rejected);
  }

 private:
  TerminalUi terminal_;
  Ventanas ventanas_;
};

}  // namespace

std::unique_ptr<UserInterface> NewDesktopUi() {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    return nullptr;
  }
  std::string module;
  try {
    module = ExecutableFolder() + "/quelvar-dialogos.so";
  } catch (const Failure&) {
    return nullptr;
  }
  // Kept loaded until the program ends: GTK cannot be unloaded safely.
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  auto iniciar = reinterpret_cast<Iniciar>(::dlsym(handle, "quelvar_dialogos_iniciar"));
  Ventanas ventanas{
      reinterpret_cast<Dialogo>(::dlsym(handle, "quelvar_dialogo")),
      reinterpret_cast<Aviso>(::dlsym(handle, "quelvar_aviso")),
      reinterpret_cast<CerrarAviso>(::dlsym(handle, "quelvar_cerrar_aviso")),
  };
  if (iniciar == nullptr || ventanas.dialogo == nullptr || ventanas.aviso == nullptr ||
      ventanas.cerrar_aviso == nullptr || iniciar() == 0) {
    return nullptr;
  }
  return std::make_unique<DesktopUi>(ventanas);
}

}  // namespace quelvar
