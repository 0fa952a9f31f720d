// The import run: reloads the activity table from the activity file and
// writes the report of rejected lines.
#include <cstdint>
#include <new>
#include <string>

#include "import/alicuota.h"
#include "import/campos.h"
#include "import/existencia.h"
#include "import/historial.h"
#include "import/tabla.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

// The checks of one line: the stretch where failures are trapped. Only
// failures leave it, running out of memory among them; `resultado` says
// how the line left it, and for one still kInsertada, to be looked up and
// inserted, its rate is returned. A line that cannot be read as text fails
// its conversion before any field is looked at.
double Revisar_Linea(Form1& form, System& sistema, Existencia& existencia, const Line& linea,
                     Campos& campos, Resultado_Linea& resultado) {
  resultado.veredicto = Veredicto::kInsertada;
  resultado.motivo.clear();
  resultado.por_la_alicuota = false;
  try {
    if (linea.invalid_at != Line::kValid) {
      resultado.veredicto = Veredicto::kIlegible;
      resultado.byte = linea.invalid_at;
      return 0;
    }
    Separar_Campos(linea.text, campos);
    existencia.Anticipar(campos.codigo, campos.actividad);
    const NumberFormat& formato = sistema.RegionalSettings();
    if (form.Tienecomas(campos.tasa)) {
      resultado.veredicto = Veredicto::kTasaConPunto;
    } else if (!Es_Numerico(campos.tasa, formato)) {
      resultado.veredicto = Veredicto::kNoNumerica;
    } else {
      // From here, an overflow is the rate's, beyond a double.
      resultado.por_la_alicuota = true;
      return Valor_Alicuota(campos.tasa, formato);
    }
    return 0;
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

// The record's entry of an import of `actividades`: who, when, the file, the
// totals, how it ended.
Entrada Entrada_De_La_Importacion(System& sistema, const LineReader& actividades,
                                  std::int32_t leidas, std::int32_t rechazados, bool detenida) {
  Entrada e = Entrada_Nueva(sistema);
  e.archivo = std::string(kArchivoActividades);
  e.bytes = static_cast<std::int64_t>(actividades.size());
  e.sha256 = actividades.sha256();
  e.codificacion = std::string(EncodingName(actividades.format().encoding));
  e.marca = actividades.format().byte_order_mark;
  e.fin_de_linea = actividades.format().lf_line_ends ? "LF" : "CR LF";
  e.leidas = leidas;
  e.insertadas = leidas - rechazados;
  e.no_insertadas = rechazados;
  e.desenlace = std::string(detenida ? kDetenida : kCompleta);
  if (detenida) e.linea_detenida = leidas + 1;
  return e;
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
  pantalla_.SetMousePointer(MousePointer::kHourglass);
  seguimiento_.Tabla_Anterior(*BaseDatos);
  // The table as it is, kept for an undo, and the record of this change,
  // written in the same transaction.
  Historial registro(*BaseDatos);
  Vaciar_Tabla(*BaseDatos);
  existencia_ = std::make_unique<Existencia>(*BaseDatos);
  const std::string carpeta = sistema_.AppPath();
  // Whatever encoding the activity file comes in, its lines are read as text,
  // and the report is written in that encoding. It was opened ahead of the
  // base (Abrir_Actividades); a failure to open it is told here.
  if (sin_actividades_) throw *sin_actividades_;
  std::unique_ptr<LineReader> actividades = std::move(actividades_);
  // A new report, to take the old one's place once the table it describes is
  // the base's; with the base's permissions, so whoever may write the base
  // may replace it on the next run.
  std::unique_ptr<LineWriter> informe = sistema_.OpenForOutput(
      JoinPath(carpeta, kArchivoInforme), actividades->format(), JoinPath(carpeta, kArchivoBase));
  informe->WriteLine("Registros erroneos :");

  std::int32_t leidas = 0;  // lines handled, inserted or not
  std::int32_t rechazados = 0;
  bool detenida = false;  // by a line without its three terminators
  Line actual;
  Campos campos;
  Resultado_Linea resultado;
  const Linea_Leida leida{actual, *actividades, campos};
  while (!actividades->AtEnd()) {
    actividades->ReadLine(actual);
    double alicuota = 0;
    try {
      alicuota = Revisar_Linea(*this, sistema_, *existencia_, actual, campos, resultado);
    } catch (const Failure& falla) {
      resultado.veredicto = Por_Su_Clase(falla);
      resultado.motivo = falla.description();
      if (resultado.veredicto == Veredicto::kFalla) {
        pantalla_.MsgBox(falla.description(), Icon::kCritical, "Error");
        pantalla_.SetMousePointer(MousePointer::kDefault);
      }
    }
    if (resultado.veredicto == Veredicto::kEstructuraIncorrecta) {
      // The rows before it stay; it is not counted, and no line after it is read.
      seguimiento_.Linea_Procesada(leidas + 1, resultado, leida);
      detenida = true;
      break;
    }

    if (resultado.veredicto == Veredicto::kInsertada) {
      if (Existe_Registro(campos.codigo, campos.actividad)) {
        resultado.veredicto = Veredicto::kRepetida;
      } else if (Insertar_Registro(*BaseDatos, campos.codigo, campos.actividad, alicuota,
                                   &resultado.motivo, &alicuota)) {
        existencia_->Insertado(campos.codigo, campos.actividad);
        registro.Insertada(campos.codigo, campos.actividad, alicuota);
      } else {
        resultado.veredicto = Veredicto::kRechazadaPorTabla;
      }
    }
    const Regla regla = Regla_De(resultado.veredicto);
    // A listed line is copied exactly as it was read.
    if (regla.listada) actividades->CopyLine(actual, *informe);
    if (regla.contada) ++rechazados;
    // Counted as the user's tools count, from 1 and in 32 bits: a file with
    // more lines fails, it does not wrap.
    if (leidas == INT32_MAX - 1) throw OverflowFailure();
    ++leidas;
    seguimiento_.Linea_Procesada(leidas, resultado, leida);
    pantalla_.ReportProgress(leidas, rechazados);
  }

  registro.Anotar(Entrada_De_La_Importacion(sistema_, *actividades, leidas, rechazados, detenida));
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
  if (detenida) pantalla_.MsgBox("Estructura del archivo incorrecta", Icon::kCritical, "Error");
  actividades->Close();
  if (!detenida) {
    informe->WriteLine("");
    informe->WriteLine("Total de registros que no insertados " + Numero(rechazados));
    informe->WriteLine("Total de registros insertados " + Numero(leidas - rechazados));
    informe->WriteLine("Cantidad total de registros: " + Numero(leidas));
  }
  informe->Close();
  pantalla_.SetMousePointer(MousePointer::kDefault);
  if (detenida) {
    desenlace_ = Estado::kEstructuraIncorrecta;
  } else {
    pantalla_.MsgBox("Se generó un archivo Act.log en le directorio del archivo de importación ",
                     Icon::kNone);
  }
}

}  // namespace quelvar
