// The duplicate check: the table asked, or its stand-in, or the filter.
#include "import/existencia.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "import/dispersion.h"
#include "import/tabla.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

constexpr std::string_view kConsulta = "select * from nomencla where codigo = ? and actividad = ?";
constexpr std::string_view kConsultaPares =
    "select * from temp.quelvar_pares where codigo = ? and actividad = ?";

constexpr std::uint64_t kBitsFiltro = std::uint64_t{1} << 24;

// The definition of a column `nombre` that compares as `comparacion` says.
std::string Columna(std::string_view nombre, const ColumnComparison& comparacion) {
  std::string columna = std::string(nombre) + " " + comparacion.affinity + " COLLATE \"";
  for (char c : comparacion.collation) {
    if (c == '"') columna.push_back('"');
    columna.push_back(c);
  }
  return columna + "\"";
}

// The query among the pairs inserted from now on, for a table no index serves.
Statement& Consulta_De_Pares(Database& BaseDatos) {
  BaseDatos.Execute(
      "CREATE TEMP TABLE IF NOT EXISTS quelvar_pares (" +
      Columna("codigo", BaseDatos.DescribeColumn("nomencla", "codigo")) + ", " +
      Columna("actividad", BaseDatos.DescribeColumn("nomencla", "actividad")) +
      ");"
      "CREATE INDEX IF NOT EXISTS temp.quelvar_pares_clave ON quelvar_pares (codigo, actividad);"
      "CREATE TEMP TRIGGER IF NOT EXISTS quelvar_pares_anotar AFTER INSERT ON main.nomencla "
      // A temporary trigger finds temporary tables first; SQLite takes no
      // schema name in a trigger's body.
      "BEGIN INSERT INTO quelvar_pares VALUES (NEW.codigo, NEW.actividad); END;"
      "DELETE FROM temp.quelvar_pares;");
  return BaseDatos.Prepared(kConsultaPares);
}

}  // namespace

Existencia::Existencia(Database& BaseDatos)
    : base_(BaseDatos),
      por_indice_(BaseDatos.IndexServes(kConsulta)),
      consulta_(por_indice_ ? BaseDatos.Prepared(kConsulta) : Consulta_De_Pares(BaseDatos)) {
  if (!por_indice_ || !Compara_Como_Bytes(BaseDatos, "codigo") ||
      !Compara_Como_Bytes(BaseDatos, "actividad")) {
    return;
  }
  Statement& alguna = BaseDatos.Prepared("select 1 from nomencla limit 1");
  ResetOnExit reinicio(alguna);
  if (alguna.Step() == StepResult::kRow) return;
  // Zeroed, each line on one of the cache's; without memory for it, the
  // table answers every pair.
  filtro_.reset(new (std::nothrow) Linea[kBitsFiltro / 512]());
  cambios_ = BaseDatos.TotalChanges();
}

bool Form1::Existe_Registro(std::string_view codigo, std::string_view actividad) {
  return existencia_->Existe(codigo, actividad);
}

bool Existencia::Existe(std::string_view codigo, std::string_view actividad) {
  if (filtro_ && base_.TotalChanges() != cambios_) filtro_.reset();
  if (filtro_ && !Marcado(Dispersion(codigo, actividad))) return false;
  ResetOnExit reinicio(consulta_);
  consulta_.BindText(1, codigo);
  consulta_.BindText(2, actividad);
  return consulta_.Step() == StepResult::kRow;
}

void Existencia::Insertado(std::string_view codigo, std::string_view actividad) {
  if (!filtro_) return;
  Marcar(Dispersion(codigo, actividad));
  ++cambios_;
}

void Existencia::Anticipar(std::string_view codigo, std::string_view actividad) {
  if (filtro_) __builtin_prefetch(&Linea_De(Dispersion(codigo, actividad)));
}

Existencia::Linea& Existencia::Linea_De(std::uint64_t h) {
  return filtro_[h % (kBitsFiltro / 512)];
}

namespace {

// The place of a pair's bit `i` (of four) in its line of the filter.
struct Bit {
  int palabra;
  std::uint64_t mascara;
};
Bit Bit_Del_Par(std::uint64_t h, int i) {
  const std::uint64_t bit = (h >> (16 + 9 * i)) & 511;
  return {static_cast<int>(bit / 64), std::uint64_t{1} << (bit % 64)};
}

}  // namespace

bool Existencia::Marcado(std::uint64_t h) {
  const Linea& linea = Linea_De(h);
  for (int i = 0; i < 4; ++i) {
    const Bit b = Bit_Del_Par(h, i);
    if ((linea.palabras[b.palabra] & b.mascara) == 0) return false;
  }
  return true;
}

void Existencia::Marcar(std::uint64_t h) {
  Linea& linea = Linea_De(h);
  for (int i = 0; i < 4; ++i) {
    const Bit b = Bit_Del_Par(h, i);
    linea.palabras[b.palabra] |= b.mascara;
  }
}

}  // namespace quelvar
