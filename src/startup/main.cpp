// Starts the program: loads Form1, whose load handler is the whole run.
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "platform/real_system.h"
#include "startup/comprobacion.h"
#include "startup/estado.h"
#include "startup/form1.h"
#include "startup/texto_comprobacion.h"

#ifndef QUELVAR_VERSION
#error "QUELVAR_VERSION must be set by the build"
#endif

namespace {

constexpr char kUso[] =
    "Uso: quelvar\n"
    "     quelvar --comprobar [ARCHIVO]\n"
    "\n"
    "Vuelve a cargar la tabla de actividades (nomencla) de la base de datos\n"
    "Impuest.mdb con las líneas del archivo Actividades.txt, y escribe en Act.log\n"
    "las líneas rechazadas y los totales. Los tres archivos están en la carpeta\n"
    "del programa.\n"
    "\n"
    "Con --comprobar hace la misma importación y la deshace al final: no cambia\n"
    "la base ni Act.log. Muestra los mensajes que daría, lo que tendría Act.log,\n"
    "cada línea que no entraría en la tabla y por qué, y qué cambiaría en la\n"
    "tabla: actividades nuevas, quitadas y alícuotas que cambian. ARCHIVO\n"
    "comprueba otro archivo de actividades en lugar de Actividades.txt (relativo\n"
    "a la carpeta actual). El estado de salida es el que daría la importación:\n"
    "un script puede comprobar y cargar solo si es 0.\n"
    "\n"
    "Estado de salida:\n"
    "  0  importación completa\n"
    "  1  un error detuvo el programa; la tabla queda como estaba\n"
    "  2  no es posible conectarse a la base\n"
    "  3  la estructura del archivo es incorrecta; quedan las líneas anteriores\n"
    "  4  la tabla nueva quedó cargada, pero algo falló después: Act.log puede\n"
    "     no haberse reemplazado o estar sin los totales\n"
    "  5  la comprobación no pudo completarse (su espacio temporal, su memoria o\n"
    "     su salida fallaron); no dice nada de la importación\n"
    "  64 se usaron mal las opciones; no se hizo nada\n"
    "\n"
    "Opciones:\n"
    "  --comprobar [ARCHIVO]  comprueba sin cambiar nada\n"
    "  --help                 muestra esta ayuda\n"
    "  --version              muestra la versión\n";

// Said after a failure that came once the new table was the database's.
constexpr char kTablaNueva[] =
    ". La tabla nueva ya quedó cargada; Act.log puede no haberse reemplazado o estar sin los "
    "totales.";

// Tells of a failure as an error, where writing that may fail too.
void TellIgnoringFailure(const std::string& texto) {
  try {
    quelvar::TellAboutProgram(texto, true);
  } catch (const quelvar::Failure&) {
  }
}

// The whole run on `entorno`, followed by `seguimiento`; its exit status. A
// failure that stops it is shown as the failure notice.
quelvar::Estado Ejecutar(quelvar::UserInterface& pantalla, quelvar::System& sistema,
                         quelvar::Seguimiento& seguimiento) {
  quelvar::Form1 form(pantalla, sistema, seguimiento);
  quelvar::Failure falla = quelvar::OutOfMemoryFailure();
  try {
    form.Form_Load();
    return form.Resultado();
  } catch (const quelvar::Failure& f) {
    falla = f;
  } catch (const std::bad_alloc&) {
  }
  // A failure after the new table was committed must not read as one that
  // left the table as it was.
  if (form.Tabla_Guardada()) {
    pantalla.ShowFailureNotice(
        quelvar::Failure(falla.kind(), falla.number(), falla.description() + kTablaNueva));
    return quelvar::Estado::kFallaConTablaNueva;
  }
  pantalla.ShowFailureNotice(falla);
  return quelvar::Estado::kFalla;
}

// A check: what the run would do, told on the console (on Windows without
// one, its essentials in a box); nothing in the folder changes. A failure of
// the check's own is told as such, never as the run's.
quelvar::Estado Comprobar(std::optional<std::string> archivo) {
  std::unique_ptr<quelvar::UserInterface> usuario = quelvar::NewUserInterface();
  quelvar::RealSystem real;
  quelvar::Hallazgos hallazgos;
  hallazgos.archivo = archivo.value_or(std::string(quelvar::kArchivoActividades));
  quelvar::Pantalla_Comprobacion pantalla(*usuario, hallazgos);
  quelvar::Sistema_Comprobacion sistema(real, std::move(archivo), hallazgos);
  quelvar::Comprobacion comprobacion(hallazgos, sistema);
  const quelvar::Estado salida = Ejecutar(pantalla, sistema, comprobacion);
  bool consola = true;
  try {
    if (!hallazgos.propia) comprobacion.Cerrar();
    if (!hallazgos.propia) {
      quelvar::Escribir_Comprobacion(hallazgos, salida,
                                     sistema.RegionalSettings().decimal_separator,
                                     [&](std::string_view texto) {
                                       consola = consola && quelvar::WriteToConsole(texto, false);
                                     });
    }
  } catch (const quelvar::Failure& falla) {
    hallazgos.propia = falla;
  } catch (const std::bad_alloc&) {
    hallazgos.propia = quelvar::OutOfMemoryFailure();
  }
  if (hallazgos.propia) {
    TellIgnoringFailure("quelvar: la comprobación no pudo completarse: " +
                        quelvar::NoticeText(*hallazgos.propia) + "\n");
    return quelvar::Estado::kComprobacionIncompleta;
  }
  if (!consola) {
    quelvar::TellAboutProgram(quelvar::Resumen_Comprobacion(hallazgos, salida),
                              salida != quelvar::Estado::kImportacionCompleta);
  }
  return salida;
}

}  // namespace

int main(int argc, char** argv) {
  quelvar::SetUpProcess();
  if (argc > 1) {
    if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "--comprobar") == 0) {
      return quelvar::Codigo(
          Comprobar(argc == 3 ? std::optional<std::string>(argv[2]) : std::nullopt));
    }
    const bool ayuda = argc == 2 && std::strcmp(argv[1], "--help") == 0;
    const bool version = argc == 2 && std::strcmp(argv[1], "--version") == 0;
    try {
      quelvar::TellAboutProgram(
          version ? "quelvar " QUELVAR_VERSION "\nmotor: " + quelvar::EngineVersion() + "\n" : kUso,
          !ayuda && !version);
    } catch (const quelvar::Failure& falla) {
      TellIgnoringFailure("quelvar: " + quelvar::NoticeText(falla) + "\n");
      return quelvar::Codigo(quelvar::Estado::kFalla);
    }
    return quelvar::Codigo(ayuda || version ? quelvar::Estado::kImportacionCompleta
                                            : quelvar::Estado::kUso);
  }

  std::unique_ptr<quelvar::UserInterface> pantalla = quelvar::NewUserInterface();
  quelvar::RealSystem sistema;
  return quelvar::Codigo(Ejecutar(*pantalla, sistema, quelvar::Sin_Seguimiento()));
}
