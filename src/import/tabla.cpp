#include "import/tabla.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>

#include "startup/form1.h"

namespace quelvar {
namespace {

constexpr std::string_view kVaciar = "DELETE FROM nomencla";
constexpr std::string_view kConsulta = "select * from nomencla where codigo = ? and actividad = ?";
constexpr std::string_view kInsertar =
    "Insert or abort into nomencla (codigo, actividad, alicuota) values  (?, ?, ?)";
constexpr std::string_view kConsultaPares =
    "select * from temp.quelvar_pares where codigo = ? and actividad = ?";

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

// Leaves the statement ready for the next line whatever happens to this one.
class Reinicio {
 public:
  explicit Reinicio(Statement& s) : s_(s) {}
  ~Reinicio() { s_.Reset(); }
  Reinicio(const Reinicio&) = delete;
  Reinicio& operator=(const Reinicio&) = delete;

 private:
  Statement& s_;
};

// The value that the rendering of `alicuota` stands for. A rate whose
// shortest exact form has at most 15 significant digits is that value
// already; only longer ones pay for the rendering and reading it back.
double Valor_Representado(double alicuota) {
  if (alicuota == 0) return 0.0;  // " 0", whatever the sign of the zero
  // Hundredths of an integer below 10^15, as nearly every rate is: its
  // nearest double has at most 15 significant digits.
  const double centesimos = std::nearbyint(alicuota * 100);
  if (std::abs(centesimos) < 1e15 && centesimos / 100 == alicuota) return alicuota;
  char corta[32];
  const char* fin = std::to_chars(corta, corta + sizeof corta, alicuota).ptr;
  int digitos = 0;
  bool significativo = false;
  for (const char* c = corta; c < fin && *c != 'e'; ++c) {
    if (*c >= '1' && *c <= '9') significativo = true;
    if (significativo && *c >= '0' && *c <= '9') ++digitos;
  }
  if (digitos <= 15) return alicuota;
  const std::string texto = Formatear_Alicuota(alicuota);
  double valor = 0;
  std::from_chars(texto.data() + (texto.front() == ' ' ? 1 : 0), texto.data() + texto.size(),
                  valor);
  return valor;
}

}  // namespace

void Vaciar_Tabla(Database& BaseDatos) { BaseDatos.Execute(kVaciar); }

namespace {

constexpr std::uint64_t kBitsFiltro = std::uint64_t{1} << 24;

// Whether the table compares `columna` as bytes, as the filter does.
bool PorBytes(Database& BaseDatos, std::string_view columna) {
  ColumnComparison c = BaseDatos.DescribeColumn("nomencla", columna);
  for (char& letra : c.collation) letra = static_cast<char>(std::toupper(letra));
  return c.affinity == "TEXT" && c.collation == "BINARY";
}

}  // namespace

Existencia::Existencia(Database& BaseDatos)
    : base_(BaseDatos),
      por_indice_(BaseDatos.IndexServes(kConsulta)),
      consulta_(por_indice_ ? BaseDatos.Prepared(kConsulta) : Consulta_De_Pares(BaseDatos)) {
  if (!por_indice_ || !PorBytes(BaseDatos, "codigo") || !PorBytes(BaseDatos, "actividad")) {
    return;
  }
  Statement& alguna = BaseDatos.Prepared("select 1 from nomencla limit 1");
  Reinicio reinicio(alguna);
  if (alguna.Step() == StepResult::kRow) return;
  // Zeroed, each line on one of the cache's; without memory for it, the
  // table answers every pair.
  vistos_.reset(new (std::nothrow) Linea[kBitsFiltro / 512]());
  cambios_ = BaseDatos.TotalChanges();
}

namespace {

// The pair's hash: splitmix64's finaliser spreads every bit over all 64.
std::uint64_t Dispersion(std::string_view codigo, std::string_view actividad) {
  std::uint64_t h = std::hash<std::string_view>{}(codigo) ^
                    std::hash<std::string_view>{}(actividad)*0x9E3779B97F4A7C15u;
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9u;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBu;
  return h ^ (h >> 31);
}

}  // namespace

void Existencia::Anticipar(std::string_view codigo, std::string_view actividad) {
  if (vistos_) __builtin_prefetch(&LineaDe(Dispersion(codigo, actividad)));
}

// The pair's four bits lie in one 64-byte line of the filter: one cache
// miss a line of the file, not four.
Existencia::Linea& Existencia::LineaDe(std::uint64_t h) { return vistos_[h % (kBitsFiltro / 512)]; }

// True when the pair may have been asked about before; else it is noted.
bool Existencia::Filtra(std::uint64_t h) {
  std::uint64_t* linea = LineaDe(h).palabras;
  bool visto = true;
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t bit = (h >> (16 + 9 * i)) & 511;
    std::uint64_t& palabra = linea[bit / 64];
    const std::uint64_t mascara = std::uint64_t{1} << (bit % 64);
    if ((palabra & mascara) == 0) visto = false;
    palabra |= mascara;
  }
  return visto;
}

