// The import run: reloads the activity table from the activity file and
// writes the report of rejected lines.
#include <cstdint>
#include <new>
#include <string>

#include "import/campos.h"
#include "import/cp1252.h"
#include "import/tabla.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

constexpr std::string_view kArchivoActividades = "Actividades.txt";
constexpr std::string_view kArchivoInforme = "Act.log";

enum class Veredicto { kAceptada, kTasaConPunto, kNoNumerica };

std::string Ruta(const std::string& carpeta, std::string_view nombre) {
  std::string ruta = carpeta;
  ruta.push_back(Env::kPathSeparator);
  ruta.append(nombre);
  return ruta;
}

// A number as the report writes it: a blank or "-", the digits, a blank.
std::string Numero(std::int32_t n) {
  std::string digitos = std::to_string(n);
  if (n >= 0) digitos.insert(digitos.begin(), ' ');
  digitos.push_back(' ');
  return digitos;
}

}  // namespace

void Form1::Procesar_Archivo() {
  entorno_.SetMousePointer(MousePointer::kHourglass);
  // One transaction for the whole run: a failure that ends the program rolls
  // back, and other users see the old rows until the new ones are complete.
  Transaction transaccion(*BaseDatos);
  Vaciar_Tabla(*BaseDatos);
  const std::string carpeta = entorno_.AppPath();
  std::unique_ptr<LineReader> actividades =
      entorno_.OpenForInput(Ruta(carpeta, kArchivoActividades));
  std::unique_ptr<LineWriter> informe = entorno_.OpenForOutput(Ruta(carpeta, kArchivoInforme));
  informe->WriteLine("Registros erroneos :");

  std::int32_t linea = 1;
  std::int32_t rechazados = 0;
  std::string actual;
  std::string codigo;
  std::string actividad;
  Campos campos;
  while (!actividades->AtEnd()) {
    actividades->ReadLine(actual);
    Veredicto veredicto = Veredicto::kAceptada;
    double alicuota = 0;
    bool listar = false;
    try {
      try {
        Separar_Campos(actual, campos);
        const NumberFormat& formato = entorno_.RegionalSettings();
        if (Tienecomas(campos.tasa)) {
          veredicto = Veredicto::kTasaConPunto;
        } else if (!Es_Numerico(campos.tasa, formato)) {
          veredicto = Veredicto::kNoNumerica;
        } else {
          alicuota = Valor_Alicuota(campos.tasa, formato);
        }
      } catch (const std::bad_alloc&) {
        throw OutOfMemoryFailure();
      }
    } catch (const Failure& falla) {
      switch (falla.kind()) {
        case FailureKind::kOverflow:
          // The rows before the malformed line stay.
          transaccion.Commit();
          entorno_.MsgBox("Estructura del archivo incorrecta", Icon::kCritical, "Error");
          actividades->Close();
          informe->Close();
          entorno_.SetMousePointer(MousePointer::kDefault);
          desenlace_ = Desenlace::kEstructuraIncorrecta;
          return;
        case FailureKind::kTypeMismatch:
          break;
        case FailureKind::kOther:
          entorno_.MsgBox(falla.description(), Icon::kCritical, "Error");
          entorno_.SetMousePointer(MousePointer::kDefault);
          break;
      }
      listar = true;
    }

    if (veredicto == Veredicto::kTasaConPunto) {
      ++rechazados;
    } else if (veredicto == Veredicto::kNoNumerica) {
      listar = true;
    } else if (!listar) {
      A_Utf8(campos.codigo, codigo);
      A_Utf8(campos.actividad, actividad);
      listar = Existe_Registro(codigo, actividad) ||
               !Insertar_Registro(*BaseDatos, codigo, actividad, alicuota);
    }
    if (listar) {
      informe->WriteLine(actual);
      ++rechazados;
    }
    // The counter is 32-bit: a file with more lines fails, it does not wrap.
    if (linea == INT32_MAX) throw OverflowFailure();
    ++linea;
    entorno_.ReportProgress(linea - 1, rechazados);
  }
  actividades->Close();
  // Committed before the totals, so they never count rows the database lacks.
  transaccion.Commit();

  informe->WriteLine("");
  informe->WriteLine("Total de registros que no insertados " + Numero(rechazados));
  informe->WriteLine("Total de registros insertados " + Numero(linea - rechazados - 1));
  informe->WriteLine("Cantidad total de registros: " + Numero(linea - 1));
  informe->Close();
  entorno_.SetMousePointer(MousePointer::kDefault);
  entorno_.MsgBox("Se generó un archivo Act.log en le directorio del archivo de importación ",
                  Icon::kNone);
}

}  // namespace quelvar
