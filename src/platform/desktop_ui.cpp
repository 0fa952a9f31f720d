#include "platform/desktop_env.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "platform/terminal_env.h"

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

class DesktopEnv final : public TerminalEnv {
 public:
  explicit DesktopEnv(Ventanas ventanas) : ventanas_(ventanas) {}

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override {
    TerminalEnv::ShowMessage(text, icon, title);
    const char* icono = icon == Icon::kInformation ? "dialog-information"
                        : icon == Icon::kCritical  ? "dialog-error"
                                                   : nullptr;
    ventanas_.dialogo(std::string(text).c_str(), icono, std::string(title).c_str());
  }

  void ShowFailureNotice(const Failure& failure) override {
    TerminalEnv::ShowFailureNotice(failure);
    ventanas_.dialogo(NoticeText(failure).c_str(), "dialog-error", std::string(kAppTitle).c_str());
  }

  void ShowWaitNotice(std::string_view text) override {
    TerminalEnv::ShowWaitNotice(text);
    try {
      ventanas_.aviso(std::string(text).c_str());
    } catch (...) {
      // Out of memory for a copy of the text: the terminal line stands.
    }
  }
  void HideWaitNotice() override {
    TerminalEnv::HideWaitNotice();
    ventanas_.cerrar_aviso();
  }

  // The program has no window of its own to show an hourglass over, so the
  // busy pointer stays as the terminal has it.

 private:
  Ventanas ventanas_;
};

}  // namespace

std::unique_ptr<Env> NewDesktopEnv() {
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
  return std::make_unique<DesktopEnv>(ventanas);
}

}  // namespace quelvar
