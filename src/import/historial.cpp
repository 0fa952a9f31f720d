#include "import/historial.h"

#include <algorithm>

#include "import/tabla.h"

namespace quelvar {
namespace {

constexpr std::string_view kEsquema =
    "CREATE TABLE IF NOT EXISTS importaciones ("
    "numero INTEGER PRIMARY KEY, cuando_utc TEXT NOT NULL, cuando_local TEXT NOT NULL, "
    "usuario TEXT NOT NULL, dominio TEXT, equipo TEXT NOT NULL, version TEXT NOT NULL, "
    "archivo TEXT, bytes INTEGER, sha256 TEXT, codificacion TEXT, marca INTEGER, "
    "fin_de_linea TEXT, leidas INTEGER, insertadas INTEGER, no_insertadas INTEGER, "
    "desenlace TEXT NOT NULL, linea_detenida INTEGER, deshace INTEGER, "
    "filas_antes INTEGER NOT NULL, filas INTEGER NOT NULL, resumen TEXT NOT NULL);";

constexpr std::string_view kUltima = "SELECT max(numero) FROM importaciones";
constexpr std::string_view kPrefijo = "nomencla_anterior_";
constexpr std::string_view kGuardadas =
    "SELECT substr(name, 19) FROM sqlite_master WHERE type = 'table' "
    "AND name GLOB 'nomencla_anterior_[1-9]*' AND substr(name, 19) NOT GLOB '*[^0-9]*'";
constexpr std::string_view kAnotar =
    "INSERT INTO importaciones VALUES "
    "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr std::string_view kLeer =
    "SELECT numero, cuando_utc, cuando_local, usuario, dominio, equipo, version, archivo, bytes, "
    "sha256, codificacion, marca, fin_de_linea, leidas, insertadas, no_insertadas, desenlace, "
    "linea_detenida, deshace, filas_antes, filas, resumen "
    "FROM importaciones ORDER BY numero DESC";
constexpr std::string_view kHayRegistro =
    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'importaciones'";

std::int64_t Numero(Statement& consulta) {
  ResetOnExit reinicio(consulta);
  consulta.Step();
  return consulta.ColumnInteger(0).value_or(0);
}

// The table kept as it was before change `numero`: its rows, in their
// order, with their values as stored.
std::string Tabla_Anterior(std::int64_t numero) {
  return std::string(kPrefijo) + std::to_string(numero);
}

// The changes whose table before is kept, in order.
std::vector<std::int64_t> Guardadas(Database& BaseDatos) {
  std::vector<std::int64_t> numeros;
  Statement& guardadas = BaseDatos.Prepared(kGuardadas);
  ResetOnExit reinicio(guardadas);
  while (guardadas.Step() == StepResult::kRow) {
    const std::string_view cifras = guardadas.ColumnText(0).value_or("");
    if (cifras.size() <= 18) numeros.push_back(std::stoll(std::string(cifras)));
  }
  std::sort(numeros.begin(), numeros.end());
  return numeros;
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
  e.filas = filas.ColumnInteger(20).value_or(0);
  e.resumen = Texto(filas, 21).value_or("");
  return e;
}

}  // namespace

Resumen Resumen_De_La_Tabla(Database& BaseDatos) {
  return Resumen::De(BaseDatos.Prepared("SELECT codigo, actividad, alicuota FROM nomencla"));
}

Entrada Entrada_Nueva(System& sistema) {
  const Who quien = sistema.WhoRuns();
  const Moment cuando = sistema.Now();
  Entrada e;
  e.cuando_utc = cuando.utc;
  e.cuando_local = cuando.local;
  e.usuario = quien.user;
  e.dominio = quien.domain;
  e.equipo = quien.machine;
  e.version = QUELVAR_VERSION;
  return e;
}

Historial::Historial(Database& BaseDatos) : base_(BaseDatos) {
  base_.Execute(kEsquema);
  const std::vector<std::int64_t> guardadas = Guardadas(base_);
  numero_ = std::max(Numero(base_.Prepared(kUltima)), guardadas.empty() ? 0 : guardadas.back()) + 1;
  // A table of its own for each change, so that the oldest goes whole, its
  // rows never deleted one by one. Made with nomencla's columns and filled
  // with all of it, which the engine copies record by record, rowids
  // included, where the columns compare alike (else it numbers them anew, in
  // the same order). The one kept now takes the pages that were free; those
  // of the oldest are freed as they stand (encrypted as ever, and
  // overwritten by the next copy) instead of zeroed: zeroing them would
  // write and journal each page once more.
  const std::string tabla = Tabla_Anterior(numero_);
  base_.Execute("CREATE TABLE " + tabla + " AS SELECT * FROM nomencla WHERE 0");
  const std::int64_t antes = base_.TotalChanges();
  base_.Execute("INSERT INTO " + tabla + " SELECT * FROM nomencla");
  filas_antes_ = base_.TotalChanges() - antes;
  base_.Execute("PRAGMA secure_delete = FAST");
  for (const std::int64_t n : guardadas) {
    if (n <= numero_ - kTablasGuardadas) base_.Execute("DROP TABLE " + Tabla_Anterior(n));
  }
  base_.Execute("PRAGMA secure_delete = ON");
  cambios_ = base_.TotalChanges();
}

void Historial::Insertada(std::string_view codigo, std::string_view actividad, double alicuota) {
  nuevas_.Agregar(codigo, actividad, alicuota);
}

bool Historial::Restaurar(std::int64_t numero, std::int64_t filas) {
  Vaciar_Tabla(base_);
  const std::string tabla = Tabla_Anterior(numero);
  // Every column the copy kept, not only the three the run loads: a table
  // another program gave more columns (a key of its own among them, which
  // then sets the rowid) gets back what they held.
  std::string columnas;
  {
    Statement& nombres = base_.Prepared("SELECT name FROM pragma_table_info('" + tabla + "')");
    ResetOnExit reinicio(nombres);
    while (nombres.Step() == StepResult::kRow) {
      std::string nombre = "\"";
      const std::string_view columna = nombres.ColumnText(0).value_or("");
      for (const char c : columna) {
        nombre += c == '"' ? std::string("\"\"") : std::string(1, c);
      }
      columnas += ", " + nombre + "\"";
    }
  }
  base_.Execute("INSERT INTO nomencla (rowid" + columnas + ") SELECT rowid" + columnas + " FROM " +
                tabla + " ORDER BY rowid");
  const Resumen guardada =
      Resumen::De(base_.Prepared("SELECT codigo, actividad, alicuota FROM " + tabla));
  const Resumen restaurada = Resumen_De_La_Tabla(base_);
  return restaurada.Texto() == guardada.Texto() && restaurada.filas() == guardada.filas() &&
         restaurada.filas() == filas;
}

void Historial::Anotar(Entrada e) {
  // Rows the run stored are the table's where nothing else changed it (a
  // trigger) and its columns keep text as given; else the table is read.
  const bool solo_las_nuevas = base_.TotalChanges() - cambios_ == filas_antes_ + nuevas_.filas() &&
                               Guarda_El_Texto(base_, "codigo") &&
                               Guarda_El_Texto(base_, "actividad");
  const Resumen despues = solo_las_nuevas ? nuevas_ : Resumen_De_La_Tabla(base_);
  e.numero = numero_;
  e.filas_antes = filas_antes_;
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
  numero(e.filas);
  texto(e.resumen);
  ResetOnExit reinicio(anotar);
  anotar.Step();
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
  const std::vector<std::int64_t> guardadas = Guardadas(BaseDatos);
  Statement& leer = BaseDatos.Prepared(kLeer);
  ResetOnExit reinicio(leer);
  while (leer.Step() == StepResult::kRow) {
    entradas.push_back(Leida(leer));
    entradas.back().tabla_anterior_guardada =
        std::binary_search(guardadas.begin(), guardadas.end(), entradas.back().numero);
  }
  return entradas;
}

std::optional<Entrada> Historial::Ultima(Database& BaseDatos) {
  std::vector<Entrada> entradas = Todas(BaseDatos);
  if (entradas.empty()) return std::nullopt;
  return entradas.front();
}

}  // namespace quelvar