bool Form1::Existe_Registro(std::string_view codigo, std::string_view actividad) {
  return existencia_->Existe(codigo, actividad);
}

bool Existencia::Existe(std::string_view codigo, std::string_view actividad) {
  if (vistos_) {
    const std::int64_t cambios = base_.TotalChanges();
    const std::int64_t hechos = cambios - cambios_;
    cambios_ = cambios;
    if (hechos != 0 && !(hechos == 1 && ultima_nueva_)) vistos_.reset();
  }
  if (vistos_ && !Filtra(Dispersion(codigo, actividad))) {
    ultima_nueva_ = true;
    return false;
  }
  Reinicio reinicio(consulta_);
  consulta_.BindText(1, codigo);
  consulta_.BindText(2, actividad);
  ultima_nueva_ = consulta_.Step() != StepResult::kRow;
  return !ultima_nueva_;
}

bool Insertar_Registro(Database& BaseDatos, std::string_view codigo, std::string_view actividad,
                       double alicuota) {
  Statement& insertar = BaseDatos.Prepared(kInsertar);
  Reinicio reinicio(insertar);
  insertar.BindText(1, codigo);
  insertar.BindText(2, actividad);
  // The stored rate is the value of its rendering, as when the text itself
  // went into the statement.
  insertar.BindDouble(3, Valor_Representado(alicuota));
  return insertar.Step() == StepResult::kDone && insertar.RowsChanged() > 0;
}

std::string Formatear_Alicuota(double alicuota) {
  if (alicuota == 0) return " 0";
  // d.dddddddddddddde±x: the value rounded to 15 significant digits.
  char buffer[40];
  auto [fin, error] = std::to_chars(buffer, buffer + sizeof buffer, std::abs(alicuota),
                                    std::chars_format::scientific, 14);
  std::string_view cientifica(buffer, static_cast<std::size_t>(fin - buffer));
  std::size_t e = cientifica.find('e');
  int exponente = 0;
  const char* inicio_exponente = buffer + e + 1;
  if (*inicio_exponente == '+') ++inicio_exponente;  // from_chars takes no '+'
  std::from_chars(inicio_exponente, fin, exponente);
  std::string digitos;
  digitos.push_back(cientifica[0]);
  digitos.append(cientifica.substr(2, e - 2));
  while (digitos.size() > 1 && digitos.back() == '0') digitos.pop_back();

  std::string texto(1, alicuota < 0 ? '-' : ' ');
  const int cantidad = static_cast<int>(digitos.size());
  if (exponente >= 15 || exponente < -4) {
    texto.push_back(digitos[0]);
    if (cantidad > 1) texto.append(".").append(digitos, 1);
    texto.append(exponente < 0 ? "E-" : "E+");
    int magnitud = std::abs(exponente);
    if (magnitud < 10) texto.push_back('0');
    texto.append(std::to_string(magnitud));
  } else if (exponente < 0) {
    texto.push_back('.');
    texto.append(static_cast<std::size_t>(-exponente - 1), '0');
    texto.append(digitos);
  } else if (cantidad <= exponente + 1) {
    texto.append(digitos);
    texto.append(static_cast<std::size_t>(exponente + 1 - cantidad), '0');
  } else {
    texto.append(digitos, 0, static_cast<std::size_t>(exponente + 1));
    texto.push_back('.');
    texto.append(digitos, static_cast<std::size_t>(exponente + 1));
  }
  return texto;
}

}  // namespace quelvar
