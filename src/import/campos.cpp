#include "import/campos.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/failure.h"
#include "platform/text_encoding.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

bool EsDigito(char c) { return c >= '0' && c <= '9'; }

// A number in the user's form, rewritten in the form std::from_chars reads.
// `magnitud` is the power of ten of its leading digit plus one, so that a
// value out of range can be told too large (above 0) from too small.
struct Numero {
  std::string texto;
  bool negativo = false;
  std::int64_t magnitud = 0;
};

bool Leer_Numero(std::string_view t, std::string_view decimal, Numero* numero) {
  std::size_t i = 0;
  const std::size_t n = t.size();
  auto blancos = [&] {
    while (i < n && t[i] == ' ') ++i;
  };
  blancos();
  bool negativo = false;
  if (i < n && (t[i] == '+' || t[i] == '-')) negativo = t[i++] == '-';

  std::size_t digitos = 0;
  std::int64_t magnitud = 0;
  bool significativo = false;
  bool fraccion = false;
  std::size_t inicio = i;
  for (;;) {
    if (i < n && EsDigito(t[i])) {
      ++digitos;
      if (!significativo && t[i] != '0') significativo = true;
      if (!fraccion && significativo) ++magnitud;
      if (fraccion && !significativo) --magnitud;
      ++i;
    } else if (!fraccion && !decimal.empty() && t.substr(i, decimal.size()) == decimal) {
      fraccion = true;
      i += decimal.size();
    } else {
      break;
    }
  }
  if (digitos == 0) return false;
  std::size_t fin_mantisa = i;

  std::size_t inicio_exponente = i;
  std::int64_t exponente = 0;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool exp_negativo = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) exp_negativo = t[i++] == '-';
    std::size_t desde = i;
    while (i < n && EsDigito(t[i])) {
      // Saturates: past a billion only the sign of the exponent matters.
      if (exponente < 1000000000) exponente = exponente * 10 + (t[i] - '0');
      ++i;
    }
    if (i == desde) return false;
    if (exp_negativo) exponente = -exponente;
  }
  std::size_t fin_exponente = i;
  blancos();
  if (i != n) return false;
  if (numero == nullptr) return true;

  numero->negativo = negativo;
  numero->magnitud = significativo ? magnitud + exponente : 0;
  std::string& s = numero->texto;
  s.clear();
  if (negativo) s.push_back('-');
  for (std::size_t k = inicio; k < fin_mantisa;) {
    if (EsDigito(t[k])) {
      s.push_back(t[k++]);
    } else {
      s.push_back('.');
      k += decimal.size();
    }
  }
  if (fin_exponente > inicio_exponente) {
    s.push_back('e');
    s.append(t.substr(inicio_exponente + 1, fin_exponente - inicio_exponente - 1));
  }
  return true;
}

}  // namespace

namespace {

// Where the first terminator at or after `desde` starts, as find() says it:
// its second byte looked for (0xAC is rare in a line; 0xC2 starts every
// character from U+0080 to U+00BF), then the first one checked.
std::size_t Terminador(std::string_view linea, std::size_t desde) {
  static_assert(kTerminador == "\xC2\xAC");
  for (std::size_t k = desde + 1; k < linea.size();) {
    const void* ac = std::memchr(linea.data() + k, '\xAC', linea.size() - k);
    if (ac == nullptr) break;
    k = static_cast<std::size_t>(static_cast<const char*>(ac) - linea.data());
    if (linea[k - 1] == '\xC2') return k - 1;
    ++k;
  }
  return std::string_view::npos;
}

// The scan with positions counted by `contar`, which gives the characters of
// a piece of the line. False when the position overflows.
template <typename Contar>
bool Escanear(std::string_view linea, Campos& campos, Contar contar) {
  std::size_t p = 1;      // counts from 1, and is never reset within the line
  std::size_t desde = 0;  // where position p starts in the line
  for (std::string_view* campo : {&campos.codigo, &campos.actividad, &campos.tasa}) {
    if (desde < linea.size()) {
      const std::size_t fin = Terminador(linea, desde);
      // No terminator left: past the end the scan would read the last
      // character, not a terminator, until the position overflows.
      if (fin == std::string_view::npos) return false;
      *campo = linea.substr(desde, fin - desde);
      p += contar(*campo);  // the terminator's position
      if (p >= kPosicionTope) return false;
      ++p;
      desde = fin + kTerminador.size();
    } else {
      // Past the end the scan sees the last character: a "¬" ends the field
      // at once, at the cost of one position.
      if (!linea.ends_with(kTerminador) || p >= kPosicionTope) return false;
      *campo = {};
      ++p;
    }
  }
  return true;
}

}  // namespace

void Separar_Campos(std::string_view linea, Campos& campos) {
  // Bytes first: never fewer than characters, and counted for free. Only a
  // line that reaches the limit that way is counted again in characters.
  if (Escanear(linea, campos, [](std::string_view campo) { return campo.size(); })) return;
  if (!Escanear(linea, campos, Characters)) throw OverflowFailure();
}

bool Form1::Tienecomas(std::string_view cad) { return cad.find('.') != std::string_view::npos; }

namespace {

// Nearly every rate is plain digits: their value, when at most 15 of them
// (exact in a double), without the general reading.
bool Solo_Digitos(std::string_view texto, std::uint64_t& valor) {
  if (texto.empty() || texto.size() > 15) return false;
  valor = 0;
  for (char c : texto) {
    if (!EsDigito(c)) return false;
    valor = valor * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool Es_Numerico(std::string_view texto, const NumberFormat& formato) {
  std::uint64_t valor = 0;
  return Solo_Digitos(texto, valor) || Leer_Numero(texto, formato.decimal_separator, nullptr);
}

double Valor_Alicuota(std::string_view texto, const NumberFormat& formato) {
  if (std::uint64_t entero = 0; Solo_Digitos(texto, entero)) {
    return static_cast<double>(entero) / 100;
  }
  Numero numero;
  if (!Leer_Numero(texto, formato.decimal_separator, &numero)) throw TypeMismatchFailure();
  double valor = 0;
  const char* inicio = numero.texto.data();
  const char* fin = inicio + numero.texto.size();
  auto [resto, error] = std::from_chars(inicio, fin, valor);
  if (error == std::errc::result_out_of_range) {
    if (numero.magnitud > 0) throw OverflowFailure();
    valor = numero.negativo ? -0.0 : 0.0;  // too small: rounds to zero
  } else if (error != std::errc() || resto != fin) {
    throw TypeMismatchFailure();
  }
  return valor / 100;
}

}  // namespace quelvar
