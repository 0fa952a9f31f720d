// The rate of a line: its text tested and read in the user's number form,
// and its value written as the insert writes it.
#include "import/alicuota.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/failure.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

bool Es_Digito(char c) { return c >= '0' && c <= '9'; }

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
    if (i < n && Es_Digito(t[i])) {
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
    while (i < n && Es_Digito(t[i])) {
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
    if (Es_Digito(t[k])) {
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

// Nearly every rate is plain digits: their value, when at most 15 of them
// (exact in a double), without the general reading.
bool Solo_Digitos(std::string_view texto, std::uint64_t& valor) {
  if (texto.empty() || texto.size() > 15) return false;
  valor = 0;
  for (char c : texto) {
    if (!Es_Digito(c)) return false;
    valor = valor * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool Form1::Tienecomas(std::string_view cad) { return cad.find('.') != std::string_view::npos; }

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

// A rate whose shortest exact form has at most 15 significant digits is
// the value of its rendering already; only longer ones pay for the
// rendering and reading it back.
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

}  // namespace quelvar
