// The import run: reloads the activity table from the activity file and
// writes the report of rejected lines.
#include <cstdint>
#include <new>
#include <string>

#include "import/alicuota.h"
#include "import/campos.h"
#include "import/existencia.h"
#include "import/tabla.h"
#include "startup/comprobacion.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

constexpr std::string_view kArchivoActividades = "Actividades.txt";
constexpr std::string_view kArchivoInforme = "Act.log";

// How a line left its checks.
enum class Veredicto {
  kAceptada,      // to be looked up and inserted
  kTasaConPunto,  // counted as not inserted, not listed
  kListada,       // listed and counted: not numeric, or a failure the run goes on after
};

struct Revision {
  Veredicto veredicto = Veredicto::kListada;
  double alicuota = 0;
};

// The checks of one line: the stretch where failures are trapped. Only
// failures leave it, running out of memory among them.
Revision Revisar_Linea(Form1& form, Env& entorno, Existencia& existencia, std::string_view linea,
                       Campos& campos) {
  try {
    Separar_Campos(linea, campos);
    existencia.Anticipar(campos.codigo, campos.actividad);
    const NumberFormat& formato = entorno.RegionalSettings();
    if (form.Tienecomas(campos.tasa)) return {Veredicto::kTasaConPunto};
    if (!Es_Numerico(campos.tasa, formato)) return {Veredicto::kListada};
    return {Veredicto::kAceptada, Valor_Alicuota(campos.tasa, formato)};
  } catch (const std::bad_alloc&) {
    throw OutOfMemoryFailure();
  }
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
  // What the report lists is on disk (synced) before each commit, and what
  // it says before each message: a power cut takes back nothing the user
  // was told.
  Transaction& transaccion = *transaccion_;
  if (comprobacion_ != nullptr) comprobacion_->Tabla_Anterior(*BaseDatos);
  Vaciar_Tabla(*BaseDatos);
  existencia_ = std::make_unique<Existencia>(*BaseDatos);
  const std::string carpeta = entorno_.AppPath();
  // Whatever encoding the activity file comes in, its lines are read as text,
  // and the report is written in that encoding.
  const std::string archivo = comprobacion_ != nullptr && comprobacion_->archivo()
                                  ? *comprobacion_->archivo()
                                  : JoinPath(carpeta, kArchivoActividades);
  std::unique_ptr<LineReader> actividades = entorno_.OpenForInput(archivo, kPosicionTope);
  std::unique_ptr<LineWriter> informe =
      entorno_.OpenForOutput(JoinPath(carpeta, kArchivoInforme), actividades->format());
  informe->WriteLine("Registros erroneos :");

  std::int32_t linea = 1;
  std::int32_t rechazados = 0;
  Line actual;
  Campos campos;
  // A listed line is copied exactly as it was read.
  auto listar = [&] {
    actividades->CopyLine(actual, *informe);
    ++rechazados;
  };
  while (!actividades->AtEnd()) {
    actividades->ReadLine(actual);
    Revision revision;
    try {
      revision = Revisar_Linea(*this, entorno_, *existencia_, actual.text, campos);
    } catch (const Failure& falla) {
      if (falla.kind() == FailureKind::kOverflow) {
        // The rows before the malformed line stay.
        informe->Sync();
        Guardar_Tabla(transaccion);
        entorno_.MsgBox("Estructura del archivo incorrecta", Icon::kCritical, "Error");
        actividades->Close();
        informe->Close();
        entorno_.SetMousePointer(MousePointer::kDefault);
        desenlace_ = Desenlace::kEstructuraIncorrecta;
        return;
      }
      if (falla.kind() == FailureKind::kOther) {
        informe->Flush();
        entorno_.MsgBox(falla.description(), Icon::kCritical, "Error");
        entorno_.SetMousePointer(MousePointer::kDefault);
      }
      revision = {Veredicto::kListada};
    }

    switch (revision.veredicto) {
      case Veredicto::kTasaConPunto:
        ++rechazados;
        break;
      case Veredicto::kListada:
        listar();
        break;
      case Veredicto::kAceptada:
        if (Existe_Registro(campos.codigo, campos.actividad)) {
          listar();
        } else if (Insertar_Registro(*BaseDatos, campos.codigo, campos.actividad,
                                     revision.alicuota)) {
          existencia_->Insertado(campos.codigo, campos.actividad);
        } else {
          listar();
        }
        break;
    }
    // The counter is 32-bit: a file with more lines fails, it does not wrap.
    if (linea == INT32_MAX) throw OverflowFailure();
    ++linea;
    entorno_.ReportProgress(linea - 1, rechazados);
  }
  actividades->Close();
  // Committed before the totals, so they never count rows the database
  // lacks; after the commit only the totals and the close can fail.
  informe->Sync();
  Guardar_Tabla(transaccion);

  informe->WriteLine("");
  informe->WriteLine("Total de registros que no insertados " + Numero(rechazados));
  informe->WriteLine("Total de registros insertados " + Numero(linea - rechazados - 1));
  informe->WriteLine("Cantidad total de registros: " + Numero(linea - 1));
  informe->Close();
  entorno_.SetMousePointer(MousePointer::kDefault);
  entorno_.MsgBox("Se generó un archivo Act.log en le directorio del archivo de importación ",
                  Icon::kNone);
}

void Form1::Guardar_Tabla(Transaction& transaccion) {
  if (comprobacion_ == nullptr) {
    transaccion.Commit();
    return;
  }
  comprobacion_->Tabla_Nueva(*BaseDatos);
  transaccion.Rollback();
}

}  // namespace quelvar
