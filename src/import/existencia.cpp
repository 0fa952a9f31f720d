// The duplicate check: the table asked, or its stand-in, or the filter.
#include "import/existencia.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string>

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

// Eight bytes, or four, as a number.
std::uint64_t Cargar8(const char* bytes) {
  std::uint64_t palabra;
  std::memcpy(&palabra, bytes, 8);
  return palabra;
}
std::uint64_t Cargar4(const char* bytes) {
  std::uint32_t palabra;
  std::memcpy(&palabra, bytes, 4);
  return palabra;
}

// One step of the hash: a bijection of the word, so that texts that differ
// in one word never collide.
std::uint64_t Paso(std::uint64_t h, std::uint64_t palabra) {
  h = (h ^ palabra) * 0xBF58476D1CE4E5B9u;
  return h ^ (h >> 29);
}

// The bytes of `texto` folded into `h` a word at a time, the last word read
// whole where it overlaps the one before: no loop over single bytes. With
// its length (in the seed), the words read tell the text.
std::uint64_t Plegar(std::uint64_t h, std::string_view texto) {
  const char* p = texto.data();
  const std::size_t n = texto.size();
  std::uint64_t ultima = 0;
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) h = Paso(h, Cargar8(p + i));
    ultima = Cargar8(p + n - 8);
  } else if (n >= 4) {
    ultima = Cargar4(p) << 32 | Cargar4(p + n - 4);
  } else if (n > 0) {
    ultima = std::uint64_t{static_cast<unsigned char>(p[0])} << 16 |
             std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8 |
             static_cast<unsigned char>(p[n - 1]);
  }
  return Paso(h, ultima);
}

// splitmix64's finaliser: spreads every bit over all 64.
std::uint64_t Mezclar(std::uint64_t h) {
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9u;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBu;
  return h ^ (h >> 31);
}

// The pair's hash, computed inline three times a line. The lengths are
// mixed into the seed first: added as they stand, texts of other lengths
// could cancel them out.
std::uint64_t Dispersion(std::string_view codigo, std::string_view actividad) {
  const std::uint64_t largos = Mezclar(std::uint64_t{codigo.size()} << 32 | actividad.size());
  return Mezclar(Plegar(Plegar(largos, codigo), actividad));
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
