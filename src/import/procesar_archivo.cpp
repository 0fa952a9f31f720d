// The import run: reloads the activity table from the activity file and
// writes the report of rejected lines.
#include <cstdint>
#include <new>
#include <string>

#include "import/alicuota.h"
#include "import/campos.h"
#include "import/existencia.h"
#include "import/tabla.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

// How a line left its checks: kInsertada for one to be looked up and
// inserted, with its rate.
struct Revision {
  Veredicto veredicto;
  double alicuota = 0;
};

// The checks of one line: the stretch where failures are trapped. Only
// failures leave it, running out of memory among them. A line that cannot
// be read as text fails its conversion before any field is looked at.
Revision Revisar_Linea(Form1& form, Env& entorno, Existencia& existencia, const Line& linea,
                       Campos& campos) {
  try {
    if (linea.invalid_at != Line::kValid) return {Veredicto::kIlegible};
    Separar_Campos(linea.text, campos);
    existencia.Anticipar(campos.codigo, campos.actividad);
    const NumberFormat& formato = entorno.RegionalSettings();
    if (form.Tienecomas(campos.tasa)) return {Veredicto::kTasaConPunto};
    if (!Es_Numerico(campos.tasa, formato)) return {Veredicto::kNoNumerica};
    return {Veredicto::kInsertada, Valor_Alicuota(campos.tasa, formato)};
  } catch (const std::bad_alloc&) {
    throw OutOfMemoryFailure();
  }
}

// What a failure trapped in a line's checks makes of the line.
Veredicto Por_Su_Clase(const Failure& falla) {
  switch (falla.kind()) {
    case FailureKind::kOverflow:
      return Veredicto::kEstructuraIncorrecta;
    case FailureKind::kTypeMismatch:
      return Veredicto::kNoConvertida;
    case FailureKind::kOther:
      break;
  }
  return Veredicto::kFalla;
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
  seguimiento_.Tabla_Anterior(*BaseDatos);
  Vaciar_Tabla(*BaseDatos);
  existencia_ = std::make_unique<Existencia>(*BaseDatos);
  const std::string carpeta = entorno_.AppPath();
  // Whatever encoding the activity file comes in, its lines are read as text,
  // and the report is written in that encoding. It was opened ahead of the
  // base (Abrir_Actividades); a failure to open it is told here.
  if (sin_actividades_) throw *sin_actividades_;
  std::unique_ptr<LineReader> actividades = std::move(actividades_);
  // A new report, to take the old one's place once the table it describes is
  // the base's; with the base's permissions, so whoever may write the base
  // may replace it on the next run.
  std::unique_ptr<LineWriter> informe = entorno_.OpenForOutput(
      JoinPath(carpeta, kArchivoInforme), actividades->format(), JoinPath(carpeta, kArchivoBase));
  informe->WriteLine("Registros erroneos :");

  std::int32_t leidas = 0;  // lines handled, inserted or not
  std::int32_t rechazados = 0;
  bool detenida = false;  // by a line without its three terminators
  Line actual;
  Campos campos;
  std::string motivo;  // why the table refused the line, or its checks failed
  const Linea_Leida leida{actual, *actividades, campos, motivo};
  while (!actividades->AtEnd()) {
    actividades->ReadLine(actual);
    Revision revision;
    try {
      revision = Revisar_Linea(*this, entorno_, *existencia_, actual, campos);
    } catch (const Failure& falla) {
      revision = {Por_Su_Clase(falla)};
      motivo = falla.description();
      if (revision.veredicto == Veredicto::kFalla) {
        informe->Flush();
        entorno_.MsgBox(falla.description(), Icon::kCritical, "Error");
        entorno_.SetMousePointer(MousePointer::kDefault);
      }
    }
    if (revision.veredicto == Veredicto::kEstructuraIncorrecta) {
      // The rows before it stay; it is not counted, and no line after it is read.
      seguimiento_.Linea_Procesada(leidas + 1, revision.veredicto, leida);
      detenida = true;
      break;
    }

    Veredicto veredicto = revision.veredicto;
    if (veredicto == Veredicto::kInsertada) {
      if (Existe_Registro(campos.codigo, campos.actividad)) {
        veredicto = Veredicto::kRepetida;
      } else if (Insertar_Registro(*BaseDatos, campos.codigo, campos.actividad, revision.alicuota,
                                   &motivo)) {
        existencia_->Insertado(campos.codigo, campos.actividad);
      } else {
        veredicto = Veredicto::kRechazadaPorTabla;
      }
    }
    if (veredicto != Veredicto::kInsertada) {
      // A listed line is copied exactly as it was read.
      if (veredicto != Veredicto::kTasaConPunto) actividades->CopyLine(actual, *informe);
      ++rechazados;
    }
    // Counted as the user's tools count, from 1 and in 32 bits: a file with
    // more lines fails, it does not wrap.
    if (leidas == INT32_MAX - 1) throw OverflowFailure();
    ++leidas;
    seguimiento_.Linea_Procesada(leidas, veredicto, leida);
    entorno_.ReportProgress(leidas, rechazados);
  }

  // What the report lists is on disk (synced) before the commit, so a full
  // disk fails while the table can still be left as it was. The report takes
  // the old one's place only once the new table is committed, the old report
  // staying while it describes the table, and before any message: a power cut
  // takes back nothing the user was told. The totals come after the commit,
  // so they never count rows the database lacks; after it only they, the
  // move and the closes can fail.
  informe->Sync();
  seguimiento_.Guardar_Tabla(*BaseDatos, *transaccion_);
  informe->PutInPlace();
  if (detenida) entorno_.MsgBox("Estructura del archivo incorrecta", Icon::kCritical, "Error");
  actividades->Close();
  if (!detenida) {
    informe->WriteLine("");
    informe->WriteLine("Total de registros que no insertados " + Numero(rechazados));
    informe->WriteLine("Total de registros insertados " + Numero(leidas - rechazados));
    informe->WriteLine("Cantidad total de registros: " + Numero(leidas));
  }
  informe->Close();
  entorno_.SetMousePointer(MousePointer::kDefault);
  if (detenida) {
    desenlace_ = Desenlace::kEstructuraIncorrecta;
  } else {
    entorno_.MsgBox("Se generó un archivo Act.log en le directorio del archivo de importación ",
                    Icon::kNone);
  }
}

}  // namespace quelvar
