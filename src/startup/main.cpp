// Starts the program: loads Form1, whose load handler is the whole run.
#include <chrono>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/real_system.h"
#include "startup/comprobacion.h"
#include "startup/estado.h"
#include "startup/form1.h"
#include "startup/texto_comprobacion.h"
#include "startup/texto_historial.h"

#ifndef QUELVAR_VERSION
#error "QUELVAR_VERSION must be set by the build"
#endif

namespace {

constexpr char kUso[] =
    "Uso: quelvar\n"
    "     quelvar --comprobar [ARCHIVO]\n"
    "     quelvar --deshacer\n"
    "     quelvar --comprobar --deshacer\n"
    "     quelvar --historial [--json]\n"
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
    "Cada cambio de la tabla queda registrado en la base: quién, cuándo, desde\n"
    "qué equipo, con qué archivo y cómo terminó, y la tabla de antes de cada uno\n"
    "de los últimos 10. --historial los muestra, del más nuevo al más viejo\n"
    "(--json, para scripts). --deshacer vuelve a poner la tabla como estaba antes\n"
    "del último cambio, y queda registrado como un cambio más: otro --deshacer lo\n"
    "deshace. Con --comprobar --deshacer muestra qué cambiaría, sin cambiar nada.\n"
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
    "  6  no hay nada que deshacer: ningún cambio registrado, su tabla anterior ya\n"
    "     no se guarda, u otro programa cambió la tabla después; no se cambió nada\n"
    "  64 se usaron mal las opciones; no se hizo nada\n"
    "\n"
    "Opciones:\n"
    "  --comprobar [ARCHIVO]  comprueba sin cambiar nada\n"
    "  --deshacer             vuelve la tabla a como estaba antes del último cambio\n"
    "  --historial [--json]   muestra los cambios registrados\n"
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

// What a run of Form1 does: the import (Form_Load) or the undo.
using Paso = void (quelvar::Form1::*)();

// The run `paso` on `pantalla` and `sistema`, followed by `seguimiento`; its
// exit status. A failure that stops it is shown as the failure notice.
quelvar::Estado Ejecutar(quelvar::UserInterface& pantalla, quelvar::System& sistema,
                         quelvar::Seguimiento& seguimiento, Paso paso) {
  quelvar::Form1 form(pantalla, sistema, seguimiento);
  quelvar::Failure falla = quelvar::OutOfMemoryFailure();
  try {
    (form.*paso)();
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
quelvar::Estado Comprobar(std::optional<std::string> archivo, Paso paso) {
  std::unique_ptr<quelvar::UserInterface> usuario = quelvar::NewUserInterface();
  quelvar::RealSystem real;
  quelvar::Hallazgos hallazgos;
  hallazgos.archivo = archivo.value_or(std::string(quelvar::kArchivoActividades));
  if (paso != &quelvar::Form1::Form_Load) {
    hallazgos.archivo = "deshacer el último cambio";
    hallazgos.tarea = "el deshacer";
  }
  quelvar::Pantalla_Comprobacion pantalla(*usuario, hallazgos);
  quelvar::Sistema_Comprobacion sistema(real, std::move(archivo), hallazgos);
  quelvar::Comprobacion comprobacion(hallazgos, sistema);
  const quelvar::Estado salida = Ejecutar(pantalla, sistema, comprobacion, paso);
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

// The record of changes, on the console (on Windows without one, in a box):
// read in one snapshot, without the write lock.
quelvar::Estado Mostrar_Historial(bool json) {
  quelvar::RealSystem sistema;
  const std::string base = quelvar::JoinPath(sistema.AppPath(), quelvar::kArchivoBase);
  std::vector<quelvar::Entrada> entradas;
  std::optional<bool> igual;
  try {
    sistema.Engine().SetLockWait(std::chrono::seconds(20), nullptr);
    std::unique_ptr<quelvar::Database> db =
        sistema.Engine().OpenDatabase(base, false, true, quelvar::kConexion);
    quelvar::Transaction lectura(*db);
    entradas = quelvar::Historial::Todas(*db);
    if (!entradas.empty()) {
      const quelvar::Resumen tabla = quelvar::Resumen_De_La_Tabla(*db);
      igual = tabla.Texto() == entradas.front().resumen && tabla.filas() == entradas.front().filas;
    }
  } catch (const quelvar::Failure&) {
    TellIgnoringFailure("No es posible conectarse a la base.\n");
    return quelvar::Estado::kSinConexion;
  }
  try {
    quelvar::TellAboutProgram(json ? quelvar::Historial_En_Json(base, entradas, igual)
                                   : quelvar::Historial_En_Texto(base, entradas, igual),
                              false);
  } catch (const quelvar::Failure& falla) {
    TellIgnoringFailure("quelvar: " + quelvar::NoticeText(falla) + "\n");
    return quelvar::Estado::kFalla;
  }
  return quelvar::Estado::kImportacionCompleta;
}

}  // namespace

int main(int argc, char** argv) {
  quelvar::SetUpProcess();
  auto es = [&](int i, const char* opcion) { return std::strcmp(argv[i], opcion) == 0; };
  if (argc > 1) {
    if (argc == 3 && es(1, "--comprobar") && es(2, "--deshacer")) {
      return quelvar::Codigo(Comprobar(std::nullopt, &quelvar::Form1::Deshacer_Ultimo_Cambio));
    }
    if ((argc == 2 || argc == 3) && es(1, "--comprobar")) {
      return quelvar::Codigo(
          Comprobar(argc == 3 ? std::optional<std::string>(argv[2]) : std::nullopt,
                    &quelvar::Form1::Form_Load));
    }
    if (argc == 2 && es(1, "--deshacer")) {
      std::unique_ptr<quelvar::UserInterface> pantalla = quelvar::NewUserInterface();
      quelvar::RealSystem sistema;
      return quelvar::Codigo(Ejecutar(*pantalla, sistema, quelvar::Sin_Seguimiento(),
                                      &quelvar::Form1::Deshacer_Ultimo_Cambio));
    }
    if ((argc == 2 || (argc == 3 && es(2, "--json"))) && es(1, "--historial")) {
      return quelvar::Codigo(Mostrar_Historial(argc == 3));
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
  return quelvar::Codigo(
      Ejecutar(*pantalla, sistema, quelvar::Sin_Seguimiento(), &quelvar::Form1::Form_Load));
}
