// Starts the program: loads Form1, whose load handler is the whole run.
#include <cstring>
#include <new>
#include <string>

#include "platform/system_env.h"
#include "startup/form1.h"

#ifndef QUELVAR_VERSION
#error "QUELVAR_VERSION must be set by the build"
#endif

namespace {

constexpr int kSalidaFalla = 1;
constexpr int kSalidaFallaConTablaNueva = 4;
constexpr int kSalidaUso = 64;

constexpr char kUso[] =
    "Uso: quelvar\n"
    "\n"
    "Vuelve a cargar la tabla de actividades (nomencla) de la base de datos\n"
    "Impuest.mdb con las líneas del archivo Actividades.txt, y escribe en Act.log\n"
    "las líneas rechazadas y los totales. Los tres archivos están en la carpeta\n"
    "del programa. No recibe argumentos.\n"
    "\n"
    "Estado de salida:\n"
    "  0  importación completa\n"
    "  1  un error detuvo el programa; la tabla queda como estaba\n"
    "  2  no es posible conectarse a la base\n"
    "  3  la estructura del archivo es incorrecta; quedan las líneas anteriores\n"
    "  4  la tabla nueva quedó cargada, pero algo falló después: Act.log puede\n"
    "     estar sin los totales\n"
    "  64 se dieron argumentos; no se hizo nada\n"
    "\n"
    "Opciones:\n"
    "  --help     muestra esta ayuda\n"
    "  --version  muestra la versión\n";

// Said after a failure that came once the new table was the database's.
constexpr char kTablaNueva[] =
    ". La tabla nueva ya quedó cargada; Act.log puede estar sin los totales.";

}  // namespace

int main(int argc, char** argv) {
  quelvar::SetUpProcess();
  if (argc > 1) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
      quelvar::TellAboutProgram(kUso, false);
      return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      quelvar::TellAboutProgram(
          "quelvar " QUELVAR_VERSION "\nmotor: " + quelvar::EngineVersion() + "\n", false);
      return 0;
    }
    quelvar::TellAboutProgram(kUso, true);
    return kSalidaUso;
  }

  std::unique_ptr<quelvar::Env> entorno = quelvar::NewSystemEnv();
  quelvar::Form1 form(*entorno);
  quelvar::Failure falla = quelvar::OutOfMemoryFailure();
  try {
    form.Form_Load();
    return static_cast<int>(form.desenlace());
  } catch (const quelvar::Failure& f) {
    falla = f;
  } catch (const std::bad_alloc&) {
  }
  // A failure after the new table was committed must not read as one that
  // left the table as it was.
  if (form.TablaGuardada()) {
    entorno->ShowFailureNotice(
        quelvar::Failure(falla.kind(), falla.number(), falla.description() + kTablaNueva));
    return kSalidaFallaConTablaNueva;
  }
  entorno->ShowFailureNotice(falla);
  return kSalidaFalla;
}
