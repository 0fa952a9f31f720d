#include "import/historial.h"

#include "import/tabla.h"

namespace quelvar {
namespace {

// Values kept as they were stored: the kept tables' columns have no type.
constexpr std::string_view kEsquema =
    "CREATE TABLE IF NOT EXISTS importaciones ("
    "numero INTEGER PRIMARY KEY, cuando_utc TEXT NOT NULL, cuando_local TEXT NOT NULL, "
    "usuario TEXT NOT NULL, dominio TEXT, equipo TEXT NOT NULL, version TEXT NOT NULL, "
    "archivo TEXT, bytes INTEGER, sha256 TEXT, codificacion TEXT, marca INTEGER, "
    "fin_de_linea TEXT, leidas INTEGER, insertadas INTEGER, no_insertadas INTEGER, "
    "desenlace TEXT NOT NULL, linea_detenida INTEGER, deshace INTEGER, "
    "filas_antes INTEGER NOT NULL, resumen_antes TEXT NOT NULL, filas INTEGER NOT NULL, "
    "resumen TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS tablas_anteriores ("
    "importacion INTEGER NOT NULL, fila INTEGER NOT NULL, codigo, actividad, alicuota);"
    "CREATE INDEX IF NOT EXISTS tablas_anteriores_importacion "
    "ON tablas_anteriores (importacion);";

constexpr std::string_view kSiguiente =
    "SELECT max(coalesce((SELECT max(numero) FROM importaciones), 0), "
    "coalesce((SELECT max(importacion) FROM tablas_anteriores), 0)) + 1";
constexpr std::string_view kGuardar =
    "INSERT INTO tablas_anteriores SELECT ?, rowid, codigo, actividad, alicuota FROM nomencla";
constexpr std::string_view kOlvidar = "DELETE FROM tablas_anteriores WHERE importacion <= ?";
constexpr std::string_view kRestaurar =
    "INSERT INTO nomencla (rowid, codigo, actividad, alicuota) "
    "SELECT fila, codigo, actividad, alicuota FROM tablas_anteriores WHERE importacion = ? "
    "ORDER BY fila";
constexpr std::string_view kAnotar =
    "INSERT INTO importaciones VALUES "
    "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr std::string_view kLeer =
    "SELECT numero, cuando_utc, cuando_local, usuario, dominio, equipo, version, archivo, bytes, "
    "sha256, codificacion, marca, fin_de_linea, leidas, insertadas, no_insertadas, desenlace, "
    "linea_detenida, deshace, filas_antes, resumen_antes, filas, resumen, "
    "numero > (SELECT max(numero) FROM importaciones) - ? AND filas_antes = "
    "(SELECT count(*) FROM tablas_anteriores WHERE importacion = numero) "
    "FROM importaciones ORDER BY numero DESC";
constexpr std::string_view kHayRegistro =
    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'importaciones'";

std::int64_t Numero(Statement& consulta) {
  ResetOnExit reinicio(consulta);
  consulta.Step();
  return consulta.ColumnInteger(0).value_or(0);
}

void Ejecutar(Statement& sentencia) {
  ResetOnExit reinicio(sentencia);
  sentencia.Step();
}

// Whether the table stores a text as it was given, so that the rows the run
// stored are the rows it holds.
bool Guarda_El_Texto(Database& BaseDatos, std::string_view columna) {
  const std::string afinidad = BaseDatos.DescribeColumn("nomencla", columna).affinity;
  return afinidad == "TEXT" || afinidad == "BLOB";
}

std::optional<std::string> Texto(Statement& filas, int columna) {
  const std::optional<std::string_view> texto = filas.ColumnText(columna);
  return texto ? std::optional<std::string>(*texto) : std::nullopt;
}

Entrada Leida(Statement& filas) {
  Entrada e;
  e.numero = filas.ColumnInteger(0).value_or(0);
  e.cuando_utc = Texto(filas, 1).value_or("");
  e.cuando_local = Texto(filas, 2).value_or("");
  e.usuario = Texto(filas, 3).value_or("");
  e.dominio = Texto(filas, 4).value_or("");
  e.equipo = Texto(filas, 5).value_or("");
  e.version = Texto(filas, 6).value_or("");
  e.archivo = Texto(filas, 7);
  e.bytes = filas.ColumnInteger(8);
  e.sha256 = Texto(filas, 9);
  e.codificacion = Texto(filas, 10);
  if (const auto marca = filas.ColumnInteger(11)) e.marca = *marca != 0;
  e.fin_de_linea = Texto(filas, 12);
  e.leidas = filas.ColumnInteger(13);
  e.insertadas = filas.ColumnInteger(14);
  e.no_insertadas = filas.ColumnInteger(15);
  e.desenlace = Texto(filas, 16).value_or("");
  e.linea_detenida = filas.ColumnInteger(17);
  e.deshace = filas.ColumnInteger(18);
  e.filas_antes = filas.ColumnInteger(19).value_or(0);
  e.resumen_antes = Texto(filas, 20).value_or("");
  e.filas = filas.ColumnInteger(21).value_or(0);
  e.resumen = Texto(filas, 22).value_or("");
  e.tabla_anterior_guardada = filas.ColumnInteger(23).value_or(0) != 0;
  return e;
}

}  // namespace

Resumen Resumen_De_La_Tabla(Database& BaseDatos) {
  return Resumen::De(BaseDatos.Prepared("SELECT codigo, actividad, alicuota FROM nomencla"));
}

Historial::Historial(Database& BaseDatos) : base_(BaseDatos) {
  base_.Execute(kEsquema);
  numero_ = Numero(base_.Prepared(kSiguiente));
  antes_ = Resumen_De_La_Tabla(base_);
  // The oldest goes first, so that its pages hold the one kept now.
  Statement& olvidar = base_.Prepared(kOlvidar);
  olvidar.BindInteger(1, numero_ - kTablasGuardadas);
  Ejecutar(olvidar);
  Statement& guardar = base_.Prepared(kGuardar);
  guardar.BindInteger(1, numero_);
  Ejecutar(guardar);
  cambios_ = base_.TotalChanges();
}

void Historial::Insertada(std::string_view codigo, std::string_view actividad, double alicuota) {
  nuevas_.Agregar(codigo, actividad, alicuota);
}

void Historial::Restaurar(std::int64_t numero) {
  Vaciar_Tabla(base_);
  Statement& restaurar = base_.Prepared(kRestaurar);
  restaurar.BindInteger(1, numero);
  Ejecutar(restaurar);
}

void Historial::Anotar(Entrada e) {
  // Rows the run stored are the table's where nothing else changed it (a
  // trigger) and its columns keep text as given; else the table is read.
  const bool solo_las_nuevas =
      base_.TotalChanges() - cambios_ == antes_.filas() + nuevas_.filas() &&
      Guarda_El_Texto(base_, "codigo") && Guarda_El_Texto(base_, "actividad");
  const Resumen despues = solo_las_nuevas ? nuevas_ : Resumen_De_La_Tabla(base_);
  e.numero = numero_;
  e.filas_antes = antes_.filas();
  e.resumen_antes = antes_.Texto();
  e.filas = despues.filas();
  e.resumen = despues.Texto();
  // Each value bound where it lies in `e`, which outlives the statement's
  // step; what is missing stays NULL.
  Statement& anotar = base_.Prepared(kAnotar);
  int i = 0;
  auto texto = [&](const std::string& v) { anotar.BindText(++i, v); };
  auto quizas = [&](const std::optional<std::string>& v) {
    ++i;
    if (v) anotar.BindText(i, *v);
  };
  auto numero = [&](const std::optional<std::int64_t>& v) {
    ++i;
    if (v) anotar.BindInteger(i, *v);
  };
  numero(e.numero);
  texto(e.cuando_utc);
  texto(e.cuando_local);
  texto(e.usuario);
  if (!e.dominio.empty()) anotar.BindText(i + 1, e.dominio);  // Windows' only
  ++i;
  texto(e.equipo);
  texto(e.version);
  quizas(e.archivo);
  numero(e.bytes);
  quizas(e.sha256);
  quizas(e.codificacion);
  numero(e.marca ? std::optional<std::int64_t>(*e.marca) : std::nullopt);
  quizas(e.fin_de_linea);
  numero(e.leidas);
  numero(e.insertadas);
  numero(e.no_insertadas);
  texto(e.desenlace);
  numero(e.linea_detenida);
  numero(e.deshace);
  numero(e.filas_antes);
  texto(e.resumen_antes);
  numero(e.filas);
  texto(e.resumen);
  Ejecutar(anotar);
}

std::vector<Entrada> Historial::Todas(Database& BaseDatos) {
  std::vector<Entrada> entradas;
  Statement& hay = BaseDatos.Prepared(kHayRegistro);
  bool registro;
  {
    ResetOnExit reinicio(hay);
    registro = hay.Step() == StepResult::kRow;
  }
  if (!registro) return entradas;
  Statement& leer = BaseDatos.Prepared(kLeer);
  ResetOnExit reinicio(leer);
  leer.BindInteger(1, kTablasGuardadas);
  while (leer.Step() == StepResult::kRow) entradas.push_back(Leida(leer));
  return entradas;
}

std::optional<Entrada> Historial::Ultima(Database& BaseDatos) {
  std::vector<Entrada> entradas = Todas(BaseDatos);
  if (entradas.empty()) return std::nullopt;
  return entradas.front();
}

}  // namespace quelvar
